#pragma once
// Runs a protocol transfer on the program's port component: the engine is driven by the
// port's triggers on the dispatch thread through a procedure handler, and the protocol's
// events reach the user-interface thread through the port's bridge.
//
// Starting follows the component's order: every received byte is announced (avail
// length 1); two timer triggers (the engine's time-outs and the status timer) and three
// status triggers (output buffer free, output buffer used, modem status) are added; the
// protocol is attached as the dispatcher's pointer 1; the engine takes its first step on
// the calling thread; the status timer starts; with AbortNoCarrier the carrier is
// watched; and the procedure handler is registered. When the transfer ends the handler
// and the triggers are removed again, before OnProtocolFinish is raised.
//
// Bytes that arrive with the transfer's last ones but are not part of it (the shell
// prompt after sz) are left in the port. A transfer that ends inside a data
// notification raises OnProtocolFinish only from the next timer notification: the
// window's listeners, which the finish event attaches again, would otherwise join that
// notification's readers and the bytes would be consumed before the terminal, which
// joins after it, is told of them.
//
// Use from the main window (UI thread):
//   ComPortLine line(Port);                       // one per port, lives as long as it
//   Protocol.OnProtocolFinish = ...;              // runs on the UI thread
//   Protocol.setProtocolType(ptZmodem);
//   line.BeginReceive(Protocol);                  // or BeginTransmit
//   ... Protocol.CancelTransfer() from the status window's Cancel button.

#include <atomic>
#include <mutex>
#include <cstdint>
#include <vector>

#include "comm/com_port.h"
#include "comm/trigger_handler.h"
#include "protocols/bridge_delivery.h"
#include "protocols/protocol.h"

namespace zelvo::protocols {

class ComPortLine : public ProtocolLine {
public:
    explicit ComPortLine(comm::ComPort& port);
    ~ComPortLine() override;
    ComPortLine(const ComPortLine&) = delete;
    ComPortLine& operator=(const ComPortLine&) = delete;

    // On the user-interface thread. 0 when the transfer runs (its end is reported by
    // OnProtocolFinish), else the code it ended with at once.
    int BeginTransmit(Protocol& protocol);
    int BeginReceive(Protocol& protocol);
    bool Active() const { return active_.load(); }

    // ProtocolLine, used by the engine on the dispatch thread.
    int putBlock(const uint8_t* data, size_t n) override;
    size_t outputFree() override;
    size_t outputUsed() override;
    void flushOutput() override;
    void flushInput() override;
    uint32_t baudRate() override;
    bool nominalRate() override;
    bool carrier() override;
    void setRTS(bool on) override;
    void wake() override;
    void transferEnded(std::function<void()> finished) override;

private:
    // The handler registered with the dispatcher. It outlives this object: the dispatch
    // thread may still be on its way into it when the line is destroyed, so it forwards
    // under a lock and is detached, never freed early.
    class Forwarder : public comm::ProcedureHandler {
    public:
        explicit Forwarder(ComPortLine* line) : line_(line) {}
        void procedureMessage(uint16_t msg, uint32_t wParam, uint32_t lParam) override;
        void detach();
        std::recursive_mutex& mutex() { return mutex_; }

    private:
        std::recursive_mutex mutex_;
        ComPortLine* line_;
    };

    int begin(Protocol& protocol, bool transmit);
    void handle(uint16_t msg, uint32_t wParam);
    void rearm();
    void takeInput(uint32_t count);
    void takeWaitingInput();
    void waitOutShortPauses();
    void deliverFinish();
    void release();

    comm::ComPort& port_;
    Forwarder* forwarder_;
    comm::PosixDispatcher* disp_ = nullptr;
    Protocol* proto_ = nullptr;
    BridgeDelivery delivery_;
    std::atomic<bool> active_{false};
    bool registered_ = false;                // the procedure handler is registered
    std::function<void()> pendingFinish_;    // under the forwarder's lock
    int userId_ = -1;
    uint16_t engineTimer_ = 0, statusTimer_ = 0, outFree_ = 0, outUsed_ = 0, modem_ = 0;
    uint32_t statusTicks_ = 18;
    std::vector<uint8_t> in_;
};

} // namespace zelvo::protocols
