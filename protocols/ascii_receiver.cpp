#include "protocols/ascii_receiver.h"

#include "protocols/ascii_translation.h"

namespace zelvo::protocols {

namespace {
constexpr uint8_t kCtrlZ = 0x1A;
} // namespace

const char* AsciiReceiver::stateName(State s)
{
    static const char* const kNames[] = {"raInitial", "raCollect", "raProcess", "raFinished", "raDone"};
    return kNames[s];
}

AsciiReceiver::AsciiReceiver(EngineHost& host, const EngineSettings& settings) : ProtocolEngine(host, settings)
{
    st_.BlockCheck = bcmNone;
    st_.BlockLength = static_cast<uint32_t>(kBlockLength);
    st_.stateName = stateName(state_);
    block_.reserve(kBlockLength + 1);
}

void AsciiReceiver::setState(State s, int64_t nowMs, int64_t waitMs)
{
    state_ = s;
    st_.stateName = stateName(s);
    deadline_ = waitMs < 0 ? kNoDeadline : nowMs + waitMs;
}

void AsciiReceiver::start(int64_t nowMs)
{
    st_.fileStartMs = nowMs;
    if (!openNamedReceiveFile())
        return;
    fileOpen_ = true;
    setStatus(psOK);
    host_.reportStatus(st_, kStatusFirst);
    setState(raCollect, nowMs, settings_.AsciiEOFTimeoutMs);
}

void AsciiReceiver::releaseFile()
{
    closeOpenFile(FileSide::receiving);
}

void AsciiReceiver::lineLost(int64_t nowMs)
{
    if (done_)
        return;
    // Silence for good: what arrived is the file.
    endOfFile(nowMs);
}

bool AsciiReceiver::writeBlock()
{
    if (block_.empty())
        return true;
    const int rc = host_.writeFile(written_, block_.data(), block_.size());
    if (rc < 0) {
        abortWith(rc, psCantWriteFile);
        return false;
    }
    written_ += block_.size();
    block_.clear();
    return true;
}

void AsciiReceiver::receive(const uint8_t* data, size_t n, int64_t nowMs)
{
    unused_ = 0;
    if (done_ || state_ != raCollect)
        return;
    const TAsciiEOLTranslation cr = settings_.AsciiCRTranslation;
    const TAsciiEOLTranslation lf = settings_.AsciiLFTranslation;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = data[i];
        if (c == kCtrlZ && settings_.AsciiSuppressCtrlZ)
            continue;
        uint8_t outBytes[2];
        const size_t k = TranslateLineEnd(c, cr, lf, outBytes);
        block_.insert(block_.end(), outBytes, outBytes + k);
        st_.BytesTransferred += k;
        if (block_.size() >= kBlockLength) {
            setState(raProcess, nowMs, -1);
            if (!writeBlock())
                return;
            setState(raCollect, nowMs, -1);
        }
    }
    st_.FileLength = st_.BytesTransferred;
    setState(raCollect, nowMs, settings_.AsciiEOFTimeoutMs);
}

void AsciiReceiver::poll(int64_t nowMs)
{
    if (!done_ && nowMs >= deadline_)
        endOfFile(nowMs);
}

void AsciiReceiver::endOfFile(int64_t nowMs)
{
    setState(raFinished, nowMs, -1);
    if (!writeBlock())
        return;
    if (fileOpen_) {
        fileOpen_ = false;
        const int rc = host_.closeReceiveFile(true, 0);
        if (rc < 0) {
            abortWith(rc, psCantWriteFile);
            return;
        }
    }
    setStatus(psEndFile);
    host_.reportStatus(st_, kStatusLast);
    setState(raDone, nowMs, -1);
    finish(0);
}

} // namespace zelvo::protocols
