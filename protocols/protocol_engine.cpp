#include "protocols/protocol_engine.h"

#include <algorithm>

namespace zelvo::protocols {

ProtocolEngine::ProtocolEngine(EngineHost& host, const EngineSettings& settings)
    : host_(host), settings_(settings)
{
    st_.BlockCheck = settings.BlockCheck;
    st_.BlockLength = settings.BlockLength;
}

void ProtocolEngine::sendRaw(const uint8_t* data, size_t n)
{
    queue(data, n);
    pump();
}

bool ProtocolEngine::pump()
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

size_t ProtocolEngine::pendingOutput() const
{
    return host_.outputUsed() + (out_.size() - outPos_);
}

void ProtocolEngine::discardOutput()
{
    out_.clear();
    outPos_ = 0;
    host_.flushOutput();
    outputDiscarded();
}

void ProtocolEngine::finish(int code)
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

void ProtocolEngine::closeOpenFile(FileSide side)
{
    if (!fileOpen_)
        return;
    fileOpen_ = false;
    if (side == FileSide::receiving)
        host_.closeReceiveFile(false, 0);
    else
        host_.closeSendFile(false);
    host_.reportStatus(st_, kStatusLast);
}

bool ProtocolEngine::openNamedReceiveFile()
{
    std::string path = settings_.FileName;
    if (path.empty()) {
        abortWith(-ecNoFilename, psProtocolError);
        return false;
    }
    const int rc = host_.prepareReceiveFile(path);
    if (rc < 0) {
        abortWith(rc, psCantWriteFile);
        return false;
    }
    st_.PathName = path;
    if (rc > 0) {
        setStatus(rc);
        host_.reportStatus(st_, kStatusFirst | kStatusLast);
        finish(0);
        return false;
    }
    return true;
}

void ProtocolEngine::abortWith(int code, int status)
{
    if (done_)
        return;
    // The bytes still waiting in the port never reached the far side: take them back
    // out of the count, less the protocol overhead of the whole blocks among them.
    const uint64_t waiting = pendingOutput();
    const uint32_t block = st_.BlockLength ? st_.BlockLength : 1024;
    if (waiting > block) {
        const uint64_t overhead = static_cast<uint64_t>(settings_.Overhead) * (waiting / block);
        const uint64_t payload = waiting > overhead ? waiting - overhead : 0;
        st_.BytesTransferred = st_.BytesTransferred > payload ? st_.BytesTransferred - payload : 0;
    }
    discardOutput();
    const std::vector<uint8_t> seq = cancelSequence();
    if (!seq.empty())
        sendRaw(seq.data(), seq.size());
    setStatus(status);
    if (code != -ecCancelRequested)
        host_.reportError(code);
    finish(code);
}

void ProtocolEngine::cancel(int64_t)
{
    abortWith(-ecCancelRequested, psCancelRequested);
}

} // namespace zelvo::protocols
