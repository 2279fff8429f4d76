#pragma once
// DialRunner: a thread that holds a conversation with the modem (HayesDialer) on the
// telephony device's line while the port is not using it: placing a call, aborting
// one, hanging up. It reads one byte at a time, so that it stops right after the
// CONNECT line and what the far end sends next stays on the line for the terminal.
//
// The callbacks run on the runner's thread; the owner passes them on to its own.
// Nothing else touches the line while the runner runs; after the done callback the
// owner joins it (join()) before it uses the line again.

#include "comm/telephony/hayes_dialer.h"
#include "comm/telephony/modem_line.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace zelvo::telephony {

class DialRunner : private ModemIo {
public:
    using StatusFn = std::function<void(uint32_t message, uint32_t state, uint32_t reason)>;
    using DoneFn = std::function<void(HayesDialer::Outcome outcome, uint32_t rate)>;

    DialRunner(ModemLine& line, StatusFn status, DoneFn done);
    ~DialRunner();
    DialRunner(const DialRunner&) = delete;
    DialRunner& operator=(const DialRunner&) = delete;

    void startCall(const CallPlan& plan);
    void startHangup(HangupMethod method, uint32_t guardMs);
    // Asks a call being placed to give up (the dialer aborts a dial in progress).
    void cancel();
    // Ends the thread at once, without a word to the modem, and joins it.
    void stop();
    // Waits for a thread that has reported done.
    void join();
    bool running() const { return thread_.joinable(); }

private:
    void start(std::function<void(HayesDialer&, int64_t)> begin);
    void run(std::function<void(HayesDialer&, int64_t)> begin);

    // ModemIo, on the runner's thread
    void write(std::string_view bytes) override;
    bool hasModemLines() const override { return line_.hasModemLines(); }
    void setDTR(bool on) override { line_.setDTR(on); }
    bool carrier() const override { return line_.carrier(); }
    void status(uint32_t message, uint32_t state, uint32_t reason) override;

    ModemLine& line_;
    StatusFn status_;
    DoneFn done_;
    HayesDialer dialer_{*this};
    std::thread thread_;
    int wakeFd_ = -1;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> stop_{false};
};

} // namespace zelvo::telephony
