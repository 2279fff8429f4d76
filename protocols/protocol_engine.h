#pragma once
// The interface through which the protocol component drives an engine. An engine is a
// state machine: it is fed received bytes and the passing of time, advances as far as
// it can without waiting, and says when it next wants to be called.

#include <cstddef>
#include <cstdint>
#include <limits>

#include "protocols/engine_host.h"

namespace zelvo::protocols {

// Settings handed to an engine when a transfer starts; times in milliseconds.
struct EngineSettings {
    uint32_t HandshakeRetry = 10;
    int64_t HandshakeWaitMs = 182 * 55;
    int64_t TransmitTimeoutMs = 1092 * 55;
    int64_t FinishWaitMs = 364 * 55;
    uint32_t Overhead = 0;
    bool IncludeDirectory = false;
    bool ZmodemOptionOverride = false;
    bool ZmodemSkipNoFile = false;
    TZmodemFileOptions ZmodemFileOption = zfoWriteNewer;
    bool ZmodemRecover = false;
    bool Zmodem8K = false;
    uint32_t ZmodemFinishRetry = 0;
};

class ProtocolEngine {
public:
    static constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();

    explicit ProtocolEngine(EngineHost& host) : host_(host) {}
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
    virtual void cancel(int64_t nowMs) = 0;
    // The line is gone (carrier lost, peer hung up).
    virtual void lineLost(int64_t nowMs) = 0;

    bool done() const { return done_; }
    // 0 for success, else the negative code that OnProtocolFinish reports.
    int result() const { return result_; }
    // When the engine next wants poll() (kNoDeadline: only on events).
    int64_t deadline() const { return deadline_; }
    // True while the engine has bytes that did not fit into the port's output buffer.
    virtual bool waitingForOutput() const = 0;
    const TransferState& state() const { return st_; }
    // Bytes at the end of the last receive() that the engine did not take because the
    // transfer ended before them: they belong to whoever reads the line next (the
    // terminal shows the shell prompt that follows a transfer).
    size_t unusedInput() const { return unused_; }

protected:
    EngineHost& host_;
    TransferState st_;
    bool done_ = false;
    int result_ = 0;
    int64_t deadline_ = kNoDeadline;
    size_t unused_ = 0;
};

} // namespace zelvo::protocols
