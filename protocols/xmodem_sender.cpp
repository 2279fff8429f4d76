#include "protocols/xmodem_sender.h"

#include <algorithm>

#include "protocols/file_info.h"
#include "protocols/xmodem_block.h"

namespace zelvo::protocols {

using namespace xm;

namespace {

constexpr int64_t kTickMs = 55;

bool isHandshakeState(XmodemSender::State s)
{
    return s == XmodemSender::txHandshake || s == XmodemSender::tyHandshake;
}

bool isStreamingSend(XmodemSender::State s)
{
    return s == XmodemSender::txSendBlock || s == XmodemSender::txWtFreeSpc;
}

} // namespace

const char* XmodemSender::stateName(State s)
{
    static const char* const kNames[] = {
        "txInitial", "txHandshake", "txGetBlock", "txWtFreeSpc", "txSendBlock", "txDraining",
        "txRplyPnding", "txEndDrain", "txFirstEOT", "txRestEOT", "txEotReply", "txFinished",
        "txDone", "tyInitial", "tyHandshake", "tyGetFlName", "tySndFlName", "tyDraining",
        "tyRplyPndng", "tyPrpXmdm", "tySndXmdm", "tyFinishd", "tyFinDrain", "tyDone",
    };
    return kNames[s];
}

XmodemSender::XmodemSender(EngineHost& host, const EngineSettings& settings)
    : ProtocolEngine(host, settings), buf_(kLongBlock)
{
    const TProtocolType t = settings.Type;
    batch_ = t == ptYmodem || t == ptYmodemG;
    streaming_ = t == ptXmodem1KG || t == ptYmodemG;
    crc_ = settings.BlockCheck != bcmChecksum;
    oneK_ = streaming_ || batch_ || t == ptXmodem1K || settings.BlockLength >= kLongBlock;
    st_.BlockCheck = crc_ ? bcmCrc16 : bcmChecksum;
    st_.BlockLength = static_cast<uint32_t>(oneK_ ? kLongBlock : kShortBlock);
    state_ = batch_ ? tyInitial : txInitial;
    st_.stateName = stateName(state_);
}

TProtocolType XmodemSender::effectiveType() const
{
    if (batch_)
        return streaming_ ? ptYmodemG : ptYmodem;
    if (!crc_)
        return ptXmodem;
    if (!oneK_)
        return ptXmodemCRC;
    return streaming_ ? ptXmodem1KG : ptXmodem1K;
}

std::vector<uint8_t> XmodemSender::cancelSequence() const
{
    return {CAN, CAN, CAN, BS, BS, BS};
}

void XmodemSender::setState(State s, int64_t nowMs, int64_t waitMs)
{
    state_ = s;
    st_.stateName = stateName(s);
    deadline_ = waitMs < 0 ? kNoDeadline : nowMs + waitMs;
}

void XmodemSender::start(int64_t nowMs)
{
    setStatus(psProtocolHandshake);
    handshakeTries_ = 1;
    if (batch_) {
        setState(tyHandshake, nowMs, settings_.HandshakeWaitMs);
        return;
    }
    // One file: it is opened before the receiver is waited for, so that a file that
    // cannot be read ends the transfer before it began.
    if (!openFile(nowMs))
        return;
    setStatus(psProtocolHandshake);
    setState(txHandshake, nowMs, settings_.HandshakeWaitMs);
}

bool XmodemSender::openFile(int64_t nowMs)
{
    SendFile f;
    const int rc = host_.nextFile(f);
    if (rc <= 0) {
        if (batch_ && rc == 0)
            return false;
        abortWith(rc < 0 ? rc : -ecNoMatchingFiles, psProtocolError);
        return false;
    }
    file_ = f;
    fileOpen_ = true;
    const TBlockCheckMethod check = st_.BlockCheck;
    st_ = TransferState{};
    st_.BlockCheck = check;
    st_.BlockLength = static_cast<uint32_t>(oneK_ ? kLongBlock : kShortBlock);
    st_.PathName = file_.path;
    st_.FileLength = file_.length;
    st_.BytesRemaining = file_.length;
    st_.fileStartMs = nowMs;
    st_.stateName = stateName(state_);
    offset_ = 0;
    blockNum_ = 1;
    host_.reportStatus(st_, kStatusFirst);
    return true;
}

void XmodemSender::releaseFile()
{
    closeOpenFile(FileSide::sending);
}

void XmodemSender::lineLost(int64_t)
{
    if (done_)
        return;
    // Every block was acknowledged: a receiver that hangs up instead of acknowledging
    // the end of the file (or of the batch) has what it needs.
    if ((state_ == txEotReply && !batch_) || state_ == tyFinishd) {
        if (fileOpen_) {
            fileOpen_ = false;
            host_.closeSendFile(true);
            setStatus(psEndFile);
            host_.reportStatus(st_, kStatusLast);
        }
        finish(0);
        return;
    }
    setStatus(psAbortNoCarrier);
    host_.reportError(-ecAbortNoCarrier);
    finish(-ecAbortNoCarrier);
}

void XmodemSender::peerCancelled()
{
    discardOutput();
    setStatus(psCancelRequested);
    finish(-ecCancelRequested);
}

bool XmodemSender::takeStartChar(uint8_t c)
{
    switch (c) {
    case NAK:
        crc_ = false;
        streaming_ = false;
        if (!batch_)
            oneK_ = false;
        break;
    case kCrcStart:
        crc_ = true;
        streaming_ = false;
        break;
    case kStreamStart:
        crc_ = true;
        streaming_ = true;
        oneK_ = true;
        break;
    default:
        return false;
    }
    st_.BlockCheck = crc_ ? bcmCrc16 : bcmChecksum;
    return true;
}

void XmodemSender::receive(const uint8_t* data, size_t n, int64_t nowMs)
{
    unused_ = 0;
    bool stale = false;
    for (size_t i = 0; i < n && !done_; ++i) {
        // What came with a reply in the same read cannot answer the block sent on it;
        // only a cancel still counts.
        if (stale && data[i] != CAN) {
            cans_ = 0;
            continue;
        }
        const uint64_t sentBefore = blocksSent_;
        onByte(data[i], nowMs);
        if (done_) {
            unused_ = n - i - 1;
            return;
        }
        if (blocksSent_ != sentBefore && !isStreamingSend(state_))
            stale = true;
    }
    if (done_)
        return;
    if (isStreamingSend(state_))
        sendBlocks(nowMs);
    else
        pump();
}

void XmodemSender::onByte(uint8_t c, int64_t nowMs)
{
    if (c == CAN) {
        // A CAN answers the handshake at once; elsewhere two in a row are needed, so
        // that a damaged reply does not end the transfer.
        if (isHandshakeState(state_) || ++cans_ >= 2)
            peerCancelled();
        return;
    }
    cans_ = 0;
    switch (state_) {
    case txHandshake:
        if (takeStartChar(c))
            startData(nowMs);
        break;
    case tyHandshake:
        if (takeStartChar(c))
            nextBatchFile(nowMs);
        break;
    case tyRplyPndng:
        if (c == ACK) {
            st_.BlockErrors = 0;
            setState(tyPrpXmdm, nowMs, settings_.XYmodemBlockWaitMs);
        } else if (c == NAK) {
            blockError(psBlockCheckError, nowMs);
        } else if (c == kCrcStart || c == kStreamStart) {
            // A streaming receiver asks for the data without acknowledging block 0.
            takeStartChar(c);
            startData(nowMs);
        }
        break;
    case tyPrpXmdm:
        if (takeStartChar(c))
            startData(nowMs);
        break;
    case txRplyPnding:
        if (c == ACK)
            blockAcknowledged(nowMs);
        else if (c == NAK)
            blockError(psBlockCheckError, nowMs);
        break;
    case txEotReply:
        if (c == ACK && streaming_) {
            streamingEotAck(nowMs);
        } else if (c == ACK) {
            endOfFile(nowMs);
        } else if (c == NAK) {
            eotAckHeld_ = false;
            blockError(psEndFile, nowMs);
        } else if (eotAckHeld_ && batch_ && (c == kCrcStart || c == kStreamStart)) {
            // The receiver asks for the next file: the held ACK was the EOT's.
            endOfFile(nowMs);
            onByte(c, nowMs);
        }
        break;
    case tyFinishd:
        if (c == ACK) {
            setStatus(psOK);
            finish(0);
        } else if (c == NAK) {
            blockError(psBlockCheckError, nowMs);
        }
        break;
    default:
        // Streaming: the receiver says nothing but a cancel, or acknowledges blocks.
        if (c == ACK && streaming_)
            ++streamAcks_;
        break;
    }
}

void XmodemSender::streamingEotAck(int64_t nowMs)
{
    ++streamAcks_;
    if (streamAcks_ > streamBlocks_) {
        // One past the blocks: the receiver acknowledged each of them, and now the EOT.
        eotAckHeld_ = false;
        endOfFile(nowMs);
        return;
    }
    if (streamAcks_ == 1) {
        // The EOT's from a receiver that does not acknowledge blocks, or the first block's
        // from one that does: another ACK soon tells which.
        eotAckHeld_ = true;
        deadline_ = nowMs + kEotQuietMs;
        return;
    }
    // A late block acknowledgement: the receiver is still taking the file in. Its cancel
    // may yet follow; the EOT's acknowledgement comes after the last block's.
    eotAckHeld_ = false;
    deadline_ = nowMs + replyWaitMs();
}

void XmodemSender::poll(int64_t nowMs)
{
    if (done_)
        return;
    if (isStreamingSend(state_)) {
        sendBlocks(nowMs);
    } else if (state_ == txEndDrain) {
        if (pendingOutput() == 0 || nowMs >= drainEndMs_) {
            sendEot(nowMs);
            return;
        }
        deadline_ = std::min(nowMs + kTickMs, drainEndMs_);
        return;
    } else {
        pump();
    }
    if (!done_ && nowMs >= deadline_)
        onTimeout(nowMs);
}

void XmodemSender::onTimeout(int64_t nowMs)
{
    if (state_ == txEotReply && eotAckHeld_) {
        // Quiet after a lone ACK: it was the EOT's.
        eotAckHeld_ = false;
        endOfFile(nowMs);
        return;
    }
    switch (state_) {
    case txHandshake:
    case tyHandshake:
        if (handshakeTries_ >= settings_.HandshakeRetry) {
            abortWith(-ecTimeout, psTimeout);
            return;
        }
        ++handshakeTries_;
        deadline_ = nowMs + settings_.HandshakeWaitMs;
        break;
    case tyPrpXmdm:
        // Block 0 was acknowledged but the request for the data never came: offer block 0
        // again, which a receiver that lost its request answers anew.
        state_ = tyRplyPndng;
        blockError(psTimeout, nowMs);
        break;
    case tyRplyPndng:
    case txRplyPnding:
    case txEotReply:
    case tyFinishd:
        blockError(psTimeout, nowMs);
        break;
    case txSendBlock:
    case txWtFreeSpc:
        // The port has not taken a byte for the whole transmit time-out.
        abortWith(-ecTimeout, psTimeout);
        break;
    default:
        break;
    }
}

void XmodemSender::nextBatchFile(int64_t nowMs)
{
    setState(tyGetFlName, nowMs, -1);
    if (!openFile(nowMs)) {
        if (done_)
            return;
        // The batch is complete: an empty block 0 says so.
        block_.clear();
        AppendBlock(block_, 0, nullptr, 0, kShortBlock, crc_, 0);
        queue(block_.data(), block_.size());
        ++blocksSent_;
        pump();
        st_.BlockErrors = 0;
        setStatus(psOK);
        awaitReply(tyFinishd, nowMs);
        return;
    }
    sendBlockZero(nowMs);
}

void XmodemSender::sendBlockZero(int64_t nowMs)
{
    std::vector<uint8_t> info = BatchFileInfo(file_, settings_.IncludeDirectory);
    if (info.size() > kLongBlock)
        info.resize(kLongBlock);
    block_.clear();
    AppendBlock(block_, 0, info.data(), info.size(), info.size() <= kShortBlock ? kShortBlock : kLongBlock, crc_, 0);
    queue(block_.data(), block_.size());
    ++blocksSent_;
    pump();
    st_.BlockErrors = 0;
    setState(tySndFlName, nowMs, -1);
    awaitReply(tyRplyPndng, nowMs);
}

void XmodemSender::startData(int64_t nowMs)
{
    blockNum_ = 1;
    offset_ = 0;
    st_.BlockErrors = 0;
    st_.BlockLength = static_cast<uint32_t>(oneK_ ? kLongBlock : kShortBlock);
    setStatus(psOK);
    streamBlocks_ = 0;
    streamAcks_ = 0;
    eotAckHeld_ = false;
    if (streaming_) {
        setState(txSendBlock, nowMs, -1);
        sendBlocks(nowMs);
        return;
    }
    if (offset_ >= file_.length) {
        sendEot(nowMs);
        return;
    }
    queueBlock(offset_, nowMs);
    if (!done_ && state_ != txEotReply)
        awaitReply(txRplyPnding, nowMs);
}

void XmodemSender::queueBlock(uint64_t offset, int64_t nowMs)
{
    const uint64_t remaining = file_.length - offset;
    const size_t length = oneK_ && remaining > kShortBlock ? kLongBlock : kShortBlock;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(length, remaining));
    const int rc = host_.readFile(offset, buf_.data(), want);
    if (rc < 0) {
        abortWith(rc, psProtocolError);
        return;
    }
    if (rc == 0) {
        // The file shrank while it was being sent: what was there is all there is.
        file_.length = offset;
        st_.FileLength = file_.length;
        st_.BytesRemaining = 0;
        if (streaming_)
            return;
        sendEot(nowMs);
        return;
    }
    blockData_ = static_cast<size_t>(rc);
    block_.clear();
    AppendBlock(block_, blockNum_, buf_.data(), blockData_, length, crc_, SUB);
    queue(block_.data(), block_.size());
    ++blocksSent_;
    if (streaming_)
        ++streamBlocks_;
    pump();
}

void XmodemSender::sendBlocks(int64_t nowMs)
{
    while (!done_ && isStreamingSend(state_)) {
        if (!pump()) {
            // The port is full: wait for room, as long as the transmit time-out allows.
            if (state_ != txWtFreeSpc)
                setState(txWtFreeSpc, nowMs, settings_.TransmitTimeoutMs);
            return;
        }
        if (state_ == txWtFreeSpc)
            setState(txSendBlock, nowMs, -1);
        if (offset_ >= file_.length) {
            // Let the queued blocks drain before EOT: FinishWait, or twice the time the
            // queue needs at the line's speed plus the block wait.
            int64_t waitMs = settings_.FinishWaitMs;
            if (waitMs <= 0) {
                const uint64_t cps = host_.lineSpeed() / 10;
                const uint64_t queued = pendingOutput();
                const int64_t blockTicks = settings_.XYmodemBlockWaitMs / kTickMs;
                const int64_t queueTicks = cps ? static_cast<int64_t>(queued / cps * 182 / 10) : 0;
                waitMs = 2 * (queueTicks + blockTicks) * kTickMs;
            }
            drainEndMs_ = nowMs + waitMs;
            setState(txEndDrain, nowMs, 0);
            deadline_ = std::min(nowMs + kTickMs, drainEndMs_);
            if (pendingOutput() == 0)
                sendEot(nowMs);
            return;
        }
        queueBlock(offset_, nowMs);
        if (done_ || !isStreamingSend(state_))
            return;
        offset_ += blockData_;
        st_.BytesTransferred = offset_;
        st_.BytesRemaining = file_.length - offset_;
        ++blockNum_;
    }
}

int64_t XmodemSender::replyWaitMs() const
{
    // The receiver repeats its NAK every block wait; the sender gives it one and a half
    // of them before it resends on its own, so that the two never cross (a block sent
    // twice earns two acknowledgements, and the second would pass for the next
    // block's). The reply cannot come before the block has left: the time the line
    // needs for what still waits is added.
    int64_t ms = settings_.XYmodemBlockWaitMs + settings_.XYmodemBlockWaitMs / 2;
    const uint64_t cps = host_.lineSpeed() / 10;
    if (cps)
        ms += static_cast<int64_t>(pendingOutput() * 1000 / cps);
    return ms;
}

void XmodemSender::awaitReply(State s, int64_t nowMs)
{
    setState(s, nowMs, replyWaitMs());
}

void XmodemSender::blockAcknowledged(int64_t nowMs)
{
    offset_ += blockData_;
    st_.BytesTransferred = offset_;
    st_.BytesRemaining = file_.length - offset_;
    st_.BlockErrors = 0;
    setStatus(psOK);
    ++blockNum_;
    if (offset_ >= file_.length) {
        sendEot(nowMs);
        return;
    }
    queueBlock(offset_, nowMs);
    if (!done_ && state_ == txRplyPnding)
        awaitReply(txRplyPnding, nowMs);
}

void XmodemSender::blockError(int status, int64_t nowMs)
{
    countError();
    setStatus(status);
    if (st_.BlockErrors > kMaxBlockErrors) {
        abortWith(-ecTooManyErrors, psProtocolError);
        return;
    }
    queue(block_.data(), block_.size());
    ++blocksSent_;
    pump();
    awaitReply(state_, nowMs);
}

void XmodemSender::sendEot(int64_t nowMs)
{
    block_.assign(1, EOT);
    queue(block_.data(), block_.size());
    ++blocksSent_;
    pump();
    st_.BlockErrors = 0;
    setState(txFirstEOT, nowMs, -1);
    awaitReply(txEotReply, nowMs);
}

void XmodemSender::endOfFile(int64_t nowMs)
{
    fileOpen_ = false;
    host_.closeSendFile(true);
    st_.BytesTransferred = file_.length;
    st_.BytesRemaining = 0;
    st_.BlockErrors = 0;
    setStatus(psEndFile);
    host_.reportStatus(st_, kStatusLast);
    if (!batch_) {
        setState(txDone, nowMs, -1);
        finish(0);
        return;
    }
    // The receiver asks for the next file's block 0.
    setStatus(psOK);
    handshakeTries_ = 1;
    setState(tyHandshake, nowMs, settings_.HandshakeWaitMs);
}

} // namespace zelvo::protocols
