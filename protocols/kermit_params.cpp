#include "protocols/kermit_params.h"

#include <algorithm>

#include "protocols/kermit_defs.h"

namespace zelvo::protocols {

using namespace kermit;

KermitParams KermitParams::ours(const EngineSettings& s)
{
    KermitParams p;
    const bool longOn = s.KermitMaxLen > kMaxNormalLength;
    if (longOn) {
        p.maxl = kMaxNormalLength;
        p.longLength = std::min(s.KermitMaxLen, kMaxLongLength);
        p.chkt = '2';
        p.capas |= kCapaLongPackets;
    } else {
        p.maxl = s.KermitMaxLen == 0 ? kDefaultMaxl : std::max(s.KermitMaxLen, kMinNormalLength);
        p.longLength = 0;
        p.chkt = '1';
    }
    const auto byte = [](char c) { return static_cast<uint8_t>(c); };
    p.time = std::min<uint32_t>(s.KermitTimeoutSecs, 94);
    p.npad = std::min<uint32_t>(s.KermitPadCount, 94);
    p.padc = byte(s.KermitPadCharacter);
    p.eol = byte(s.KermitTerminator) < 32 ? byte(s.KermitTerminator) : '\r';
    p.qctl = validPrefix(byte(s.KermitCtlPrefix)) ? byte(s.KermitCtlPrefix) : '#';
    const uint8_t qbin = byte(s.KermitHighbitPrefix);
    p.qbin = validPrefix(qbin) || qbin == 'N' ? qbin : 'Y';
    p.rept = validPrefix(byte(s.KermitRepeatPrefix)) ? byte(s.KermitRepeatPrefix) : ' ';
    p.windo = s.KermitMaxWindows <= 1 ? 1 : std::min(s.KermitMaxWindows, kMaxWindows);
    if (p.windo > 1)
        p.capas |= kCapaWindows;
    return p;
}

std::vector<uint8_t> KermitParams::encode() const
{
    return {
        tochar(maxl), tochar(time), tochar(npad), ctl(padc), tochar(eol), qctl, qbin, chkt, rept,
        tochar(capas), tochar(windo % 32), tochar(longLength / 95), tochar(longLength % 95),
    };
}

KermitParams KermitParams::parse(const uint8_t* d, size_t n)
{
    KermitParams p;
    // A field is a printable character; anything else counts as left out.
    auto have = [&](size_t i) { return i < n && d[i] >= 32 && d[i] <= 126; };
    auto num = [&](size_t i, uint32_t def) { return have(i) ? unchar(d[i]) : def; };
    auto chr = [&](size_t i, uint8_t def) { return have(i) && d[i] != ' ' ? d[i] : def; };
    p.maxl = num(0, 0);
    if (p.maxl == 0)
        p.maxl = kDefaultMaxl;
    p.time = num(1, 5);
    p.npad = num(2, 0);
    p.padc = have(3) ? ctl(d[3]) : 0;
    p.eol = static_cast<uint8_t>(num(4, 0));
    if (p.eol == 0)
        p.eol = '\r';
    p.qctl = chr(5, '#');
    p.qbin = chr(6, ' ');
    p.chkt = chr(7, '1');
    p.rept = chr(8, ' ');
    // One or more capability bytes; each says in its lowest bit whether another follows.
    size_t i = 9;
    p.capas = 0;
    if (have(i)) {
        p.capas = static_cast<uint8_t>(unchar(d[i]));
        while (have(i) && (unchar(d[i]) & kCapaMore))
            ++i;
        ++i;
    }
    p.windo = num(i, 1);
    p.longLength = num(i + 1, 0) * 95 + num(i + 2, 0);
    return p;
}

KermitLink KermitLink::initial(const KermitParams& ours)
{
    KermitLink l;
    l.ctlOut = ours.qctl;
    return l;
}

KermitLink KermitLink::settle(const KermitParams& ours, const KermitParams& peer)
{
    KermitLink l;
    // A packet must hold at least one fully prefixed byte and the longest check.
    l.maxl = std::clamp(std::min(ours.maxl, peer.maxl), 10u, kMaxNormalLength);
    if (validPrefix(ours.rept) && peer.rept == ours.rept)
        l.rept = ours.rept;
    // Eighth-bit prefixing needs both sides to agree on the character: a side that
    // names one and a side that says 'Y' (or names the same one). Two different
    // characters, or a side that says 'N', mean none; using either would corrupt data.
    if (validPrefix(peer.qbin) && (ours.qbin == 'Y' || ours.qbin == peer.qbin))
        l.bin = peer.qbin;
    else if (validPrefix(ours.qbin) && peer.qbin == 'Y')
        l.bin = ours.qbin;
    if ((peer.capas & kCapaLongPackets) && (ours.capas & kCapaLongPackets)) {
        uint32_t len = peer.longLength;
        if (len == 0)
            len = l.maxl;
        else if (len > kMaxLongLength)
            len = kFallbackLongLength;
        // Long packets shorter than normal ones would only cost room.
        if (len > l.maxl) {
            l.longPackets = true;
            l.longLength = len;
        }
    }
    if ((peer.capas & kCapaWindows) && ours.windo > 1)
        l.windows = std::max(1u, std::min(ours.windo, peer.windo & 31));
    l.checkType = peer.chkt >= '1' && peer.chkt <= '3' ? peer.chkt - '0' : 1;
    l.ctlOut = ours.qctl;
    l.ctlIn = peer.qctl >= 33 && peer.qctl <= 126 ? peer.qctl : '#';
    l.timeoutSecs = peer.time ? peer.time : (ours.time ? ours.time : 5);
    l.framing.npad = peer.npad;
    l.framing.padc = peer.padc;
    l.framing.eol = peer.eol;
    return l;
}

size_t KermitLink::dataCapacity() const
{
    const size_t k = KermitPacket::checkLength(checkType);
    const size_t normal = maxl - 2 - k;
    if (longPackets && longLength > kLongHeader + k)
        return std::max(normal, longLength - kLongHeader - k);
    return normal;
}

} // namespace zelvo::protocols
