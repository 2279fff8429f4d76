#include "protocols/zmodem_sender.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "protocols/crc.h"
#include "protocols/file_info.h"
#include "protocols/zmodem_defs.h"

namespace zelvo::protocols {

using namespace zm;

const char* ZmodemSender::stateName(State s)
{
    static const char* const kNames[] = {
        "tzInitial", "tzHandshake", "tzGetFile", "tzSendFile", "tzCheckFile", "tzStartData",
        "tzEscapeData", "tzSendData", "tzWaitAck", "tzSendEof", "tzDrainEof", "tzCheckEof",
        "tzSendFinish", "tzChkFinish", "tzError", "tzCleanup", "tzDone",
    };
    return kNames[s];
}

ZmodemSender::ZmodemSender(EngineHost& host, const EngineSettings& settings)
    : ZmodemEngine(host, settings), blockLen_(fullBlockLength()), buf_(kBlockLength8K)
{
    st_.stateName = stateName(state_);
}

std::vector<uint8_t> ZmodemSender::fileInfo(const SendFile& file, bool includeDirectory)
{
    return BatchFileInfo(file, includeDirectory);
}

void ZmodemSender::setState(State s, int64_t nowMs, int64_t waitMs)
{
    state_ = s;
    st_.stateName = stateName(s);
    deadline_ = waitMs < 0 ? kNoDeadline : nowMs + waitMs;
}

void ZmodemSender::start(int64_t nowMs)
{
    setStatus(psProtocolHandshake);
    static const uint8_t kRz[] = {'r', 'z', '\r'};
    sendRaw(kRz, sizeof kRz);
    sendHex(ZRQINIT, 0);
    retries_ = 1;
    setState(tzHandshake, nowMs, settings_.HandshakeWaitMs);
}

void ZmodemSender::releaseFile()
{
    closeOpenFile(FileSide::sending);
}

void ZmodemSender::lineLost(int64_t)
{
    if (done_)
        return;
    if (state_ == tzChkFinish) {
        finish(0);
        return;
    }
    setStatus(psAbortNoCarrier);
    host_.reportError(-ecAbortNoCarrier);
    finish(-ecAbortNoCarrier);
}

void ZmodemSender::receive(const uint8_t* data, size_t n, int64_t nowMs)
{
    unused_ = 0;
    size_t i = 0;
    while (i < n && !done_) {
        ZmodemDecoder::Event ev;
        i += dec_.feed(data + i, n - i, ev);
        if (ev.kind == ZmodemDecoder::EventKind::Header) {
            onHeader(ev, nowMs);
            if (done_) {
                // The receiver's last ZFIN: what follows its line end is not ours.
                i += headerTail(data + i, n - i);
                unused_ = n - i;
                return;
            }
        } else if (ev.kind == ZmodemDecoder::EventKind::Cancel) {
            discardOutput();
            setStatus(psCancelRequested);
            finish(-ecCancelRequested);
            unused_ = n - i;
            return;
        }
        // Damaged headers are left to the time-outs; subpackets from a receiver (a
        // ZCOMMAND answer, say) mean nothing to a sender.
        if (dec_.inData())
            dec_.expectHeader();
    }
    if (!done_ && state_ == tzSendData)
        sendData(nowMs);
    else
        pump();
}

void ZmodemSender::poll(int64_t nowMs)
{
    if (done_)
        return;
    if (state_ == tzSendData) {
        sendData(nowMs);
    } else if (pump()) {
        outputWaitSince_ = -1;
    }
    if (!done_ && nowMs >= deadline_)
        onTimeout(nowMs);
}

void ZmodemSender::onTimeout(int64_t nowMs)
{
    switch (state_) {
    case tzHandshake:
    case tzCheckFile:
    case tzCheckEof:
        if (retries_ >= settings_.HandshakeRetry) {
            if (state_ == tzHandshake) {
                setStatus(psTimeout);
                host_.reportError(-ecTimeout);
                finish(-ecTimeout);
            } else {
                abortWith(-ecTimeout, psTimeout);
            }
            return;
        }
        ++retries_;
        setStatus(psTimeout);
        if (state_ == tzHandshake) {
            sendHex(ZRQINIT, 0);
            setState(tzHandshake, nowMs, settings_.HandshakeWaitMs);
        } else if (state_ == tzCheckFile) {
            sendZfile(nowMs);
        } else {
            sendBin(ZEOF, ZmodemEncoder::position(endPos()));
            setState(tzCheckEof, nowMs, settings_.HandshakeWaitMs);
        }
        break;
    case tzSendData:
        // The port has not taken a byte for the whole transmit time-out.
        abortWith(-ecTimeout, psTimeout);
        break;
    case tzWaitAck:
        if (++retries_ > settings_.HandshakeRetry) {
            abortWith(-ecTimeout, psTimeout);
            return;
        }
        countError();
        setStatus(psTimeout);
        discardOutput();
        startData(pos_ - sinceAck_, nowMs);
        break;
    case tzChkFinish:
        if (finishRetries_ < settings_.ZmodemFinishRetry) {
            ++finishRetries_;
            sendHex(ZFIN, 0);
            setState(tzChkFinish, nowMs, settings_.FinishWaitMs);
        } else {
            // Every file was confirmed before ZFIN; only the goodbye went missing.
            finish(0);
        }
        break;
    default:
        break;
    }
}

void ZmodemSender::onHeader(const ZmodemDecoder::Event& ev, int64_t nowMs)
{
    const uint8_t type = ev.type;
    switch (state_) {
    case tzHandshake:
        if (type == ZRINIT) {
            rxBufSize_ = ev.p[ZP0] | (ev.p[ZP1] << 8);
            enc_.setCrc32((ev.p[ZF0] & CANFC32) != 0);
            enc_.setEscapeAll((ev.p[ZF0] & ESCCTL) != 0);
            st_.BlockCheck = enc_.crc32() ? bcmCrc32 : bcmCrc16;
            nextFile(nowMs);
        } else if (type == ZCHALLENGE) {
            sendHex(ZACK, ev.p);
        }
        break;
    case tzCheckFile:
        switch (type) {
        case ZRPOS: {
            retries_ = 0;
            repeatedZrpos_ = 0;
            const uint32_t want = ev.position();
            lastZrpos_ = want;
            // A receiver that appends to its file may ask for its own length: beyond the
            // end of ours, or anywhere when we asked it to append. The whole file goes,
            // numbered from there, rather than an end of file it would never accept.
            const bool askedAppend = settings_.ZmodemFileOption == zfoWriteAppend && !settings_.ZmodemRecover;
            const bool append = (want > file_.length || (askedAppend && want > 0))
                && static_cast<uint64_t>(want) + file_.length <= 0xFFFFFFFFull;
            base_ = append ? want : 0;
            st_.InitialPosition = append ? 0 : std::min<uint64_t>(want, file_.length);
            startData(want, nowMs);
            break;
        }
        case ZSKIP:
            fileDone(false, psSkipFile, nowMs);
            break;
        case ZRINIT:
            // A receiver answers our ZRQINIT with another ZRINIT that may cross our
            // ZFILE; only a ZRINIT well after the ZFILE means it was lost. Answering the
            // echo would send the file twice and take the second ZSKIP for the next file.
            if (nowMs - zfileSentMs_ < kZrinitEchoMs)
                break;
            [[fallthrough]];
        case ZNAK:
            if (++retries_ > settings_.HandshakeRetry) {
                abortWith(-ecTimeout, psTimeout);
                return;
            }
            sendZfile(nowMs);
            break;
        case ZCRC:
            sendFileCrc(ev.position());
            break;
        case ZABORT:
        case ZFERR:
        case ZFIN:
            abortWith(-ecProtocolError, psProtocolError);
            break;
        default:
            break;
        }
        break;
    case tzSendData:
    case tzWaitAck:
    case tzCheckEof:
        switch (type) {
        case ZRPOS:
            reposition(ev.position(), nowMs);
            break;
        case ZACK:
            if (state_ == tzWaitAck && ev.position() == pos_) {
                sinceAck_ = 0;
                retries_ = 0;
                sendBin(ZDATA, ZmodemEncoder::position(pos_));
                setState(tzSendData, nowMs, -1);
            }
            break;
        case ZSKIP:
            discardOutput();
            fileDone(false, psSkipFile, nowMs);
            break;
        case ZRINIT:
            if (state_ == tzCheckEof)
                fileDone(true, psOK, nowMs);
            break;
        case ZNAK:
            if (state_ == tzCheckEof)
                sendBin(ZEOF, ZmodemEncoder::position(endPos()));
            break;
        case ZABORT:
        case ZFERR:
        case ZFIN:
            abortWith(-ecProtocolError, psProtocolError);
            break;
        default:
            break;
        }
        break;
    case tzChkFinish:
        if (type == ZFIN) {
            static const uint8_t kOO[] = {'O', 'O'};
            sendRaw(kOO, sizeof kOO);
            finish(0);
        }
        break;
    default:
        break;
    }
}

void ZmodemSender::nextFile(int64_t nowMs)
{
    setState(tzGetFile, nowMs, -1);
    for (;;) {
        SendFile f;
        const int rc = host_.nextFile(f);
        if (rc < 0) {
            abortWith(rc, psProtocolError);
            return;
        }
        if (rc == 0) {
            setStatus(psOK);
            finishRetries_ = 0;
            sendHex(ZFIN, 0);
            setState(tzChkFinish, nowMs, settings_.FinishWaitMs);
            return;
        }
        if (f.length > 0xFFFFFFFFull) {
            // Zmodem positions are 32 bits wide.
            host_.reportError(-EFBIG);
            host_.closeSendFile(false);
            continue;
        }
        file_ = f;
        break;
    }
    fileOpen_ = true;
    base_ = 0;
    const TBlockCheckMethod check = st_.BlockCheck;
    st_ = TransferState{};
    st_.BlockCheck = check;
    st_.PathName = file_.path;
    st_.FileLength = file_.length;
    st_.BytesRemaining = file_.length;
    st_.fileStartMs = nowMs;
    blockLen_ = fullBlockLength();
    st_.BlockLength = blockLen_;
    sinceError_ = 0;
    info_ = fileInfo(file_, settings_.IncludeDirectory);
    retries_ = 0;
    setStatus(psOK);
    host_.reportStatus(st_, kStatusFirst);
    sendZfile(nowMs);
}

void ZmodemSender::sendZfile(int64_t nowMs)
{
    std::array<uint8_t, 4> p{};
    p[ZF0] = settings_.ZmodemRecover ? ZCRESUM : 0;
    p[ZF1] = static_cast<uint8_t>((settings_.ZmodemFileOption & ZMMASK) | (settings_.ZmodemSkipNoFile ? ZMSKNOLOC : 0));
    enc_.binHeader(out_, ZFILE, p);
    enc_.dataSubpacket(out_, info_.data(), info_.size(), ZCRCW);
    pump();
    zfileSentMs_ = nowMs;
    setState(tzCheckFile, nowMs, settings_.HandshakeWaitMs);
}

void ZmodemSender::startData(uint32_t pos, int64_t nowMs)
{
    pos_ = std::clamp(pos, base_, endPos());
    st_.BytesTransferred = pos_ - base_;
    st_.BytesRemaining = endPos() - pos_;
    sinceAck_ = 0;
    if (pos_ == endPos()) {
        sendBin(ZEOF, ZmodemEncoder::position(pos_));
        retries_ = 0;
        setState(tzCheckEof, nowMs, settings_.HandshakeWaitMs);
        return;
    }
    sendBin(ZDATA, ZmodemEncoder::position(pos_));
    setState(tzSendData, nowMs, -1);
    sendData(nowMs);
}

void ZmodemSender::reposition(uint32_t pos, int64_t nowMs)
{
    if (pos == lastZrpos_) {
        if (++repeatedZrpos_ >= kMaxRepeatedZrpos) {
            abortWith(-ecTooManyErrors, psProtocolError);
            return;
        }
    } else {
        lastZrpos_ = pos;
        repeatedZrpos_ = 1;
    }
    countError();
    setStatus(psBlockCheckError);
    if (blockLen_ > kMinBlockLength)
        blockLen_ = std::max(kMinBlockLength, blockLen_ / 2);
    st_.BlockLength = blockLen_;
    sinceError_ = 0;
    discardOutput();
    retries_ = 0;
    startData(pos, nowMs);
}

void ZmodemSender::sendData(int64_t nowMs)
{
    while (state_ == tzSendData && !done_) {
        if (!pump()) {
            if (outputWaitSince_ < 0)
                outputWaitSince_ = nowMs;
            deadline_ = outputWaitSince_ + settings_.TransmitTimeoutMs;
            return;
        }
        outputWaitSince_ = -1;
        deadline_ = kNoDeadline;
        const uint64_t left = endPos() - pos_;
        size_t n = static_cast<size_t>(std::min<uint64_t>(blockLen_, left));
        int rc = n ? host_.readFile(pos_ - base_, buf_.data(), n) : 0;
        if (rc < 0) {
            abortWith(rc, psProtocolError);
            return;
        }
        if (static_cast<size_t>(rc) < n) {
            // The file shrank while it was being sent: what is there is all there is.
            file_.length = pos_ - base_ + static_cast<uint64_t>(rc);
            st_.FileLength = file_.length;
        }
        n = static_cast<size_t>(rc);
        const bool last = pos_ + n >= endPos();
        uint8_t end = ZCRCG;
        if (last)
            end = ZCRCE;
        else if (rxBufSize_ && sinceAck_ + n >= rxBufSize_)
            end = ZCRCW;
        enc_.dataSubpacket(out_, buf_.data(), n, end);
        pos_ += static_cast<uint32_t>(n);
        sinceAck_ += static_cast<uint32_t>(n);
        st_.BytesTransferred = pos_ - base_;
        st_.BytesRemaining = endPos() - pos_;
        if (blockLen_ < fullBlockLength() && ++sinceError_ >= 4) {
            blockLen_ = fullBlockLength();
            st_.BlockLength = blockLen_;
        }
        if (last) {
            enc_.binHeader(out_, ZEOF, ZmodemEncoder::position(pos_));
            retries_ = 0;
            setState(tzCheckEof, nowMs, settings_.HandshakeWaitMs);
            pump();
            return;
        }
        if (end == ZCRCW) {
            setState(tzWaitAck, nowMs, settings_.HandshakeWaitMs);
            pump();
            return;
        }
    }
}

void ZmodemSender::fileDone(bool completed, int status, int64_t nowMs)
{
    fileOpen_ = false;
    host_.closeSendFile(completed);
    setStatus(completed ? psEndFile : status);
    host_.reportStatus(st_, kStatusLast);
    nextFile(nowMs);
}

void ZmodemSender::sendFileCrc(uint32_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    uint64_t want = length ? std::min<uint64_t>(length, file_.length) : file_.length;
    uint64_t off = 0;
    while (off < want) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(buf_.size(), want - off));
        const int rc = host_.readFile(off, buf_.data(), n);
        if (rc <= 0)
            break;
        crc = crc32Raw(buf_.data(), static_cast<size_t>(rc), crc);
        off += static_cast<uint64_t>(rc);
    }
    sendHex(ZCRC, ~crc);
}

} // namespace zelvo::protocols
