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

KermitEngine::KermitEngine(EngineHost& host, const EngineSettings& settings, const KermitSettings& kermit)
    : ProtocolEngine(host), settings_(settings), kermit_(kermit), ours_(KermitParams::ours(kermit)),
      link_(KermitLink::initial(ours_)), quoting_(link_.ctlOut, link_.ctlIn), dec_(kMaxReceiveData)
{
    st_.BlockCheck = methodFor(ours_.chkt - '0');
    st_.BlockLength = ours_.longLength ? ours_.longLength : kDefaultMaxl;
    out_.reserve(4 * kMaxLongLength);
    scratch_.reserve(kMaxLongLength);
}

int KermitEngine::checkSettings(const KermitSettings& kermit)
{
    return kermit.MaxLen > kMaxLongLength ? -1002 : 0;
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

void KermitEngine::sendRaw(const std::vector<uint8_t>& bytes)
{
    out_.insert(out_.end(), bytes.begin(), bytes.end());
    pump();
}

bool KermitEngine::pump()
{
    while (outPos_ < out_.size()) {
        const size_t room = host_.outputFree();
        if (room == 0)
            return false;
        const size_t n = std::min(room, out_.size() - outPos_);
        if (host_.putBlock(out_.data() + outPos_, n) < 0)
            return false;
        outPos_ += n;
    }
    out_.clear();
    outPos_ = 0;
    return true;
}

void KermitEngine::discardOutput()
{
    out_.clear();
    outPos_ = 0;
    host_.flushOutput();
}

std::string KermitEngine::decodeText(const uint8_t* data, size_t n) const
{
    std::vector<uint8_t> text;
    quoting_.decode(data, n, text);
    return std::string(text.begin(), text.end());
}

void KermitEngine::receive(const uint8_t* data, size_t n, int64_t nowMs)
{
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
    if (!done_)
        advance(nowMs);
    if (!done_)
        pump();
}

void KermitEngine::poll(int64_t nowMs)
{
    if (done_)
        return;
    pump();
    advance(nowMs);
    if (!done_ && nowMs >= deadline_)
        onTimeout(nowMs);
}

void KermitEngine::lineLost(int64_t)
{
    if (done_)
        return;
    setStatus(psAbortNoCarrier);
    host_.reportError(-ecAbortNoCarrier);
    finish(-ecAbortNoCarrier);
}

void KermitEngine::finish(int code)
{
    if (done_)
        return;
    releaseFile();
    if (code == 0)
        code = FinishCodeForStatus(st_.ProtocolStatus);
    result_ = code;
    st_.ProtocolError = code;
    done_ = true;
    deadline_ = kNoDeadline;
}

void KermitEngine::abortWith(int code, int status, const std::string& text)
{
    if (done_)
        return;
    discardOutput();
    const std::string msg = text.empty() ? ErrorText(code) : text;
    // The text goes through the quoting in force, so any character is safe in it.
    scratch_.resize(std::max<size_t>(link_.dataCapacity(), 1));
    size_t used = 0;
    const size_t len = quoting_.encode(reinterpret_cast<const uint8_t*>(msg.data()), msg.size(), scratch_.data(),
                                       scratch_.size(), used);
    sendPacket(seq_, kError, scratch_.data(), len);
    setStatus(status);
    if (code != -ecCancelRequested)
        host_.reportError(code);
    finish(code);
}

void KermitEngine::cancel(int64_t)
{
    abortWith(-ecCancelRequested, psCancelRequested);
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
