#include "protocols/ascii_sender.h"

#include <algorithm>

#include "protocols/ascii_translation.h"

namespace zelvo::protocols {

namespace {
constexpr uint8_t kCtrlZ = 0x1A;
constexpr int64_t kTickMs = 55;
} // namespace

const char* AsciiSender::stateName(State s)
{
    static const char* const kNames[] = {"taInitial", "taGetBlock", "taWaitFrSpc", "taSendBlock",
                                         "taSendDelay", "taFinDrain", "taFinished", "taDone"};
    return kNames[s];
}

AsciiSender::AsciiSender(EngineHost& host, const EngineSettings& settings) : ProtocolEngine(host, settings)
{
    st_.BlockCheck = bcmNone;
    st_.BlockLength = static_cast<uint32_t>(kBlockLength);
    st_.stateName = stateName(state_);
    block_.reserve(kBlockLength);
}

void AsciiSender::setState(State s, int64_t nowMs, int64_t waitMs)
{
    state_ = s;
    st_.stateName = stateName(s);
    deadline_ = waitMs < 0 ? kNoDeadline : nowMs + waitMs;
}

void AsciiSender::start(int64_t nowMs)
{
    SendFile f;
    const int rc = host_.nextFile(f);
    if (rc <= 0) {
        abortWith(rc < 0 ? rc : -ecNoMatchingFiles, psProtocolError);
        return;
    }
    file_ = f;
    fileOpen_ = true;
    st_.PathName = file_.path;
    st_.FileLength = file_.length;
    st_.BytesRemaining = file_.length;
    st_.fileStartMs = nowMs;
    setStatus(psOK);
    host_.reportStatus(st_, kStatusFirst);
    setState(taGetBlock, nowMs, -1);
    run(nowMs);
}

void AsciiSender::releaseFile()
{
    closeOpenFile(FileSide::sending);
}

void AsciiSender::lineLost(int64_t)
{
    if (done_)
        return;
    // The whole file was written to the line; the far side has hung up since.
    if (state_ == taFinDrain && !waitingForOutput()) {
        fileOpen_ = false;
        host_.closeSendFile(true);
        setStatus(psEndFile);
        host_.reportStatus(st_, kStatusLast);
        finish(0);
        return;
    }
    setStatus(psAbortNoCarrier);
    host_.reportError(-ecAbortNoCarrier);
    finish(-ecAbortNoCarrier);
}

void AsciiSender::receive(const uint8_t*, size_t, int64_t nowMs)
{
    // Nothing comes back in an ASCII send; whatever the far side says is not ours to
    // interpret. The chance to send is taken.
    unused_ = 0;
    poll(nowMs);
}

bool AsciiSender::loadBlock()
{
    block_.resize(kBlockLength);
    const int rc = host_.readFile(offset_, block_.data(), kBlockLength);
    if (rc < 0) {
        abortWith(rc, psProtocolError);
        return false;
    }
    block_.resize(static_cast<size_t>(rc));
    blockPos_ = 0;
    passPauseMs_ = 0;
    offset_ += static_cast<uint64_t>(rc);
    return rc > 0;
}

bool AsciiSender::pause(int64_t ms, int64_t nowMs)
{
    if (ms <= 0)
        return true;
    if (passPauseMs_ + ms < kPassPauseMs) {
        // Short enough to be waited out now, to the millisecond.
        passPauseMs_ += ms;
        setState(taSendDelay, nowMs, ms);
    } else {
        // Timed in ticks; the pass ends with it.
        passPauseMs_ = 0;
        setState(taSendDelay, nowMs, pauseTicks(ms) * kTickMs);
    }
    return false;
}

void AsciiSender::run(int64_t nowMs)
{
    const TAsciiEOLTranslation cr = settings_.AsciiCRTranslation;
    const TAsciiEOLTranslation lf = settings_.AsciiLFTranslation;
    const bool paced = settings_.AsciiCharDelayMs > 0 || settings_.AsciiLineDelayMs > 0;
    while (!done_) {
        if (state_ == taWaitFrSpc) {
            if (!pump())
                return;
            setState(taSendBlock, nowMs, -1);
        }
        if (state_ == taSendDelay || state_ == taFinDrain)
            return;
        if (pendingPauseMs_ > 0) {
            const int64_t ms = pendingPauseMs_;
            pendingPauseMs_ = 0;
            if (!pause(ms, nowMs))
                return;
        }
        if (blockPos_ >= block_.size()) {
            if (!loadBlock()) {
                if (!done_)
                    endOfFile(nowMs);
                return;
            }
            setState(taSendBlock, nowMs, -1);
        }
        while (blockPos_ < block_.size()) {
            const uint8_t c = block_[blockPos_++];
            if (c == kCtrlZ) {
                // Never sent; with AsciiSuppressCtrlZ the file ends here.
                if (settings_.AsciiSuppressCtrlZ) {
                    pump();
                    endOfFile(nowMs);
                    return;
                }
                continue;
            }
            uint8_t outBytes[2];
            const size_t n = TranslateLineEnd(c, cr, lf, outBytes);
            queue(outBytes, n);
            st_.BytesTransferred += n;
            st_.BytesRemaining = st_.BytesRemaining > n ? st_.BytesRemaining - n : 0;
            if (!paced)
                continue;
            if (!pump()) {
                pendingPauseMs_ = 0;
                setState(taWaitFrSpc, nowMs, settings_.TransmitTimeoutMs);
            }
            // The line delay after an end-of-line character, then the character delay.
            const bool eol = c == static_cast<uint8_t>(settings_.AsciiEOLChar) && settings_.AsciiLineDelayMs > 0;
            const int64_t first = eol ? settings_.AsciiLineDelayMs : settings_.AsciiCharDelayMs;
            const int64_t second = eol ? settings_.AsciiCharDelayMs : 0;
            if (state_ == taWaitFrSpc) {
                pendingPauseMs_ = first + second;
                return;
            }
            if (!pause(first, nowMs)) {
                pendingPauseMs_ = second;
                return;
            }
            if (!pause(second, nowMs))
                return;
        }
        if (!pump()) {
            setState(taWaitFrSpc, nowMs, settings_.TransmitTimeoutMs);
            return;
        }
    }
}

void AsciiSender::endOfFile(int64_t nowMs)
{
    st_.BytesRemaining = 0;
    drainSinceMs_ = nowMs;
    setState(taFinDrain, nowMs, 0);
    poll(nowMs);
}

void AsciiSender::poll(int64_t nowMs)
{
    if (done_)
        return;
    switch (state_) {
    case taFinDrain:
        pump();
        if (pendingOutput() == 0) {
            fileOpen_ = false;
            host_.closeSendFile(true);
            setStatus(psEndFile);
            host_.reportStatus(st_, kStatusLast);
            setState(taDone, nowMs, -1);
            finish(0);
            return;
        }
        if (nowMs - drainSinceMs_ >= settings_.TransmitTimeoutMs) {
            abortWith(-ecTimeout, psTimeout);
            return;
        }
        // Draining is watched once a tick.
        setState(taFinDrain, nowMs, kTickMs);
        return;
    case taSendDelay:
        if (nowMs < deadline_)
            return;
        setState(taSendBlock, nowMs, -1);
        run(nowMs);
        return;
    case taWaitFrSpc:
        if (nowMs >= deadline_ && !pump()) {
            abortWith(-ecTimeout, psTimeout);
            return;
        }
        run(nowMs);
        return;
    default:
        run(nowMs);
        return;
    }
}

} // namespace zelvo::protocols
