#include "protocols/kermit_receiver.h"

#include <algorithm>

#include "protocols/kermit_defs.h"

namespace zelvo::protocols {

using namespace kermit;

const char* KermitReceiver::stateName(State s)
{
    static const char* const kNames[] = {
        "rkInit", "rkGetInit", "rkCollInit", "rkGetFile", "rkCollFile", "rkGetData",
        "rkCollData", "rkComplete", "rkWaitCancel", "rkError", "rkDone",
    };
    return kNames[s];
}

KermitReceiver::KermitReceiver(EngineHost& host, const EngineSettings& settings)
    : KermitEngine(host, settings)
{
    st_.stateName = stateName(state_);
    decoded_.reserve(8192);
}

void KermitReceiver::setState(State s, int64_t nowMs, int64_t waitMs)
{
    state_ = s;
    st_.stateName = stateName(s);
    deadline_ = waitMs < 0 ? kNoDeadline : nowMs + waitMs;
}

uint32_t KermitReceiver::windowsInUse() const
{
    return static_cast<uint32_t>(std::count_if(table_.begin(), table_.end(), [](const Slot& s) { return s.held; }));
}

void KermitReceiver::start(int64_t nowMs)
{
    if (!checkStart())
        return;
    setStatus(psProtocolHandshake);
    attempts_ = 1;
    // A sender that is already waiting sends its Send-Init again at once.
    nak(0);
    setState(rkGetInit, nowMs, settings_.HandshakeWaitMs);
}

void KermitReceiver::releaseFile()
{
    closeOpenFile(FileSide::receiving);
    state_ = rkDone;
    st_.stateName = stateName(state_);
}

void KermitReceiver::nak(uint8_t seq)
{
    sendPacket(seq, kNak);
}

void KermitReceiver::ackData(uint8_t seq)
{
    static const uint8_t kStopFile = 'X';
    sendPacket(seq, kAck, &kStopFile, skipping_ ? 1 : 0);
}

void KermitReceiver::onSendInit(const uint8_t* data, size_t n, int64_t nowMs)
{
    const KermitLink link = KermitLink::settle(ours_, KermitParams::parse(data, n));
    // Our answer carries our own parameters with the check type we settled on, so that
    // the sender, whatever rule it follows, ends up with the same one.
    KermitParams answer = ours_;
    answer.chkt = static_cast<uint8_t>('0' + link.checkType);
    const std::vector<uint8_t> fields = answer.encode();
    link_.framing = link.framing;
    initAck_.clear();
    KermitPacket::build(initAck_, 0, kAck, fields.data(), fields.size(), 1, link.framing, link.maxl);
    sendRaw(initAck_.data(), initAck_.size());
    applyLink(link);
    expected_ = 1;
    errors_ = 0;
    st_.BlockErrors = 0;
    setStatus(psOK);
    setState(rkGetFile, nowMs, waitMs());
}

void KermitReceiver::onPacket(const KermitDecoder::Event& ev, const uint8_t* data, size_t n, int64_t nowMs)
{
    // Acknowledgements come only from a receiver; an echo of our own must not count.
    if (ev.type == kAck || ev.type == kNak)
        return;
    if (state_ == rkInit || state_ == rkGetInit || state_ == rkCollInit) {
        if (ev.type == kSendInit)
            onSendInit(data, n, nowMs);
        return;
    }
    const uint32_t w = link_.windows;
    const uint32_t d = (ev.seq - expected_) & 63;
    if (ev.type == kSendInit) {
        // Our answer went missing; the sender asks again.
        if (d >= kSeqModulus - w)
            sendRaw(initAck_.data(), initAck_.size());
        return;
    }
    if (d == 0) {
        errors_ = 0;
        deadline_ = nowMs + waitMs();
        process(ev.seq, ev.type, data, n, false, nowMs);
        while (!done_ && slot(expected_).held) {
            Slot& s = slot(expected_);
            s.held = false;
            process(expected_, s.type, s.data.data(), s.data.size(), s.type == kData, nowMs);
        }
        return;
    }
    if (d < w) {
        // Ahead of a missing packet: keep it, acknowledge data at once, and ask for
        // each one still missing before it (once; time-outs ask again).
        errors_ = 0;
        deadline_ = nowMs + waitMs();
        Slot& s = slot(ev.seq);
        if (!s.held) {
            s.held = true;
            s.nakked = false;
            s.type = ev.type;
            s.data.assign(data, data + n);
        }
        if (ev.type == kData)
            ackData(ev.seq);
        for (uint8_t q = expected_; q != ev.seq; q = (q + 1) & 63) {
            Slot& m = slot(q);
            if (!m.held && !m.nakked) {
                m.nakked = true;
                nak(q);
            }
        }
        return;
    }
    if (d >= kSeqModulus - w) {
        // Already taken; our acknowledgement went missing.
        if (ev.type == kData)
            ackData(ev.seq);
        else
            sendPacket(ev.seq, kAck);
        return;
    }
    // Beyond the window: the sender has more packets outstanding than the table holds.
    abortWith(-ecTableFull, psProtocolError, {});
}

void KermitReceiver::process(uint8_t seq, uint8_t type, const uint8_t* data, size_t n, bool acked, int64_t nowMs)
{
    expected_ = (expected_ + 1) & 63;
    slot(seq).nakked = false;
    seq_ = seq;
    switch (type) {
    case kFileHeader:
        if (state_ == rkGetFile) {
            fileHeader(seq, data, n, nowMs);
            return;
        }
        break;
    case kAttributes:
        // Not asked for (we do not announce attributes), but harmless: accept them.
        sendPacket(seq, kAck);
        return;
    case kData:
        if (state_ == rkGetData) {
            dataPacket(seq, data, n, acked);
            return;
        }
        break;
    case kEof:
        if (state_ == rkGetData) {
            endOfFile(seq, data, n, nowMs);
            return;
        }
        break;
    case kBreak:
        if (state_ == rkGetFile) {
            // The status of the last file stands: a file that could not be written
            // decides the end code as with every engine.
            sendPacket(seq, kAck);
            if (st_.ProtocolStatus == psEndFile || st_.ProtocolStatus == psProtocolHandshake)
                setStatus(psOK);
            setState(rkComplete, nowMs, -1);
            finish(0);
            return;
        }
        break;
    default:
        break;
    }
    // Anything else here means the two sides no longer agree on where they are.
    abortWith(-ecProtocolError, psProtocolError, {});
}

void KermitReceiver::fileHeader(uint8_t seq, const uint8_t* data, size_t n, int64_t nowMs)
{
    decoded_.clear();
    quoting_.decode(data, n, decoded_);
    const std::string wireName(decoded_.begin(), decoded_.end());
    const TBlockCheckMethod check = st_.BlockCheck;
    const uint32_t block = st_.BlockLength;
    st_ = TransferState{};
    st_.BlockCheck = check;
    st_.BlockLength = block;
    st_.PathName = wireName;
    st_.fileStartMs = nowMs;
    pos_ = 0;
    skipping_ = false;

    std::string path;
    int rc = host_.resolveReceivedName(wireName, path);
    if (rc == 0) {
        st_.PathName = path;
        rc = host_.prepareReceiveFile(path);
        st_.PathName = path;
        if (rc < 0) {
            host_.reportError(rc);
            abortWith(-ecCantWriteFile, psCantWriteFile, kWriteErrorText);
            return;
        }
    }
    if (rc != 0) {
        // Refused by name or by WriteFailAction: the file is skipped, and the sender is
        // told so in the acknowledgement of its first data packet.
        skipping_ = true;
        setStatus(rc);
        host_.reportStatus(st_, kStatusFirst | kStatusLast);
    } else {
        fileOpen_ = true;
        setStatus(psOK);
        host_.reportStatus(st_, kStatusFirst);
    }
    sendPacket(seq, kAck);
    setState(rkGetData, nowMs, waitMs());
}

void KermitReceiver::dataPacket(uint8_t seq, const uint8_t* data, size_t n, bool acked)
{
    if (!acked)
        ackData(seq);
    if (skipping_)
        return;
    decoded_.clear();
    quoting_.decode(data, n, decoded_);
    if (!decoded_.empty()) {
        const int rc = host_.writeFile(pos_, decoded_.data(), decoded_.size());
        if (rc < 0) {
            host_.reportError(rc);
            abortWith(-ecCantWriteFile, psCantWriteFile, kWriteErrorText);
            return;
        }
    }
    pos_ += decoded_.size();
    st_.BytesTransferred = pos_;
    if (st_.ProtocolStatus != psOK)
        setStatus(psOK);
}

void KermitReceiver::endOfFile(uint8_t seq, const uint8_t* data, size_t n, int64_t nowMs)
{
    // "D" in the end-of-file packet: the sender gave the file up.
    const bool discard = n > 0 && data[0] == 'D';
    if (fileOpen_) {
        fileOpen_ = false;
        if (discard) {
            host_.closeReceiveFile(false, 0);
            setStatus(psSkipFile);
        } else {
            const int rc = host_.closeReceiveFile(true, 0);
            if (rc < 0) {
                host_.reportError(rc);
                abortWith(-ecCantWriteFile, psCantWriteFile, kWriteErrorText);
                return;
            }
            st_.FileLength = pos_;
            setStatus(psEndFile);
        }
        host_.reportStatus(st_, kStatusLast);
    }
    skipping_ = false;
    sendPacket(seq, kAck);
    setState(rkGetFile, nowMs, waitMs());
}

bool KermitReceiver::nakMissing(bool force)
{
    for (uint32_t d = 0; d < link_.windows; ++d) {
        const uint8_t q = (expected_ + d) & 63;
        Slot& m = slot(q);
        if (m.held || m.nakked)
            continue;
        // Beyond the expected one, only packets before one that arrived are known to
        // be missing.
        bool later = d == 0;
        for (uint32_t e = d + 1; !later && e < link_.windows; ++e)
            later = slot((expected_ + e) & 63).held;
        if (!later)
            break;
        m.nakked = true;
        nak(q);
        return true;
    }
    if (!force)
        return false;
    slot(expected_).nakked = true;
    nak(expected_);
    return true;
}

void KermitReceiver::error(int64_t nowMs)
{
    if (++errors_ > settings_.HandshakeRetry) {
        abortWith(-ecTooManyErrors, psProtocolError, {});
        return;
    }
    deadline_ = nowMs + waitMs();
}

void KermitReceiver::onBadPacket(int status, int64_t nowMs)
{
    countError();
    setStatus(status);
    if (state_ == rkInit || state_ == rkGetInit || state_ == rkCollInit)
        return;  // noise before the sender starts; the time-out asks again
    // Stop and wait: ask again for the packet awaited. With windows the damaged packet
    // may have been any of those in flight: ask for each missing one once, and leave
    // the rest to the packets that follow and to the time-out, so that a burst of
    // noise costs one resend per damaged packet.
    if (link_.windows == 1) {
        error(nowMs);
        if (!done_)
            nakMissing(true);
    } else if (nakMissing(false)) {
        error(nowMs);
    }
}

void KermitReceiver::onTimeout(int64_t nowMs)
{
    if (state_ == rkInit || state_ == rkGetInit || state_ == rkCollInit) {
        if (attempts_ >= settings_.HandshakeRetry) {
            setStatus(psTimeout);
            host_.reportError(-ecTimeout);
            finish(-ecTimeout);
            return;
        }
        ++attempts_;
        setStatus(psTimeout);
        nak(0);
        setState(rkGetInit, nowMs, settings_.HandshakeWaitMs);
        return;
    }
    countError();
    setStatus(psTimeout);
    error(nowMs);
    if (!done_)
        nakMissing(true);
}

} // namespace zelvo::protocols
