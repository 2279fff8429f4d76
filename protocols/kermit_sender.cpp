#include "protocols/kermit_sender.h"

#include <algorithm>

#include "protocols/file_info.h"
#include "protocols/kermit_defs.h"

namespace zelvo::protocols {

using namespace kermit;

const char* KermitSender::stateName(State s)
{
    static const char* const kNames[] = {
        "tkInit", "tkInitReply", "tkCollInit", "tkOpenFile", "tkSendFile", "tkFileReply", "tkCollFile",
        "tkCheckTable", "tkSendData", "tkBlockReply", "tkCollBlock", "tkSendEof", "tkEofReply", "tkCollectEof",
        "tkSendBreak", "tkBreakReply", "tkCollBreak", "tkComplete", "tkWaitCancel", "tkError", "tkDone",
    };
    return kNames[s];
}

KermitSender::KermitSender(EngineHost& host, const EngineSettings& settings)
    : KermitEngine(host, settings), src_(8192), field_(kMaxLongLength)
{
    st_.stateName = stateName(state_);
}

std::string KermitSender::wireName(const SendFile& file, bool includeDirectory)
{
    return WireFileName(file, includeDirectory, false);
}

void KermitSender::setState(State s)
{
    state_ = s;
    st_.stateName = stateName(s);
}

void KermitSender::start(int64_t nowMs)
{
    if (!checkStart())
        return;
    setStatus(psProtocolHandshake);
    attempts_ = 1;
    sendInit();
    setState(tkInitReply);
    deadline_ = nowMs + settings_.HandshakeWaitMs;
}

void KermitSender::sendInit()
{
    const std::vector<uint8_t> init = ours_.encode();
    seq_ = 0;
    sendPacket(0, kSendInit, init.data(), init.size(), 1);
}

void KermitSender::releaseFile()
{
    closeOpenFile(FileSide::sending);
    setState(tkDone);
}

void KermitSender::lineLost(int64_t nowMs)
{
    if (!done_ && state_ == tkBreakReply) {
        // Every file was confirmed; the line went after the goodbye.
        setState(tkComplete);
        finish(0);
        return;
    }
    KermitEngine::lineLost(nowMs);
}

void KermitSender::armTimer(int64_t nowMs)
{
    timer_ = nowMs + waitMs();
}

void KermitSender::onPacket(const KermitDecoder::Event& ev, const uint8_t* data, size_t n, int64_t nowMs)
{
    if (state_ == tkInitReply) {
        if (ev.type == kAck && ev.seq == 0) {
            applyLink(KermitLink::settle(ours_, KermitParams::parse(data, n)));
            st_.BlockErrors = 0;
            next_ = base_ = 1;
            nextFile(nowMs);
        } else if (ev.type == kNak) {
            if (attempts_ >= settings_.HandshakeRetry) {
                setStatus(psTimeout);
                host_.reportError(-ecTimeout);
                finish(-ecTimeout);
                return;
            }
            ++attempts_;
            sendInit();
            deadline_ = nowMs + settings_.HandshakeWaitMs;
        }
        return;
    }
    if (ev.type == kAck) {
        acknowledge(ev.seq, data, n, nowMs);
    } else if (ev.type == kNak) {
        countError();
        if (inTable(ev.seq)) {
            Slot& s = slot(ev.seq);
            if (!s.acked) {
                setStatus(psBlockCheckError);
                resend(s, nowMs);
            }
        } else if (ev.seq == next_ && count() > 0) {
            // The receiver wants the packet after the last one sent: it has them all.
            for (uint8_t q = base_; q != next_; q = (q + 1) & 63)
                slot(q).acked = true;
            rotate();
            armTimer(nowMs);
        }
    }
}

void KermitSender::acknowledge(uint8_t seq, const uint8_t* data, size_t n, int64_t nowMs)
{
    if (!inTable(seq))
        return;
    Slot& s = slot(seq);
    if (s.acked)
        return;
    s.acked = true;
    if (s.type == kData && n > 0) {
        // The receiver may ask us to stop this file ('X') or the whole batch ('Z').
        if (data[0] == 'X')
            cancelFile_ = true;
        else if (data[0] == 'Z')
            cancelFile_ = cancelBatch_ = true;
    }
    if (st_.ProtocolStatus != psOK && st_.ProtocolStatus != psProtocolHandshake)
        setStatus(psOK);
    outputWaitSince_ = -1;
    armTimer(nowMs);
    rotate();
}

void KermitSender::rotate()
{
    while (count() > 0 && slot(base_).acked) {
        Slot& s = slot(base_);
        s.acked = false;
        s.type = 0;
        base_ = (base_ + 1) & 63;
    }
    if (count() == 0)
        timer_ = kNoDeadline;
}

void KermitSender::onBadPacket(int, int64_t)
{
    // A damaged reply is as good as none: the time-out or the receiver's next NAK
    // brings the packet again.
    countError();
}

void KermitSender::resend(Slot& s, int64_t nowMs)
{
    if (++s.retries > settings_.HandshakeRetry) {
        abortWith(-ecTooManyErrors, psProtocolError, {});
        return;
    }
    ++resent_;
    out_.insert(out_.end(), s.wire.begin(), s.wire.end());
    pump();
    armTimer(nowMs);
}

void KermitSender::onTimeout(int64_t nowMs)
{
    if (state_ == tkInitReply) {
        if (attempts_ >= settings_.HandshakeRetry) {
            setStatus(psTimeout);
            host_.reportError(-ecTimeout);
            finish(-ecTimeout);
            return;
        }
        ++attempts_;
        setStatus(psTimeout);
        sendInit();
        deadline_ = nowMs + settings_.HandshakeWaitMs;
        return;
    }
    if (nowMs < timer_ || count() == 0) {
        advance(nowMs);
        return;
    }
    if (waitingForOutput() || host_.outputUsed() > 0) {
        // Our packets have not all left yet; the receiver cannot answer what it has
        // not seen. A port that takes nothing for the whole transmit time-out is stuck.
        if (outputWaitSince_ < 0)
            outputWaitSince_ = nowMs;
        if (nowMs - outputWaitSince_ >= settings_.TransmitTimeoutMs) {
            abortWith(-ecTimeout, psTimeout, {});
            return;
        }
        armTimer(nowMs);
        advance(nowMs);
        return;
    }
    if (state_ == tkBreakReply && slot(base_).retries + 1 >= kBreakAttempts) {
        setState(tkComplete);
        finish(0);
        return;
    }
    countError();
    setStatus(psTimeout);
    resend(slot(base_), nowMs);
    if (!done_)
        advance(nowMs);
}

void KermitSender::queuePacket(uint8_t type, const uint8_t* data, size_t n, int64_t nowMs)
{
    Slot& s = slot(next_);
    s.type = type;
    s.acked = false;
    s.retries = 0;
    s.wire.clear();
    KermitPacket::build(s.wire, next_, type, data, n, link_.checkType, link_.framing, link_.maxl);
    seq_ = next_;
    next_ = (next_ + 1) & 63;
    if (count() == 1)
        armTimer(nowMs);
    out_.insert(out_.end(), s.wire.begin(), s.wire.end());
    pump();
}

void KermitSender::nextFile(int64_t nowMs)
{
    setState(tkOpenFile);
    SendFile f;
    const int rc = cancelBatch_ ? 0 : host_.nextFile(f);
    if (rc < 0) {
        abortWith(rc, psProtocolError, {});
        return;
    }
    if (rc == 0) {
        setStatus(psOK);
        setState(tkSendBreak);
        queuePacket(kBreak, nullptr, 0, nowMs);
        setState(tkBreakReply);
        return;
    }
    file_ = f;
    fileOpen_ = true;
    const TBlockCheckMethod check = st_.BlockCheck;
    const uint32_t block = st_.BlockLength;
    st_ = TransferState{};
    st_.BlockCheck = check;
    st_.BlockLength = block;
    st_.PathName = file_.path;
    st_.FileLength = file_.length;
    st_.BytesRemaining = file_.length;
    st_.fileStartMs = nowMs;
    pos_ = 0;
    srcStart_ = 0;
    srcLen_ = 0;
    cancelFile_ = discarding_ = false;
    setStatus(psOK);
    host_.reportStatus(st_, kStatusFirst);

    // The name travels quoted like data, so any character in it is safe; a name too
    // long for one packet is cut.
    const std::string name = wireName(file_, settings_.IncludeDirectory);
    size_t used = 0;
    const size_t len = quoting_.encode(reinterpret_cast<const uint8_t*>(name.data()), name.size(), field_.data(),
                                       link_.dataCapacity(), used);
    setState(tkSendFile);
    queuePacket(kFileHeader, field_.data(), len, nowMs);
    setState(tkFileReply);
}

bool KermitSender::fillWindow(int64_t nowMs)
{
    const size_t cap = link_.dataCapacity();
    while (count() < link_.windows && pos_ < file_.length && !done_) {
        if (waitingForOutput())
            return false;
        if (link_.windows > 1 && settings_.KermitSWCTurnDelay && nowMs < nextSendAt_) {
            deadline_ = std::min(deadline_, nextSendAt_);
            return false;
        }
        // Keep at least a packet's worth of file bytes read ahead.
        const uint64_t need = std::min<uint64_t>(pos_ + cap, file_.length);
        if (pos_ < srcStart_ || need > srcStart_ + srcLen_) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(src_.size(), file_.length - pos_));
            const int rc = host_.readFile(pos_, src_.data(), want);
            if (rc < 0) {
                abortWith(rc, psProtocolError, {});
                return false;
            }
            srcStart_ = pos_;
            srcLen_ = static_cast<size_t>(rc);
            if (srcLen_ < want) {
                // The file shrank while it was being sent: what is there is all there is.
                file_.length = pos_ + srcLen_;
                st_.FileLength = file_.length;
                st_.BytesRemaining = file_.length > pos_ ? file_.length - pos_ : 0;
                if (srcLen_ == 0)
                    break;
            }
        }
        const size_t off = static_cast<size_t>(pos_ - srcStart_);
        size_t used = 0;
        const size_t len = quoting_.encode(src_.data() + off, srcLen_ - off, field_.data(), cap, used);
        queuePacket(kData, field_.data(), len, nowMs);
        pos_ += used;
        st_.BytesTransferred = pos_;
        st_.BytesRemaining = file_.length - pos_;
        if (link_.windows > 1 && settings_.KermitSWCTurnDelay)
            nextSendAt_ = nowMs + settings_.KermitSWCTurnDelay;
    }
    return true;
}

void KermitSender::sendEof(bool discard, int64_t nowMs)
{
    static const uint8_t kDiscard = 'D';
    setState(tkSendEof);
    queuePacket(kEof, &kDiscard, discard ? 1 : 0, nowMs);
    setState(tkEofReply);
}

void KermitSender::fileDone(bool completed, int status, int64_t nowMs)
{
    fileOpen_ = false;
    host_.closeSendFile(completed);
    setStatus(completed ? psEndFile : status);
    host_.reportStatus(st_, kStatusLast);
    nextFile(nowMs);
}

void KermitSender::advance(int64_t nowMs)
{
    if (state_ == tkInitReply)
        return;
    deadline_ = kNoDeadline;
    for (bool again = true; again && !done_;) {
        again = false;
        switch (state_) {
        case tkFileReply:
            if (count() == 0) {
                setState(tkSendData);
                again = true;
            }
            break;
        case tkCheckTable:
        case tkSendData:
        case tkBlockReply:
            if (cancelFile_) {
                // Stop here; the end-of-file packet tells the receiver to discard it.
                if (count() == 0) {
                    discarding_ = true;
                    sendEof(true, nowMs);
                }
                break;
            }
            setState(tkCheckTable);
            if (!fillWindow(nowMs))
                break;
            if (pos_ >= file_.length && count() == 0) {
                sendEof(false, nowMs);
                break;
            }
            setState(count() >= link_.windows ? tkBlockReply : tkSendData);
            break;
        case tkEofReply:
            if (count() == 0) {
                if (discarding_)
                    fileDone(false, psSkipFile, nowMs);
                else
                    fileDone(true, psOK, nowMs);
                again = !done_;
            }
            break;
        case tkBreakReply:
            if (count() == 0) {
                setState(tkComplete);
                finish(0);
            }
            break;
        default:
            break;
        }
    }
    if (!done_)
        deadline_ = std::min(deadline_, timer_);
}

} // namespace zelvo::protocols
