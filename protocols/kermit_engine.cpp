#include "protocols/kermit_engine.h"

#include <algorithm>

#include "protocols/kermit_defs.h"

namespace zelvo::protocols {

using namespace kermit;

namespace {

TBlockCheckMethod methodFor(int checkType)
{
    return checkType == 3 ? bcmCrcK : checkType == 2 ? bcmChecksum2 : bcmChecksum;
}

} // namespace

KermitEngine::KermitEngine(EngineHost& host, const EngineSettings& settings)
    : ProtocolEngine(host, settings), ours_(KermitParams::ours(settings)), link_(KermitLink::initial(ours_)),
      quoting_(link_.ctlOut, link_.ctlIn), dec_(kMaxReceiveData)
{
    st_.BlockCheck = methodFor(ours_.chkt - '0');
    st_.BlockLength = ours_.longLength ? ours_.longLength : kDefaultMaxl;
    out_.reserve(4 * kMaxLongLength);
    scratch_.reserve(kMaxLongLength);
}

int KermitEngine::checkSettings(const EngineSettings& settings)
{
    return settings.KermitMaxLen > kMaxLen ? -1002 : 0;
}

bool KermitEngine::checkStart()
{
    const int rc = checkSettings(settings_);
    if (rc == 0)
        return true;
    setStatus(psProtocolError);
    host_.reportError(rc);
    finish(rc);
    return false;
}

void KermitEngine::applyLink(const KermitLink& link)
{
    link_ = link;
    quoting_ = KermitQuoting(link.ctlOut, link.ctlIn, link.bin, link.rept);
    dec_.setCheckType(link.checkType);
    st_.BlockLength = link.blockLength();
    st_.BlockCheck = methodFor(link.checkType);
}

void KermitEngine::sendPacket(uint8_t seq, uint8_t type, const uint8_t* data, size_t n, int checkType)
{
    KermitPacket::build(out_, seq, type, data, n, checkType ? checkType : link_.checkType, link_.framing,
                        link_.maxl);
    pump();
}

std::string KermitEngine::decodeText(const uint8_t* data, size_t n) const
{
    std::vector<uint8_t> text;
    quoting_.decode(data, n, text);
    return std::string(text.begin(), text.end());
}

void KermitEngine::receive(const uint8_t* data, size_t n, int64_t nowMs)
{
    unused_ = 0;
    size_t i = 0;
    while (i < n && !done_) {
        KermitDecoder::Event ev;
        i += dec_.feed(data + i, n - i, ev);
        switch (ev.kind) {
        case KermitDecoder::EventKind::None:
            break;
        case KermitDecoder::EventKind::Packet:
            if (ev.type == kError)
                peerError(dec_.data(), dec_.dataLength());
            else
                onPacket(ev, dec_.data(), dec_.dataLength(), nowMs);
            break;
        case KermitDecoder::EventKind::BadPacket:
            onBadPacket(psBlockCheckError, nowMs);
            break;
        case KermitDecoder::EventKind::TooLong:
            onBadPacket(psLongPacket, nowMs);
            break;
        }
    }
    // What follows the end of the transfer (a shell prompt) is not ours.
    if (done_)
        unused_ = n - i;
    if (!done_)
        advance(nowMs);
    if (!done_)
        pump();
    noteWindows();
}

void KermitEngine::poll(int64_t nowMs)
{
    if (done_)
        return;
    pump();
    advance(nowMs);
    if (!done_ && nowMs >= deadline_)
        onTimeout(nowMs);
    noteWindows();
}

void KermitEngine::lineLost(int64_t)
{
    if (done_)
        return;
    setStatus(psAbortNoCarrier);
    host_.reportError(-ecAbortNoCarrier);
    finish(-ecAbortNoCarrier);
}

void KermitEngine::abortWith(int code, int status, const std::string& text)
{
    abortText_ = text.empty() ? ErrorText(code) : text;
    ProtocolEngine::abortWith(code, status);
}

std::vector<uint8_t> KermitEngine::cancelSequence() const
{
    // The text goes through the quoting in force, so any character is safe in it.
    const std::string msg = abortText_.empty() ? ErrorText(-ecCancelRequested) : abortText_;
    std::vector<uint8_t> field(std::max<size_t>(link_.dataCapacity(), 1));
    size_t used = 0;
    const size_t len = quoting_.encode(reinterpret_cast<const uint8_t*>(msg.data()), msg.size(), field.data(),
                                       field.size(), used);
    std::vector<uint8_t> packet;
    KermitPacket::build(packet, seq_, kError, field.data(), len, link_.checkType, link_.framing, link_.maxl);
    return packet;
}

void KermitEngine::peerError(const uint8_t* data, size_t n)
{
    std::string text = decodeText(data, n);
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return static_cast<uint8_t>(c) < 32; }),
               text.end());
    st_.Detail = "error from the other side: " + text;
    discardOutput();
    setStatus(psCancelRequested);
    finish(-ecCancelRequested);
}

} // namespace zelvo::protocols
