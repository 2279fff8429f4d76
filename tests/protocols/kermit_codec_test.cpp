// The Kermit packet layer on its own: block checks, normal and long packets, the
// decoder's recovery from damage, data quoting, and the settling of Send-Init
// parameters with peers of every kind.

#include <gtest/gtest.h>

#include <string>

#include "fake_host.h"
#include "protocols/kermit_decoder.h"
#include "protocols/kermit_defs.h"
#include "protocols/kermit_engine.h"
#include "protocols/protocol_engine.h"
#include "protocols/kermit_packet.h"
#include "protocols/kermit_params.h"
#include "protocols/kermit_quoting.h"

using namespace zelvo::protocols;
using namespace zelvo::protocols::kermit;
using zelvo::protocols::test::randomBytes;

namespace {

std::vector<uint8_t> bytes(const std::string& s)
{
    return {s.begin(), s.end()};
}

std::vector<uint8_t> packet(uint8_t seq, uint8_t type, const std::vector<uint8_t>& data, int check,
                            uint32_t maxNormal = 94)
{
    std::vector<uint8_t> out;
    KermitPacket::build(out, seq, type, data.data(), data.size(), check, {}, maxNormal);
    return out;
}

struct Decoded {
    std::vector<KermitDecoder::Event> events;
    std::vector<std::vector<uint8_t>> data;
};

Decoded decodeAll(KermitDecoder& dec, const std::vector<uint8_t>& in, size_t chunk = 7)
{
    Decoded r;
    for (size_t i = 0; i < in.size();) {
        const size_t n = std::min(chunk, in.size() - i);
        size_t used = 0;
        while (used < n) {
            KermitDecoder::Event ev;
            used += dec.feed(in.data() + i + used, n - used, ev);
            if (ev.kind != KermitDecoder::EventKind::None) {
                r.events.push_back(ev);
                r.data.emplace_back(dec.data(), dec.data() + (ev.kind == KermitDecoder::EventKind::Packet ? dec.dataLength() : 0));
            }
        }
        i += n;
    }
    return r;
}

} // namespace

TEST(KermitPackets, ChecksAndLayoutOfNormalAndLongPackets)
{
    const auto digits = bytes("123456789");
    EXPECT_EQ(KermitPacket::crc(digits.data(), digits.size()), 0x2189) << "CCITT reflected, initial 0";
    // The classic example: an ACK with no data, sequence 5, type 1 check.
    EXPECT_EQ(packet(5, 'Y', {}, 1), bytes("\x01#%YC\r")) << "sum 35+37+89 = 161 -> (161 + 2) & 63 = 35";
    const auto two = packet(0, 'D', bytes("ab"), 2);
    ASSERT_EQ(two.size(), 9u);
    EXPECT_EQ(two[1], tochar(2 + 2 + 2));
    const auto longer = packet(3, 'D', std::vector<uint8_t>(500, 'x'), 3);
    EXPECT_EQ(longer[1], ' ') << "LEN 0 marks a long packet";
    EXPECT_EQ(unchar(longer[4]) * 95 + unchar(longer[5]), 503u) << "LENX counts data and check";
    EXPECT_EQ(longer.size(), 1 + 6 + 500 + 3 + 1u);
    // A peer with a small MAXL gets long packets sooner.
    EXPECT_EQ(packet(0, 'D', std::vector<uint8_t>(60, 'x'), 1, 50)[1], ' ');

    for (int check : {1, 2, 3}) {
        KermitDecoder dec;
        dec.setCheckType(check);
        const auto data = bytes("hello, line");
        std::vector<uint8_t> wire = packet(7, 'D', data, check);
        const auto big = std::vector<uint8_t>(900, 'z');
        const auto w2 = packet(8, 'D', big, check);
        wire.insert(wire.end(), w2.begin(), w2.end());
        const Decoded r = decodeAll(dec, wire);
        ASSERT_EQ(r.events.size(), 2u) << check;
        EXPECT_EQ(r.events[0].kind, KermitDecoder::EventKind::Packet);
        EXPECT_EQ(r.events[0].seq, 7);
        EXPECT_EQ(r.data[0], data);
        EXPECT_EQ(r.events[1].seq, 8);
        EXPECT_EQ(r.data[1], big) << check;
    }
}

TEST(KermitPackets, DecoderRecoversFromDamageAndChecksSendInitWithTypeOne)
{
    KermitDecoder dec;
    dec.setCheckType(3);
    auto a = packet(1, 'D', bytes("first packet"), 3);
    a.erase(a.begin() + 6);  // a byte lost inside
    auto b = packet(2, 'D', bytes("second packet"), 3);
    auto c = packet(3, 'D', bytes("third packet"), 3);
    c[8] ^= 0x04;            // a byte damaged
    auto d = packet(0, 'S', bytes("~* @-#Y3~"), 1);
    auto e = packet(4, 'D', std::vector<uint8_t>(1200, 'q'), 3);  // beyond the limit
    std::vector<uint8_t> wire = bytes("noise\r\n");
    for (auto* p : {&a, &b, &c, &d, &e})
        wire.insert(wire.end(), p->begin(), p->end());
    KermitDecoder small(1000);
    small.setCheckType(3);
    const Decoded r = decodeAll(small, wire, 5);
    using K = KermitDecoder::EventKind;
    ASSERT_EQ(r.events.size(), 5u);
    EXPECT_EQ(r.events[0].kind, K::BadPacket) << "cut short by the next MARK";
    EXPECT_EQ(r.events[1].kind, K::Packet);
    EXPECT_EQ(r.data[1], bytes("second packet"));
    EXPECT_EQ(r.events[2].kind, K::BadPacket);
    EXPECT_EQ(r.events[3].kind, K::Packet);
    EXPECT_EQ(r.events[3].type, 'S');
    EXPECT_EQ(r.events[4].kind, K::TooLong);
}

TEST(KermitQuotingRules, EncodingOfControlsEighthBitAndRepeats)
{
    KermitQuoting plain('#', '#');
    KermitQuoting full('#', '#', '&', '~');
    auto enc = [](const KermitQuoting& q, const std::vector<uint8_t>& in) {
        std::vector<uint8_t> out(4 * in.size() + 8);
        size_t used = 0;
        out.resize(q.encode(in.data(), in.size(), out.data(), out.size(), used));
        EXPECT_EQ(used, in.size());
        return out;
    };
    EXPECT_EQ(enc(plain, {'\r', '\n', 0x7F, '#', 'a'}), bytes("#M#J#?##a"));
    EXPECT_EQ(enc(plain, {0x81, 0xA3, 0xFF}), (std::vector<uint8_t>{'#', 0xC1, '#', 0xA3, '#', 0xBF}))
        << "without eighth-bit prefixing the high bit stays on the character";
    EXPECT_EQ(enc(plain, {'&', '~'}), bytes("&~")) << "prefixes not in use are plain data";
    EXPECT_EQ(enc(full, {0x81, '&', '~', 0xA6}), bytes("&#A#&#~&#&"));
    EXPECT_EQ(enc(full, std::vector<uint8_t>(10, 'a')), bytes("~*a"));
    EXPECT_EQ(enc(full, std::vector<uint8_t>(3, 'a')), bytes("aaa")) << "a short run costs more compressed";
    EXPECT_EQ(enc(full, std::vector<uint8_t>(200, 0)), bytes("~~#@~~#@~,#@")) << "runs of at most 94";

    // Every byte value, in runs of every length, survives both ways; nothing is split
    // across the capacity.
    std::vector<uint8_t> src;
    for (int v = 0; v < 256; ++v)
        src.insert(src.end(), static_cast<size_t>(v % 7 + 1), static_cast<uint8_t>(v));
    const auto rnd = randomBytes(5000, 9);
    src.insert(src.end(), rnd.begin(), rnd.end());
    for (const KermitQuoting* q : {&plain, &full}) {
        for (size_t cap : {5u, 13u, 88u, 1010u}) {
            std::vector<uint8_t> back;
            std::vector<uint8_t> field(cap);
            for (size_t i = 0; i < src.size();) {
                size_t used = 0;
                const size_t len = q->encode(src.data() + i, src.size() - i, field.data(), cap, used);
                ASSERT_LE(len, cap);
                ASSERT_GT(used, 0u);
                q->decode(field.data(), len, back);
                i += used;
            }
            EXPECT_EQ(back, src) << cap;
        }
    }
}

TEST(KermitSendInit, OurParametersFromTheSettings)
{
    EngineSettings s;
    KermitParams p = KermitParams::ours(s);
    EXPECT_EQ(p.encode(), bytes("p% `-#Y1~ !  ")) << "MAXL 80, TIME 5, PADC 32, no capabilities";
    s.KermitMaxLen = 1000;
    s.KermitMaxWindows = 20;
    p = KermitParams::ours(s);
    EXPECT_EQ(p.capas, kCapaLongPackets | kCapaWindows);
    EXPECT_EQ(p.chkt, '2') << "long packets raise check type 1 to 2";
    EXPECT_EQ(p.longLength, 1000u);
    EXPECT_EQ(KermitParams::parse(p.encode().data(), p.encode().size()).longLength, 1000u);
    EXPECT_EQ(KermitParams::parse(p.encode().data(), p.encode().size()).windo, 20u);
    s.KermitMaxWindows = 40;
    EXPECT_EQ(KermitParams::ours(s).windo, 27u);
    s.KermitMaxWindows = 1;
    EXPECT_EQ(KermitParams::ours(s).capas & kCapaWindows, 0);
    s.KermitMaxLen = 0;
    EXPECT_EQ(KermitParams::ours(s).maxl, 80u) << "an unreadable dialog entry means the standard length";
    s.KermitMaxLen = 1025;
    EXPECT_EQ(KermitEngine::checkSettings(s), -1002);
    s.KermitMaxLen = 1024;
    EXPECT_EQ(KermitEngine::checkSettings(s), 0);
}

TEST(KermitSendInit, SettlingWithPeersOfEveryKind)
{
    EngineSettings s;
    s.KermitMaxLen = 1000;
    s.KermitMaxWindows = 20;
    const KermitParams ours = KermitParams::ours(s);
    auto peer = [](const std::string& fields) {
        const auto b = bytes(fields);
        return KermitParams::parse(b.data(), b.size());
    };
    // A peer with two capability bytes (the first says another follows), window 31,
    // long packets of 2000: windows are the smaller, the length falls back to 500.
    KermitLink l = KermitLink::settle(ours, peer("~* @-#Y3~" + std::string(1, tochar(0x07)) + "(" + std::string(1, tochar(31)) +
                                                 std::string(1, tochar(2000 / 95)) + std::string(1, tochar(2000 % 95))));
    EXPECT_TRUE(l.longPackets);
    EXPECT_EQ(l.longLength, 500u);
    EXPECT_EQ(l.windows, 20u);
    EXPECT_EQ(l.checkType, 3);
    EXPECT_EQ(l.rept, '~');
    EXPECT_EQ(l.bin, 0) << "'Y' against 'Y' is no eighth-bit prefixing";
    EXPECT_EQ(l.maxl, 94u);
    // Long length 0: MAXL is used; a different repeat prefix, check type 4 and '&'.
    l = KermitLink::settle(ours, peer("P% @-#&4*" + std::string(1, tochar(0x06)) + "%  "));
    EXPECT_FALSE(l.longPackets);
    EXPECT_EQ(l.blockLength(), 48u);
    EXPECT_EQ(l.windows, 5u);
    EXPECT_EQ(l.rept, 0);
    EXPECT_EQ(l.checkType, 1);
    EXPECT_EQ(l.bin, '&');
    // A bare peer that sends only MAXL: defaults for the rest, and no capabilities.
    l = KermitLink::settle(ours, peer("5"));
    EXPECT_EQ(l.maxl, 21u);
    EXPECT_EQ(l.windows, 1u);
    EXPECT_EQ(l.timeoutSecs, 5u);
    EXPECT_EQ(l.ctlIn, '#');
    EXPECT_EQ(l.framing.eol, '\r');
    // Two different eighth-bit prefixes, or a 'N', would garble data: none is used.
    EngineSettings amp = s;
    amp.KermitHighbitPrefix = '&';
    EXPECT_EQ(KermitLink::settle(KermitParams::ours(amp), peer("~* @-#Y1~")).bin, '&');
    EXPECT_EQ(KermitLink::settle(KermitParams::ours(amp), peer("~* @-#`1~")).bin, 0);
    amp.KermitHighbitPrefix = 'N';
    EXPECT_EQ(KermitLink::settle(KermitParams::ours(amp), peer("~* @-#&1~")).bin, 0);
    // Our data capacity never lets a packet outgrow what the peer takes.
    for (uint32_t maxl : {10u, 40u, 94u}) {
        KermitLink small;
        small.maxl = maxl;
        small.checkType = 3;
        EXPECT_LE(small.dataCapacity() + 2 + 3, maxl);
    }
}
