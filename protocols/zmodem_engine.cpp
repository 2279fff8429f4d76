#include "protocols/zmodem_engine.h"

#include <algorithm>

#include "protocols/zmodem_defs.h"

namespace zelvo::protocols {

using namespace zm;

ZmodemEngine::ZmodemEngine(EngineHost& host, const EngineSettings& settings)
    : ProtocolEngine(host), settings_(settings), dec_(2 * kBlockLength8K)
{
    st_.BlockCheck = bcmCrc32;
    st_.BlockLength = fullBlockLength();
    out_.reserve(4 * kBlockLength8K);
}

void ZmodemEngine::sendHex(uint8_t type, const std::array<uint8_t, 4>& p)
{
    enc_.hexHeader(out_, type, p);
    pump();
}

void ZmodemEngine::sendBin(uint8_t type, const std::array<uint8_t, 4>& p)
{
    enc_.binHeader(out_, type, p);
    pump();
}

void ZmodemEngine::sendRaw(const uint8_t* data, size_t n)
{
    out_.insert(out_.end(), data, data + n);
    pump();
}

bool ZmodemEngine::pump()
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

void ZmodemEngine::discardOutput()
{
    out_.clear();
    outPos_ = 0;
    host_.flushOutput();
    enc_.resetLastByte();
}

size_t ZmodemEngine::headerTail(const uint8_t* data, size_t n)
{
    size_t i = 0;
    while (i < n) {
        const uint8_t c = data[i] & 0x7F;
        if (c != '\r' && c != '\n' && c != XON)
            break;
        ++i;
    }
    return i;
}

void ZmodemEngine::finish(int code)
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

void ZmodemEngine::abortWith(int code, int status)
{
    if (done_)
        return;
    // The bytes still waiting in the port never reached the far side: take them back
    // out of the count, less the protocol overhead of the whole blocks among them.
    const uint64_t waiting = host_.outputUsed() + (out_.size() - outPos_);
    const uint32_t block = st_.BlockLength ? st_.BlockLength : kBlockLength;
    if (waiting > block) {
        const uint64_t payload = waiting - static_cast<uint64_t>(settings_.Overhead) * (waiting / block);
        st_.BytesTransferred = st_.BytesTransferred > payload ? st_.BytesTransferred - payload : 0;
    }
    discardOutput();
    static const uint8_t kCancel[16] = {CAN, CAN, CAN, CAN, CAN, CAN, CAN, CAN,
                                        BS, BS, BS, BS, BS, BS, BS, BS};
    sendRaw(kCancel, sizeof kCancel);
    setStatus(status);
    if (code != -ecCancelRequested)
        host_.reportError(code);
    finish(code);
}

void ZmodemEngine::cancel(int64_t)
{
    abortWith(-ecCancelRequested, psCancelRequested);
}

} // namespace zelvo::protocols
