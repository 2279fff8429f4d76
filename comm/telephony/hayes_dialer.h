#pragma once
// HayesDialer: the conversation with a Hayes-command modem that places a call and that
// ends one, as a state machine without I/O of its own.
//
// The owner feeds it the bytes the modem sends (one at a time, so that it can stop
// reading right after the CONNECT line and leave what follows to the terminal) and the
// time, calls tick() when deadline() has passed, and carries out what the dialer asks of
// the line through ModemIo. Placing a call:
//
//   init string, CR      -> OK                  (no answer in 5 s: attempt failed)
//   dial prefix, number  -> CONNECT [rate]      connected
//                        -> BUSY / NO ANSWER / NO CARRIER / NO DIALTONE / time-out:
//                           attempt failed; after the retry wait the next attempt
//                        -> ERROR               the number is refused: no retry
//
// A time-out while dialling, and a cancel, abort the dial by sending a CR (any
// character stops a dialling modem) and wait briefly for its answer. Ending a call
// drops DTR for a second where the line has modem control lines, else waits a guard
// time, sends "+++", waits for OK and sends ATH.
//
// Result codes are read in verbose (ATV1) and numeric (ATV0) form; lines that are not
// result codes (the modem's echo of our commands, banners) are ignored.

#include "comm/telephony/modem_config.h"

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace zelvo::telephony {

enum class ResultCode { None, Ok, Connect, Ring, NoCarrier, Error, NoDialtone, Busy, NoAnswer };

struct ModemResult {
    ResultCode code = ResultCode::None;
    uint32_t rate = 0; // of CONNECT; 0 when the modem gave none
    bool operator==(const ModemResult&) const = default;
};

// One line of modem output without its line end, e.g. "CONNECT 33600/ARQ" or "7".
ModemResult ParseResultLine(std::string_view line);

// The line as the dialer sees it.
class ModemIo {
public:
    virtual ~ModemIo() = default;
    virtual void write(std::string_view bytes) = 0;
    virtual bool hasModemLines() const = 0;
    virtual void setDTR(bool on) = 0;
    // Carrier detect; only asked where the line has modem control lines.
    virtual bool carrier() const = 0;
    // Call progress (call_status.h).
    virtual void status(uint32_t message, uint32_t state, uint32_t reason) = 0;
};

struct CallPlan {
    std::string number;
    std::string init = "ATZ";
    std::string dialPrefix = "ATDT";
    int attempts = 3;          // call attempts in all, at least 1
    int retryWaitSeconds = 60; // between attempts
    int answerSeconds = 60;    // wait for the result of the dial command
    HangupMethod hangup = HangupMethod::Auto; // for a call connected while cancelling
    uint32_t guardMs = 1000;
};

class HayesDialer {
public:
    enum class Outcome { Running, Connected, Failed, Cancelled, HungUp };

    // How long the modem has to answer the init string, an aborted dial and ATH.
    static constexpr int64_t kCommandWaitMs = 5000;
    static constexpr int64_t kAbortWaitMs = 3000;
    // DTR stays low this long; long enough for any modem's DTR-drop delay.
    static constexpr int64_t kDtrDropMs = 1000;
    static constexpr int64_t kDtrSettleMs = 250;
    static constexpr size_t kMaxLine = 128;

    explicit HayesDialer(ModemIo& io) : io_(io) {}

    void placeCall(const CallPlan& plan, int64_t nowMs);
    void hangUp(HangupMethod method, uint32_t guardMs, int64_t nowMs);
    // Gives up a call being placed; a dial in progress is aborted first, and a call
    // that connects meanwhile is hung up. Ends as Cancelled.
    void cancel(int64_t nowMs);
    // The line is gone (the device vanished, the modem's command ended).
    void lineLost(int64_t nowMs);

    void receive(uint8_t byte, int64_t nowMs);
    void tick(int64_t nowMs);
    // When tick() next has something to do; no limit while nothing is timed.
    int64_t deadline() const { return deadline_; }

    Outcome outcome() const { return outcome_; }
    uint32_t connectRate() const { return rate_; }
    // The attempt being made, from 1.
    int attempt() const { return attempt_; }

private:
    enum class Phase {
        Idle,
        InitWait,    // init string sent, waiting for OK
        DialWait,    // dial command sent, waiting for the result
        AbortWait,   // CR sent to stop a dial, waiting for the modem's answer
        RetryWait,   // between attempts
        DtrLow,      // hang-up: DTR dropped
        DtrSettle,   // hang-up: DTR raised again, carrier looked at next
        GuardBefore, // hang-up: silence before "+++"
        EscapeWait,  // hang-up: "+++" sent, waiting for OK
        HangupWait,  // hang-up: ATH sent, waiting for its answer
    };
    static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

    void startAttempt(int64_t now);
    void sendDial(int64_t now);
    void onResult(const ModemResult& r, int64_t now);
    void attemptFailed(bool retry, int64_t now);
    void retryTick(int64_t now);
    void startHangup(HangupMethod method, uint32_t guardMs, int64_t now);
    void startEscape(int64_t now);
    void sendHangupCommand(int64_t now);
    void hangupDone(int64_t now);
    void finish(Outcome o);

    ModemIo& io_;
    CallPlan plan_;
    Phase phase_ = Phase::Idle;
    Outcome outcome_ = Outcome::Running;
    // What follows a hang-up: HungUp; Cancelled when a cancel caused it; Running when
    // it ended a call that connected late, after the dial had timed out.
    Outcome afterHangup_ = Outcome::HungUp;
    bool cancelling_ = false;
    int attempt_ = 0;
    uint32_t rate_ = 0;
    uint32_t guardMs_ = 1000;
    int64_t deadline_ = kNever;
    int64_t waitStart_ = 0;
    int secondsShown_ = 0;
    std::string line_;
    bool lineTooLong_ = false;
};

} // namespace zelvo::telephony
