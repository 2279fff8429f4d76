#include "protocols/zmodem_receiver.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "protocols/file_info.h"
#include "protocols/received_name.h"
#include "protocols/zmodem_defs.h"

namespace zelvo::protocols {

using namespace zm;

const char* ZmodemReceiver::stateName(State s)
{
    static const char* const kNames[] = {
        "rzRqstFile", "rzDelay", "rzWaitFile", "rzCollFile", "rzSendInit", "rzSndBlkPrp",
        "rzSendBlock", "rzSync", "rzStartFile", "rzStartData", "rzCollData", "rzGotData",
        "rzWaitEof", "rzEndOfFile", "rzSendFinish", "rzCollFin", "rzError", "rzWaitCancel",
        "rzCleanup", "rzDone",
    };
    return kNames[s];
}

ZmodemReceiver::ZmodemReceiver(EngineHost& host, const EngineSettings& settings)
    : ZmodemEngine(host, settings)
{
    st_.stateName = stateName(state_);
}

void ZmodemReceiver::setState(State s, int64_t nowMs, int64_t waitMs)
{
    state_ = s;
    st_.stateName = stateName(s);
    deadline_ = waitMs < 0 ? kNoDeadline : nowMs + waitMs;
}

ZmodemReceiver::Decision ZmodemReceiver::decide(uint8_t conversion, uint8_t management,
                                                const LocalFile& local, uint64_t incomingLength,
                                                int64_t incomingMtime, bool haveLength)
{
    Decision d;
    if (local.exists && haveLength && incomingLength > local.length && conversion == ZCRESUM) {
        d.mode = OpenMode::Resume;
        d.offset = local.length;
        d.position = local.length;
        return d;
    }
    if ((management & ZMSKNOLOC) && !local.exists) {
        d.skipStatus = psFileDoesntExist;
        return d;
    }
    if (!local.exists)
        return d;
    int rule = management & ZMMASK;
    if (rule == zfoNoOption)
        rule = zfoWriteProtect;
    // Times closer than two seconds count as equal: file systems keep them with
    // different precision.
    const int64_t diff = incomingMtime - local.mtime;
    const bool newer = incomingMtime != 0 && diff >= 2;
    const bool sameTime = diff > -2 && diff < 2;
    bool write = false;
    switch (rule) {
    case zfoWriteNewerLonger: write = newer || (haveLength && incomingLength > local.length); break;
    case zfoWriteCrc:
    case zfoWriteNewer: write = newer; break;
    case zfoWriteAppend:
        d.mode = OpenMode::Append;
        d.offset = local.length;
        return d;
    case zfoWriteClobber: write = true; break;
    case zfoWriteDifferent: write = !sameTime || (haveLength && incomingLength != local.length); break;
    default: write = false; break;
    }
    if (!write)
        d.skipStatus = psCantWriteFile;
    return d;
}

void ZmodemReceiver::sendZrinit()
{
    std::array<uint8_t, 4> p{};
    p[ZF0] = kCapabilities;
    sendHex(ZRINIT, p);
}

void ZmodemReceiver::sendZrpos()
{
    if (!attn_.empty())
        sendRaw(reinterpret_cast<const uint8_t*>(attn_.data()), attn_.size());
    sendHex(ZRPOS, pos_);
}

void ZmodemReceiver::start(int64_t nowMs)
{
    setStatus(psProtocolHandshake);
    st_.BlockLength = fullBlockLength();
    setState(rzDelay, nowMs, kStartDelayMs);
}

void ZmodemReceiver::releaseFile()
{
    closeOpenFile(FileSide::receiving);
}

void ZmodemReceiver::lineLost(int64_t nowMs)
{
    if (done_)
        return;
    if (state_ == rzCollFin) {
        finish(failedFile_ ? -ecProtocolError : 0);
        return;
    }
    (void)nowMs;
    setStatus(psAbortNoCarrier);
    host_.reportError(-ecAbortNoCarrier);
    finish(-ecAbortNoCarrier);
}

void ZmodemReceiver::receive(const uint8_t* data, size_t n, int64_t nowMs)
{
    unused_ = 0;
    size_t i = 0;
    while (i < n && !done_) {
        if (state_ == rzCollFin && dec_.idle()) {
            // After our ZFIN the sender says "OO"; a repeated ZFIN (a frame starting with
            // ZPAD) is answered again. Anything else is what the far side does next (a
            // shell prompt): the wait ends and those bytes are left to the terminal.
            i += headerTail(data + i, n - i);
            if (i >= n)
                break;
            const uint8_t c = data[i];
            if (c == 'O') {
                ++i;
                if (++finishOs_ >= 2) {
                    finish(failedFile_ ? -ecProtocolError : 0);
                    unused_ = n - i;
                    return;
                }
                continue;
            }
            if (c != ZPAD) {
                finish(failedFile_ ? -ecProtocolError : 0);
                unused_ = n - i;
                return;
            }
        }
        ZmodemDecoder::Event ev;
        i += dec_.feed(data + i, n - i, ev);
        switch (ev.kind) {
        case ZmodemDecoder::EventKind::None: break;
        case ZmodemDecoder::EventKind::Header: onHeader(ev, nowMs); break;
        case ZmodemDecoder::EventKind::Data: onData(ev, nowMs); break;
        case ZmodemDecoder::EventKind::BadData: onBadData(psBlockCheckError, nowMs); break;
        case ZmodemDecoder::EventKind::TooLong: onBadData(psLongPacket, nowMs); break;
        case ZmodemDecoder::EventKind::BadHeader:
            if (state_ == rzStartData || state_ == rzSync || state_ == rzWaitEof)
                dataError(psBlockCheckError, nowMs);
            break;
        case ZmodemDecoder::EventKind::Cancel:
            setStatus(psCancelRequested);
            finish(-ecCancelRequested);
            unused_ = n - i;
            return;
        }
    }
    pump();
}

void ZmodemReceiver::poll(int64_t nowMs)
{
    if (done_)
        return;
    pump();
    if (nowMs >= deadline_)
        onTimeout(nowMs);
}

void ZmodemReceiver::onTimeout(int64_t nowMs)
{
    switch (state_) {
    case rzRqstFile:
    case rzDelay:
        retries_ = 1;
        sendZrinit();
        setState(rzWaitFile, nowMs, settings_.HandshakeWaitMs);
        break;
    case rzWaitFile:
    case rzCollFile:
        if (retries_ >= settings_.HandshakeRetry) {
            setStatus(psTimeout);
            host_.reportError(-ecTimeout);
            finish(-ecTimeout);
            return;
        }
        ++retries_;
        setStatus(psTimeout);
        if (state_ == rzCollFile && !lastHeaderBinary_)
            dec_.setHexDataCrc32(!dec_.hexDataCrc32());
        dec_.expectHeader();
        sendZrinit();
        setState(rzWaitFile, nowMs, settings_.HandshakeWaitMs);
        break;
    case rzWaitEof:
        if (++retries_ >= settings_.HandshakeRetry) {
            setStatus(psTimeout);
            abortWith(-ecTimeout, psTimeout);
            return;
        }
        dataError(psTimeout, nowMs);
        break;
    case rzStartData:
    case rzSync:
    case rzCollData:
        dataError(psTimeout, nowMs);
        break;
    case rzCollFin:
        // The sender's "OO" is a courtesy; the files are all safe by now.
        finish(failedFile_ ? -ecProtocolError : 0);
        break;
    default:
        break;
    }
}

void ZmodemReceiver::dataError(int status, int64_t nowMs)
{
    countError();
    setStatus(status);
    if (st_.BlockErrors >= kMaxErrors) {
        abortWith(-ecTooManyErrors, psProtocolError);
        return;
    }
    dec_.expectHeader();
    sendZrpos();
    setState(rzSync, nowMs, settings_.HandshakeWaitMs);
}

void ZmodemReceiver::onBadData(int status, int64_t nowMs)
{
    if (state_ == rzCollFile) {
        // The file information was damaged: ask for the header again. After a hex
        // header the check may have been the other one; try that next time.
        if (!lastHeaderBinary_)
            dec_.setHexDataCrc32(!dec_.hexDataCrc32());
        countError();
        setStatus(status);
        collecting_ = 0;
        sendHex(ZNAK, 0);
        setState(fileOpen_ ? rzStartData : rzWaitFile, nowMs, settings_.HandshakeWaitMs);
        return;
    }
    if (state_ == rzCollData || state_ == rzStartData || state_ == rzSync || state_ == rzWaitEof)
        dataError(status, nowMs);
}

void ZmodemReceiver::onHeader(const ZmodemDecoder::Event& ev, int64_t nowMs)
{
    const uint8_t type = ev.type;
    lastHeaderBinary_ = ev.binary;
    switch (state_) {
    case rzRqstFile:
    case rzDelay:
    case rzWaitFile:
    case rzCollFile:
        switch (type) {
        case ZRQINIT:
        case ZEOF:
            sendZrinit();
            setState(rzWaitFile, nowMs, settings_.HandshakeWaitMs);
            break;
        case ZSINIT:
            if (ev.p[ZF0] & TESCCTL)
                enc_.setEscapeAll(true);
            collecting_ = ZSINIT;
            setState(rzCollFile, nowMs, settings_.HandshakeWaitMs);
            break;
        case ZFILE:
            conversion_ = ev.p[ZF0];
            management_ = ev.p[ZF1];
            transport_ = ev.p[ZF2];
            collecting_ = ZFILE;
            setState(rzCollFile, nowMs, settings_.HandshakeWaitMs);
            break;
        case ZCOMMAND:
            collecting_ = ZCOMMAND;
            setState(rzCollFile, nowMs, settings_.HandshakeWaitMs);
            break;
        case ZFIN:
            sendHex(ZFIN, 0);
            finishOs_ = 0;
            setState(rzCollFin, nowMs, settings_.FinishWaitMs);
            break;
        case ZDATA:
            // Data for a file we skipped or never saw; wait for the sender to move on.
            dec_.expectHeader();
            break;
        default:
            break;
        }
        break;
    case rzStartData:
    case rzSync:
    case rzWaitEof:
    case rzCollData:
        switch (type) {
        case ZDATA:
            if (ev.position() == pos_) {
                setState(rzCollData, nowMs, settings_.HandshakeWaitMs);
            } else {
                dec_.expectHeader();
                dataError(psSequenceError, nowMs);
            }
            break;
        case ZEOF:
            if (ev.position() == pos_)
                endOfFile(nowMs);
            // A ZEOF for another position is from before a repositioning: ignore it.
            break;
        case ZFILE:
            // The sender missed our ZRPOS; answer its repeated ZFILE once more.
            collecting_ = ZFILE;
            refile_ = true;
            setState(rzCollFile, nowMs, settings_.HandshakeWaitMs);
            break;
        case ZNAK:
            sendZrpos();
            break;
        case ZFIN:
            // The sender gave up on this file.
            failedFile_ = true;
            releaseFile();
            sendHex(ZFIN, 0);
            finishOs_ = 0;
            setState(rzCollFin, nowMs, settings_.FinishWaitMs);
            break;
        default:
            break;
        }
        break;
    case rzCollFin:
        if (type == ZFIN)
            sendHex(ZFIN, 0);
        break;
    default:
        break;
    }
}

void ZmodemReceiver::onData(const ZmodemDecoder::Event& ev, int64_t nowMs)
{
    const uint8_t* data = dec_.data();
    const size_t n = dec_.dataLength();
    if (state_ == rzCollFile) {
        const uint8_t what = collecting_;
        collecting_ = 0;
        if (what == ZFILE) {
            if (refile_) {
                refile_ = false;
                const std::string name(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), n));
                if (fileOpen_ && name == currentWireName_) {
                    sendHex(ZRPOS, pos_);
                    setState(rzStartData, nowMs, settings_.HandshakeWaitMs);
                    return;
                }
                // The sender gave up on the open file and went on to another one.
                releaseFile();
            }
            handleFileInfo(data, n, nowMs);
        } else if (what == ZSINIT) {
            attn_.assign(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), std::min<size_t>(n, 32)));
            sendHex(ZACK, 1);
            setState(rzWaitFile, nowMs, settings_.HandshakeWaitMs);
        } else {
            // Remote commands are never run here: report completion with a failure status.
            sendHex(ZCOMPL, 1);
            setState(rzWaitFile, nowMs, settings_.HandshakeWaitMs);
        }
        return;
    }
    if (state_ != rzCollData)
        return;
    if (static_cast<uint64_t>(pos_) + n > 0xFFFFFFFFull) {
        // Positions are 32 bits wide: data beyond 4 GiB would wrap onto the start.
        abortWith(-ecProtocolError, psProtocolError);
        return;
    }
    if (n) {
        const int rc = host_.writeFile(fileBase_ + pos_, data, n);
        if (rc < 0) {
            abortWith(rc, psCantWriteFile);
            return;
        }
    }
    pos_ += static_cast<uint32_t>(n);
    st_.BytesTransferred = pos_;
    st_.BytesRemaining = st_.FileLength > pos_ ? st_.FileLength - pos_ : 0;
    st_.BlockErrors = 0;
    retries_ = 0;
    deadline_ = nowMs + settings_.HandshakeWaitMs;
    switch (ev.end) {
    case ZCRCE:
        setStatus(psGotCrcE);
        setState(rzWaitEof, nowMs, settings_.HandshakeWaitMs);
        break;
    case ZCRCG:
        setStatus(psGotCrcG);
        break;
    case ZCRCQ:
        setStatus(psGotCrcQ);
        sendHex(ZACK, pos_);
        break;
    case ZCRCW:
        setStatus(psGotCrcW);
        sendHex(ZACK, pos_);
        setState(rzStartData, nowMs, settings_.HandshakeWaitMs);
        break;
    default:
        break;
    }
}

void ZmodemReceiver::handleFileInfo(const uint8_t* data, size_t n, int64_t nowMs)
{
    const BatchFileHeader info = ParseBatchFileInfo(data, n);
    const std::string& wireName = info.name;
    const bool haveLength = info.haveLength;
    const uint64_t length = info.length;
    const int64_t mtime = info.mtime;
    const bool badTime = info.badTime;
    incomingMtime_ = mtime;

    st_ = TransferState{};
    st_.BlockCheck = bcmCrc32;
    st_.BlockLength = fullBlockLength();
    st_.FileLength = length;
    st_.BytesRemaining = length;
    st_.fileStartMs = nowMs;
    st_.stateName = stateName(state_);
    st_.PathName = wireName;

    auto skip = [&](int status) {
        setStatus(status);
        host_.reportStatus(st_, kStatusFirst | kStatusLast);
        sendHex(ZSKIP, 0);
        setState(rzWaitFile, nowMs, settings_.HandshakeWaitMs);
    };

    currentWireName_ = wireName;
    if (haveLength && length > 0xFFFFFFFFull) {
        // Zmodem positions are 32 bits wide; such a file cannot be received whole.
        st_.Detail = "file of 4 GiB or more refused";
        skip(psSkipFile);
        return;
    }
    std::string path;
    const int accepted = host_.resolveReceivedName(wireName, path);
    if (accepted != 0) {
        skip(accepted);
        return;
    }
    st_.PathName = path;
    LocalFile local;
    const int rc = host_.statLocal(path, local);
    if (rc < 0) {
        host_.reportError(rc);
        skip(psSkipFile);
        return;
    }
    uint8_t management = management_;
    if (settings_.ZmodemOptionOverride)
        management = static_cast<uint8_t>(settings_.ZmodemFileOption | (settings_.ZmodemSkipNoFile ? ZMSKNOLOC : 0));
    const uint8_t conversion = settings_.ZmodemRecover ? ZCRESUM : conversion_;
    Decision d = decide(conversion, management, local, length, mtime, haveLength);
    if (!d.skipStatus && d.mode == OpenMode::Resume) {
        // A partly received file: whoever runs the transfer may have it resumed (the
        // default), skipped, or received whole (under a '$' name when renaming).
        TWriteFailAction action = wfWriteResume;
        host_.askResume(path, action);
        if (action == wfWriteFail) {
            d.skipStatus = psCantWriteFile;
        } else if (action != wfWriteResume) {
            if (action == wfWriteRename) {
                path = RenamedPath(path);
                st_.PathName = path;
            }
            d = Decision{};
        }
    }
    if (!d.skipStatus && d.position > 0xFFFFFFFFull)
        d.skipStatus = psCantWriteFile;
    if (d.skipStatus) {
        skip(d.skipStatus);
        return;
    }
    const int orc = host_.openReceiveFile(path, d.mode, d.offset);
    if (orc < 0) {
        host_.reportError(orc);
        skip(psCantWriteFile);
        return;
    }
    fileOpen_ = true;
    pos_ = static_cast<uint32_t>(d.position);
    fileBase_ = d.offset - d.position;
    st_.InitialPosition = d.position;
    st_.BytesTransferred = pos_;
    st_.BytesRemaining = length > pos_ ? length - pos_ : 0;
    st_.BlockErrors = 0;
    retries_ = 0;
    setStatus(badTime ? psInvalidDate : psOK);
    host_.reportStatus(st_, kStatusFirst);
    sendHex(ZRPOS, pos_);
    setState(rzStartData, nowMs, settings_.HandshakeWaitMs);
}

void ZmodemReceiver::endOfFile(int64_t nowMs)
{
    fileOpen_ = false;
    const int rc = host_.closeReceiveFile(true, incomingMtime_);
    if (rc < 0) {
        host_.reportStatus(st_, kStatusLast);
        abortWith(rc, psCantWriteFile);
        return;
    }
    st_.FileLength = std::max<uint64_t>(st_.FileLength, pos_);
    st_.BytesTransferred = pos_;
    st_.BytesRemaining = 0;
    setStatus(psEndFile);
    host_.reportStatus(st_, kStatusLast);
    setStatus(psOK);
    retries_ = 0;
    sendZrinit();
    setState(rzWaitFile, nowMs, settings_.HandshakeWaitMs);
}

} // namespace zelvo::protocols
