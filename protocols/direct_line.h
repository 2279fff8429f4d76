#pragma once
// A line driven directly by a poll loop on one file descriptor, for use without the
// communications core's dispatcher: the command-line tool and the tests. The device is
// a terminal path (a serial port or a pseudo-terminal), or "exec:COMMAND", which starts
// the command through /bin/sh on a new pseudo-terminal whose master side is the line.
//
// Output is queued in a buffer of its own (like the dispatcher's output buffer) and
// written as the descriptor accepts it. At the end of a transfer the queue is drained
// and the far side is given time to read it; input is never flushed then, so the last
// bytes of a protocol are not lost.

#include <atomic>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

#include "comm/pty_child.h"
#include "protocols/protocol_line.h"

namespace zelvo::protocols {

class Protocol;

class DirectLine : public ProtocolLine {
public:
    explicit DirectLine(size_t outSize = 65536);
    ~DirectLine() override;
    DirectLine(const DirectLine&) = delete;
    DirectLine& operator=(const DirectLine&) = delete;

    // Returns 0, or a negative errno with errorText() saying what failed.
    int open(const std::string& device, uint32_t baud);
    // Uses an already open descriptor (taken over, closed by close()).
    int adopt(int fd, uint32_t baud);
    void close();
    const std::string& errorText() const { return error_; }
    pid_t child() const { return child_.pid(); }
    int fd() const { return fd_; }

    // Drives the protocol until its transfer has ended, then drains the output.
    // interrupt, when set, cancels the transfer (checked on every wake-up).
    int run(Protocol& protocol, const std::atomic<bool>* interrupt = nullptr);
    // Bytes read in the same piece as the transfer's last ones that were not part of
    // it (what the far side printed after its end).
    const std::vector<uint8_t>& leftover() const { return leftover_; }

    // ProtocolLine
    int putBlock(const uint8_t* data, size_t n) override;
    size_t outputFree() override;
    size_t outputUsed() override;
    void flushOutput() override;
    void flushInput() override;
    uint32_t baudRate() override { return baud_; }
    bool nominalRate() override;
    bool carrier() override;
    void setRTS(bool on) override;
    void wake() override;

private:
    bool writeSome();
    void drain(int timeoutMs);

    int fd_ = -1;
    int wake_[2] = {-1, -1};
    comm::PtyChild child_;
    uint32_t baud_ = 0;
    bool hungUp_ = false;
    std::vector<uint8_t> leftover_;
    std::vector<uint8_t> out_;
    size_t outHead_ = 0;
    size_t outSize_;
    std::string error_;
};

} // namespace zelvo::protocols
