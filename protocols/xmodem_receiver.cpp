#include "protocols/xmodem_receiver.h"

#include <algorithm>
#include <cstring>

#include "protocols/file_info.h"
#include "protocols/xmodem_block.h"

namespace zelvo::protocols {

using namespace xm;

const char* XmodemReceiver::stateName(State s)
{
    static const char* const kNames[] = {
        "rxInitial", "rxWtFrHSRply", "rxWtFrBlStrt", "rxCollBlock", "rxProcBlck", "rxFinSkip",
        "rxFinished", "rxDone", "ryInitial", "ryDelay", "ryWtFrHSRply", "ryWtFBlkStrt",
        "ryCollBlck", "ryProcBlck", "ryOpenFile", "ryPrepXmdm", "ryRcvXmodem", "ryFinished",
        "ryDone",
    };
    return kNames[s];
}

XmodemReceiver::XmodemReceiver(EngineHost& host, const EngineSettings& settings)
    : ProtocolEngine(host, settings), block_(2 + kLongBlock + 2)
{
    const TProtocolType t = settings.Type;
    batch_ = t == ptYmodem || t == ptYmodemG;
    streaming_ = t == ptXmodem1KG || t == ptYmodemG;
    crc_ = streaming_ || settings.BlockCheck != bcmChecksum;
    st_.BlockCheck = crc_ ? bcmCrc16 : bcmChecksum;
    st_.BlockLength = static_cast<uint32_t>(settings.BlockLength ? settings.BlockLength : kShortBlock);
    state_ = batch_ ? ryInitial : rxInitial;
    st_.stateName = stateName(state_);
}

uint8_t XmodemReceiver::startChar() const
{
    return streaming_ ? kStreamStart : crc_ ? kCrcStart : NAK;
}

std::vector<uint8_t> XmodemReceiver::cancelSequence() const
{
    return {CAN, CAN, CAN, BS, BS, BS};
}

void XmodemReceiver::setState(State s, int64_t nowMs, int64_t waitMs)
{
    state_ = s;
    st_.stateName = stateName(s);
    deadline_ = waitMs < 0 ? kNoDeadline : nowMs + waitMs;
}

bool XmodemReceiver::waitingForBlock() const
{
    switch (state_) {
    case rxWtFrHSRply:
    case rxWtFrBlStrt:
    case ryWtFrHSRply:
    case ryWtFBlkStrt:
    case ryRcvXmodem:
        return true;
    default:
        return false;
    }
}

bool XmodemReceiver::collecting() const
{
    return state_ == rxCollBlock || state_ == ryCollBlck;
}

void XmodemReceiver::reply(uint8_t c)
{
    sendRaw(&c, 1);
}

void XmodemReceiver::start(int64_t nowMs)
{
    setStatus(psProtocolHandshake);
    st_.fileStartMs = nowMs;
    if (batch_) {
        expectHeader_ = true;
    } else {
        if (!openNamedReceiveFile())
            return;
        fileOpen_ = true;
        host_.reportStatus(st_, kStatusFirst);
        setStatus(psProtocolHandshake);
    }
    handshakeTries_ = 1;
    reply(startChar());
    setState(batch_ ? ryWtFrHSRply : rxWtFrHSRply, nowMs, settings_.HandshakeWaitMs);
}

void XmodemReceiver::releaseFile()
{
    closeOpenFile(FileSide::receiving);
}

void XmodemReceiver::lineLost(int64_t)
{
    if (done_)
        return;
    // Between the files of a batch every file so far is complete: a sender that hangs
    // up there (its empty block 0 lost) has sent the whole batch.
    if (batch_ && expectHeader_ && started_ && !fileOpen_) {
        setStatus(psOK);
        finish(0);
        return;
    }
    setStatus(psAbortNoCarrier);
    host_.reportError(-ecAbortNoCarrier);
    finish(-ecAbortNoCarrier);
}

void XmodemReceiver::receive(const uint8_t* data, size_t n, int64_t nowMs)
{
    unused_ = 0;
    size_t i = 0;
    while (i < n && !done_) {
        if (collecting()) {
            const size_t take = std::min(need_ - have_, n - i);
            std::memcpy(block_.data() + have_, data + i, take);
            have_ += take;
            i += take;
            if (have_ == need_) {
                if (!processBlockAndPurge(nowMs))
                    break; // a damaged block: the rest of this read is its remains
            } else if (cancelInBlock()) {
                // A sender that cancels mid-block cuts the block short with its cancel
                // sequence: if the line then stays quiet, that was the end.
                deadline_ = std::min(deadline_, nowMs + kCancelQuietMs);
            }
            continue;
        }
        const uint8_t c = data[i++];
        if (!waitingForBlock())
            continue;
        if (c == CAN) {
            if (++cans_ >= 2) {
                discardOutput();
                setStatus(psCancelRequested);
                finish(-ecCancelRequested);
            }
            continue;
        }
        cans_ = 0;
        if (c == SOH)
            beginBlock(kShortBlock, nowMs);
        else if (c == STX)
            beginBlock(kLongBlock, nowMs);
        else if (c == EOT)
            endOfFile(nowMs);
        // Anything else is line noise between blocks.
    }
    if (done_) {
        unused_ = n - i;
        return;
    }
    pump();
}

void XmodemReceiver::beginBlock(size_t length, int64_t nowMs)
{
    dataLength_ = length;
    need_ = 2 + length + (crc_ ? 2 : 1);
    have_ = 0;
    setState(batch_ ? ryCollBlck : rxCollBlock, nowMs, settings_.XYmodemBlockWaitMs);
}

bool XmodemReceiver::processBlockAndPurge(int64_t nowMs)
{
    const uint8_t number = block_[0];
    const uint8_t complement = block_[1];
    const uint8_t* data = block_.data() + 2;
    setState(batch_ ? ryProcBlck : rxProcBlck, nowMs, -1);
    // A block number that does not match its complement is damage like a bad check: the
    // block is asked for again.
    if (!BlockIntact(number, complement, data, dataLength_, data + dataLength_, crc_)) {
        badBlock(psBlockCheckError, nowMs);
        return false;
    }
    started_ = true;
    if (batch_ && expectHeader_) {
        if (number != 0) {
            abortWith(-ecSequenceError, psSequenceError);
            return true;
        }
        blockZero(data, dataLength_, nowMs);
        return true;
    }
    if (batch_ && number == 0 && expected_ == 1) {
        // Block 0 again: our acknowledgement was lost.
        if (!streaming_)
            reply(ACK);
        reply(startChar());
        setStatus(psDuplicateBlock);
        waitBlock(nowMs);
        return true;
    }
    dataBlock(number, data, dataLength_, nowMs);
    return true;
}

void XmodemReceiver::blockZero(const uint8_t* data, size_t length, int64_t nowMs)
{
    const BatchFileHeader info = ParseBatchFileInfo(data, length);
    if (info.name.empty()) {
        // An empty block 0 ends the batch.
        reply(ACK);
        setStatus(psOK);
        setState(ryFinished, nowMs, -1);
        finish(0);
        return;
    }
    const TBlockCheckMethod check = st_.BlockCheck;
    st_ = TransferState{};
    st_.BlockCheck = check;
    st_.BlockLength = static_cast<uint32_t>(kLongBlock);
    st_.PathName = info.name;
    st_.FileLength = info.length;
    st_.BytesRemaining = info.length;
    st_.fileStartMs = nowMs;
    haveLength_ = info.haveLength;
    length_ = info.length;
    written_ = 0;
    mtime_ = info.mtime;
    discarding_ = false;
    setState(ryOpenFile, nowMs, -1);
    std::string path;
    int rc = host_.resolveReceivedName(info.name, path);
    if (rc == 0) {
        st_.PathName = path;
        rc = host_.prepareReceiveFile(path);
        st_.PathName = path;
        if (rc < 0) {
            host_.reportError(rc);
            rc = psCantWriteFile;
        }
    }
    if (rc != 0) {
        // Ymodem cannot refuse a file: its blocks are taken and dropped.
        discarding_ = true;
        setStatus(rc);
    } else {
        fileOpen_ = true;
        setStatus(info.badTime ? psInvalidDate : psOK);
    }
    host_.reportStatus(st_, kStatusFirst);
    expectHeader_ = false;
    expected_ = 1;
    setState(ryPrepXmdm, nowMs, -1);
    if (!streaming_)
        reply(ACK);
    reply(startChar());
    waitBlock(nowMs);
}

void XmodemReceiver::dataBlock(uint8_t number, const uint8_t* data, size_t length, int64_t nowMs)
{
    if (number == expected_) {
        if (fileOpen_) {
            // The file ends at the length block 0 gave; the rest of the block is fill.
            size_t keep = length;
            if (haveLength_)
                keep = static_cast<size_t>(std::min<uint64_t>(length, length_ > written_ ? length_ - written_ : 0));
            if (keep) {
                const int rc = host_.writeFile(written_, data, keep);
                if (rc < 0) {
                    abortWith(rc, psCantWriteFile);
                    return;
                }
            }
            written_ += keep;
        }
        st_.BytesTransferred += length;
        if (haveLength_)
            st_.BytesTransferred = std::min<uint64_t>(st_.BytesTransferred, length_);
        st_.BytesRemaining = st_.BytesRemaining > length ? st_.BytesRemaining - length : 0;
        ++expected_;
        st_.BlockErrors = 0;
        if (!discarding_)
            setStatus(psOK);
        // Acknowledged also when streaming: a streaming sender ignores it, and a sender
        // that answers 'G' like 'C' (lrzsz's sx does) waits for it.
        reply(ACK);
    } else if (number == static_cast<uint8_t>(expected_ - 1)) {
        // A repeat of the last block: its acknowledgement was lost.
        reply(ACK);
        st_.BlockErrors = 0;
        setStatus(psDuplicateBlock);
    } else {
        abortWith(-ecSequenceError, psSequenceError);
        return;
    }
    waitBlock(nowMs);
}

void XmodemReceiver::badBlock(int status, int64_t nowMs)
{
    countError();
    setStatus(status);
    if (streaming_) {
        // A streaming sender cannot resend: the transfer ends.
        abortWith(-ecProtocolError, psProtocolError);
        return;
    }
    if (st_.BlockErrors > kMaxBlockErrors) {
        abortWith(-ecTooManyErrors, psProtocolError);
        return;
    }
    // What remains of the damaged block is dropped before it is asked for again.
    host_.flushInput();
    reply(NAK);
    waitBlock(nowMs);
}

void XmodemReceiver::waitBlock(int64_t nowMs)
{
    const State s = batch_ ? (expectHeader_ ? ryWtFBlkStrt : ryRcvXmodem) : rxWtFrBlStrt;
    setState(s, nowMs, settings_.XYmodemBlockWaitMs);
}

void XmodemReceiver::endOfFile(int64_t nowMs)
{
    if (batch_ && expectHeader_ && started_) {
        // An EOT repeated because our acknowledgement was lost.
        reply(ACK);
        reply(startChar());
        waitBlock(nowMs);
        return;
    }
    reply(ACK);
    if (fileOpen_) {
        fileOpen_ = false;
        const int rc = host_.closeReceiveFile(true, mtime_);
        if (rc < 0) {
            abortWith(rc, psCantWriteFile);
            return;
        }
    }
    st_.BytesRemaining = 0;
    if (!discarding_)
        setStatus(psEndFile);
    host_.reportStatus(st_, kStatusLast);
    if (!batch_) {
        setState(rxFinished, nowMs, -1);
        finish(0);
        return;
    }
    // The next block 0 names the next file, or ends the batch.
    started_ = true;
    discarding_ = false;
    expectHeader_ = true;
    expected_ = 1;
    st_.BlockErrors = 0;
    reply(startChar());
    waitBlock(nowMs);
}

void XmodemReceiver::poll(int64_t nowMs)
{
    if (done_)
        return;
    pump();
    if (nowMs >= deadline_)
        onTimeout(nowMs);
}

bool XmodemReceiver::cancelInBlock() const
{
    // At least two CAN, then nothing but backspaces, at the end of what was collected.
    size_t i = have_;
    while (i > 0 && block_[i - 1] == BS)
        --i;
    int cans = 0;
    while (i > 0 && block_[i - 1] == CAN && cans < 2) {
        --i;
        ++cans;
    }
    return cans >= 2;
}

void XmodemReceiver::onTimeout(int64_t nowMs)
{
    if (collecting() && cancelInBlock()) {
        discardOutput();
        setStatus(psCancelRequested);
        finish(-ecCancelRequested);
        return;
    }
    if (!started_) {
        // The handshake: the start character again, every HandshakeWait; each repeat
        // counts as a block error.
        if (handshakeTries_ >= settings_.HandshakeRetry) {
            abortWith(-ecTimeout, psTimeout);
            return;
        }
        ++handshakeTries_;
        countError();
        reply(startChar());
        setState(batch_ ? ryWtFrHSRply : rxWtFrHSRply, nowMs, settings_.HandshakeWaitMs);
        return;
    }
    countError();
    setStatus(psTimeout);
    if (streaming_) {
        abortWith(-ecTimeout, psTimeout);
        return;
    }
    if (st_.BlockErrors > kMaxBlockErrors) {
        abortWith(-ecTooManyErrors, psProtocolError);
        return;
    }
    reply(expectHeader_ ? startChar() : NAK);
    waitBlock(nowMs);
}

} // namespace zelvo::protocols
