#pragma once
// The interface through which the protocol component drives an engine. An engine is a
// state machine: it is fed received bytes and the passing of time, advances as far as
// it can without waiting, and says when it next wants to be called. It does no I/O of
// its own: the line, the files and the reports go through its EngineHost.
//
// What every engine shares lives here: the queue of bytes waiting for room in the
// port's output buffer, the status and error counters, the cancel (discard what waits,
// take it back out of the byte count, send the protocol's cancel sequence) and the
// finish step (a zero code takes the one that belongs to the final status).
//
// Adding an engine for a protocol type:
//   1. Derive a sender and a receiver from ProtocolEngine (or one class serving both
//      directions). Implement start, receive, poll and lineLost; override cancel only
//      when the protocol cancels other than by its cancel sequence, and
//      cancelSequence() to give that sequence. Read the settings from settings_.
//   2. Add one entry for the type to the engine table in protocol.cpp (kEngines): the
//      values that choosing the type sets (block length and check, waits, overhead,
//      turn delay, batch or single file) and the two factories. Nothing else in the
//      component knows the engines; a type without an entry ends its transfers with
//      -6015 ("Function not supported by protocol").
//   3. Settings of the engine's own that the component holds reach it through
//      EngineSettings, which Protocol::engineSettings() fills.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "protocols/engine_host.h"

namespace zelvo::protocols {

// Settings handed to an engine when a transfer starts; times in milliseconds.
struct EngineSettings {
    TProtocolType Type = ptNoProtocol;
    TBlockCheckMethod BlockCheck = bcmNone;
    uint32_t BlockLength = 0;
    uint32_t HandshakeRetry = 10;
    int64_t HandshakeWaitMs = 182 * 55;
    int64_t TransmitTimeoutMs = 1092 * 55;
    int64_t FinishWaitMs = 364 * 55;
    uint32_t Overhead = 0;
    uint32_t TurnDelayMs = 0;
    bool IncludeDirectory = false;
    // A one-file receive: the local path the file is written to.
    std::string FileName;
    // Xmodem and Ymodem.
    int64_t XYmodemBlockWaitMs = 91 * 55;
    // Zmodem.
    bool ZmodemOptionOverride = false;
    bool ZmodemSkipNoFile = false;
    TZmodemFileOptions ZmodemFileOption = zfoWriteNewer;
    bool ZmodemRecover = false;
    bool Zmodem8K = false;
    uint32_t ZmodemFinishRetry = 0;
    // Kermit.
    uint32_t KermitMaxLen = 80;
    uint32_t KermitMaxWindows = 0;
    uint32_t KermitSWCTurnDelay = 0;
    uint32_t KermitTimeoutSecs = 5;
    char KermitPadCharacter = ' ';
    uint32_t KermitPadCount = 0;
    char KermitTerminator = '\r';
    char KermitCtlPrefix = '#';
    char KermitHighbitPrefix = 'Y';
    char KermitRepeatPrefix = '~';
    // ASCII.
    uint32_t AsciiCharDelayMs = 0;
    uint32_t AsciiLineDelayMs = 0;
    char AsciiEOLChar = '\r';
    TAsciiEOLTranslation AsciiCRTranslation = aetNone;
    TAsciiEOLTranslation AsciiLFTranslation = aetNone;
    int64_t AsciiEOFTimeoutMs = 364 * 55;
    bool AsciiSuppressCtrlZ = false;
};

class ProtocolEngine {
public:
    static constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();

    explicit ProtocolEngine(EngineHost& host, const EngineSettings& settings = {});
    virtual ~ProtocolEngine() = default;
    ProtocolEngine(const ProtocolEngine&) = delete;
    ProtocolEngine& operator=(const ProtocolEngine&) = delete;

    // First step of the transfer.
    virtual void start(int64_t nowMs) = 0;
    // Bytes received from the line.
    virtual void receive(const uint8_t* data, size_t n, int64_t nowMs) = 0;
    // Time passed or output space became free: expire timers, continue sending.
    virtual void poll(int64_t nowMs) = 0;
    // The user cancels: the engine sends its protocol's cancel sequence and ends.
    virtual void cancel(int64_t nowMs);
    // The line is gone (carrier lost, peer hung up).
    virtual void lineLost(int64_t nowMs) = 0;

    bool done() const { return done_; }
    // 0 for success, else the negative code that OnProtocolFinish reports.
    int result() const { return result_; }
    // When the engine next wants poll() (kNoDeadline: only on events).
    int64_t deadline() const { return deadline_; }
    // True while the engine has bytes that did not fit into the port's output buffer.
    virtual bool waitingForOutput() const { return outPos_ < out_.size(); }
    const TransferState& state() const { return st_; }
    // Bytes at the end of the last receive() that the engine did not take because the
    // transfer ended before them: they belong to whoever reads the line next (the
    // terminal shows the shell prompt that follows a transfer).
    size_t unusedInput() const { return unused_; }

protected:
    // The output queue: bytes are appended to out_ and pumped into the port as far as
    // it has room; what does not fit waits for the next pump.
    void queue(const uint8_t* data, size_t n) { out_.insert(out_.end(), data, data + n); }
    void sendRaw(const uint8_t* data, size_t n);
    // Moves queued bytes into the port as far as it has room; true when all went.
    bool pump();
    // Bytes still in our queue and in the port's output buffer.
    size_t pendingOutput() const;
    // Drops everything not yet written: our queue and the port's output buffer.
    void discardOutput();
    // Called by discardOutput, for engines that remember the last byte sent.
    virtual void outputDiscarded() {}

    void setStatus(int status) { st_.ProtocolStatus = status; }
    void countError()
    {
        ++st_.BlockErrors;
        ++st_.TotalErrors;
    }
    // Closes a file left open when the transfer ends early.
    virtual void releaseFile() {}
    enum class FileSide { sending, receiving };
    // Closes the open file, if any, as not complete and reports its last status: what
    // releaseFile does for every engine.
    void closeOpenFile(FileSide side);
    // Ends the transfer. A zero code takes the one that belongs to the final status.
    void finish(int code);
    // Ends with code and status after discarding what waits for the line, taking it
    // back out of the byte count (less Overhead for every whole block among it), and
    // sending the protocol's cancel sequence. A code other than a cancel is reported.
    void abortWith(int code, int status);
    // Opens settings_.FileName for a receive of one named file. False when the transfer
    // ended here instead (no name, the file cannot be written, or file management skips
    // it), with the outcome already reported; the caller then does nothing more.
    bool openNamedReceiveFile();
    // The bytes that tell the far side the transfer is cancelled (none by default).
    virtual std::vector<uint8_t> cancelSequence() const { return {}; }

    EngineHost& host_;
    EngineSettings settings_;
    TransferState st_;
    std::vector<uint8_t> out_;
    size_t outPos_ = 0;
    bool done_ = false;
    int result_ = 0;
    int64_t deadline_ = kNoDeadline;
    size_t unused_ = 0;
    // A file of the transfer is open with the host.
    bool fileOpen_ = false;
};

} // namespace zelvo::protocols
