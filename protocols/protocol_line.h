#pragma once
// The port as the protocol component sees it, and how its events reach the user
// interface. The component is driven by whoever owns the line: the communications
// core's dispatch thread for the program, a poll loop for the command-line tool.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace zelvo::protocols {

class ProtocolLine {
public:
    virtual ~ProtocolLine() = default;
    // Queues all of the bytes or none: 0, or a negative code when they do not fit.
    virtual int putBlock(const uint8_t* data, size_t n) = 0;
    virtual size_t outputFree() = 0;
    virtual size_t outputUsed() = 0;
    virtual void flushOutput() = 0;
    virtual void flushInput() = 0;
    // Bits per second, 0 when unknown.
    virtual uint32_t baudRate() = 0;
    // True when that rate paces nothing (a pseudo-terminal): the status window then
    // goes by the measured throughput.
    virtual bool nominalRate() { return false; }
    virtual bool carrier() = 0;
    virtual void setRTS(bool on) = 0;
    // Asks the driver to call Protocol::service() soon, from its own thread.
    virtual void wake() = 0;
    // The transfer has ended. The driver hands the line back and then calls finished,
    // which raises OnProtocolFinish; a driver that is inside a notification of the line
    // may call it later, once what the transfer left unread is free for other readers.
    virtual void transferEnded(std::function<void()> finished) { finished(); }
};

// Runs the component's events on the user-interface thread.
class EventDelivery {
public:
    virtual ~EventDelivery() = default;
    // Queued call; returns at once.
    virtual void post(std::function<void()> fn) = 0;
    // Blocking call with a time limit; false when it was not handled in time.
    virtual bool send(std::function<void()> fn, int timeoutMs) = 0;
};

// For single-threaded use (the tool, tests): events run at once on the calling thread.
class DirectDelivery : public EventDelivery {
public:
    void post(std::function<void()> fn) override { fn(); }
    bool send(std::function<void()> fn, int) override
    {
        fn();
        return true;
    }
};

} // namespace zelvo::protocols
