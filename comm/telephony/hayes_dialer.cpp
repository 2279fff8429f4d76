#include "comm/telephony/hayes_dialer.h"

#include "comm/telephony/call_status.h"

#include <algorithm>
#include <cctype>

namespace zelvo::telephony {

namespace {

std::string upper(std::string_view s)
{
    std::string out;
    for (char c : s)
        out.push_back(char(std::toupper(static_cast<unsigned char>(c))));
    return out;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// What a result that ends a dial attempt reports, and whether another attempt may go
// better.
struct DialFailure {
    ResultCode code;
    uint32_t message, state, reason;
    bool retry;
};
constexpr DialFailure kDialFailures[] = {
    {ResultCode::Busy, kMsgCallState, kCallBusy, 0, true},
    {ResultCode::NoAnswer, kMsgCallState, kCallDisconnected, kReasonNoAnswer, true},
    {ResultCode::NoCarrier, kMsgDevice, kDeviceDialFailed, 0, true},
    {ResultCode::NoDialtone, kMsgCallState, kCallDisconnected, kReasonNoDialtone, true},
    {ResultCode::Error, kMsgCallState, kCallDisconnected, kReasonBadAddress, false},
    // A dial string that returns to command mode (";") makes no data call.
    {ResultCode::Ok, kMsgDevice, kDeviceDialFailed, 0, false},
};

} // namespace

ModemResult ParseResultLine(std::string_view raw)
{
    const std::string line = upper(trim(raw));
    // Numeric result codes (ATV0): the basic set that every Hayes modem shares.
    static const struct {
        const char* text;
        ModemResult result;
    } kNumeric[] = {
        {"0", {ResultCode::Ok, 0}},          {"1", {ResultCode::Connect, 0}},
        {"2", {ResultCode::Ring, 0}},        {"3", {ResultCode::NoCarrier, 0}},
        {"4", {ResultCode::Error, 0}},       {"5", {ResultCode::Connect, 1200}},
        {"6", {ResultCode::NoDialtone, 0}},  {"7", {ResultCode::Busy, 0}},
        {"8", {ResultCode::NoAnswer, 0}},    {"10", {ResultCode::Connect, 2400}},
    };
    for (const auto& n : kNumeric)
        if (line == n.text)
            return n.result;

    if (line == "OK")
        return {ResultCode::Ok, 0};
    if (line == "RING" || line == "RINGING")
        return {ResultCode::Ring, 0};
    if (line == "NO CARRIER")
        return {ResultCode::NoCarrier, 0};
    if (line == "ERROR")
        return {ResultCode::Error, 0};
    if (line == "NO DIALTONE" || line == "NO DIAL TONE")
        return {ResultCode::NoDialtone, 0};
    if (line == "BUSY")
        return {ResultCode::Busy, 0};
    if (line == "NO ANSWER")
        return {ResultCode::NoAnswer, 0};
    if (line.rfind("CONNECT", 0) == 0) {
        std::string_view rest = trim(std::string_view(line).substr(7));
        // "CONNECT", "CONNECT 33600", "CONNECT 33600/ARQ/V34"; anything else after the
        // word ("CONNECTED TO ...") is not a result code.
        if (!rest.empty() && !std::isdigit(static_cast<unsigned char>(rest.front())))
            return line.size() == 7 ? ModemResult{ResultCode::Connect, 0} : ModemResult{};
        uint64_t rate = 0;
        size_t i = 0;
        for (; i < rest.size() && std::isdigit(static_cast<unsigned char>(rest[i])); ++i) {
            rate = rate * 10 + uint64_t(rest[i] - '0');
            if (rate > 100000000)
                return {}; // no modem line runs that fast: not a result code
        }
        if (i < rest.size() && rest[i] != '/' && rest[i] != ' ')
            return {};
        return {ResultCode::Connect, uint32_t(rate)};
    }
    return {};
}

void HayesDialer::placeCall(const CallPlan& plan, int64_t now)
{
    plan_ = plan;
    plan_.attempts = std::max(plan_.attempts, 1);
    plan_.retryWaitSeconds = std::max(plan_.retryWaitSeconds, 0);
    plan_.answerSeconds = std::max(plan_.answerSeconds, 1);
    outcome_ = Outcome::Running;
    afterHangup_ = Outcome::HungUp;
    cancelling_ = false;
    attempt_ = 0;
    rate_ = 0;
    line_.clear();
    lineTooLong_ = false;
    startAttempt(now);
}

void HayesDialer::startAttempt(int64_t now)
{
    ++attempt_;
    if (plan_.init.empty()) {
        sendDial(now);
        return;
    }
    io_.status(kMsgCallState, kCallProceeding, 0);
    io_.write(plan_.init + "\r");
    phase_ = Phase::InitWait;
    deadline_ = now + kCommandWaitMs;
}

void HayesDialer::sendDial(int64_t now)
{
    io_.status(kMsgCallState, kCallDialing, 0);
    io_.write(plan_.dialPrefix + plan_.number + "\r");
    phase_ = Phase::DialWait;
    deadline_ = now + int64_t(plan_.answerSeconds) * 1000;
}

void HayesDialer::hangUp(HangupMethod method, uint32_t guardMs, int64_t now)
{
    outcome_ = Outcome::Running;
    afterHangup_ = Outcome::HungUp;
    line_.clear();
    lineTooLong_ = false;
    startHangup(method, guardMs, now);
}

void HayesDialer::startHangup(HangupMethod method, uint32_t guardMs, int64_t now)
{
    guardMs_ = std::clamp<uint32_t>(guardMs, kMinGuardMs, kMaxGuardMs);
    const bool dtr = method == HangupMethod::Dtr
                     || (method == HangupMethod::Auto && io_.hasModemLines());
    if (dtr) {
        io_.setDTR(false);
        phase_ = Phase::DtrLow;
        deadline_ = now + kDtrDropMs;
    } else {
        startEscape(now);
    }
}

void HayesDialer::startEscape(int64_t now)
{
    // Nothing may be sent for a guard time before "+++" and after it.
    phase_ = Phase::GuardBefore;
    deadline_ = now + guardMs_;
}

void HayesDialer::sendHangupCommand(int64_t now)
{
    io_.write("ATH\r");
    phase_ = Phase::HangupWait;
    deadline_ = now + kCommandWaitMs;
}

void HayesDialer::cancel(int64_t now)
{
    if (outcome_ != Outcome::Running || cancelling_)
        return;
    cancelling_ = true;
    switch (phase_) {
    case Phase::DialWait:
        io_.write("\r");
        phase_ = Phase::AbortWait;
        deadline_ = now + kAbortWaitMs;
        return;
    case Phase::AbortWait:
        return; // the abort under way ends in the cancel
    case Phase::DtrLow:
    case Phase::DtrSettle:
    case Phase::GuardBefore:
    case Phase::EscapeWait:
    case Phase::HangupWait:
        // A hang-up under way is finished first; after a late connect it ends the
        // attempts.
        if (afterHangup_ == Outcome::Running)
            afterHangup_ = Outcome::Cancelled;
        return;
    default:
        io_.status(kMsgCallState, kCallDisconnected, kReasonCancelled);
        finish(Outcome::Cancelled);
        return;
    }
}

void HayesDialer::lineLost(int64_t)
{
    if (outcome_ != Outcome::Running)
        return;
    switch (phase_) {
    case Phase::DtrLow:
    case Phase::DtrSettle:
    case Phase::GuardBefore:
    case Phase::EscapeWait:
    case Phase::HangupWait:
        // A modem that is gone has hung up.
        finish(afterHangup_ == Outcome::Running ? Outcome::Failed : afterHangup_);
        return;
    default:
        io_.status(kMsgDevice, kDeviceDialFailed, 0);
        finish(cancelling_ ? Outcome::Cancelled : Outcome::Failed);
        return;
    }
}

void HayesDialer::receive(uint8_t byte, int64_t now)
{
    if (outcome_ != Outcome::Running)
        return;
    if (byte != '\r' && byte != '\n') {
        if (line_.size() < kMaxLine)
            line_.push_back(char(byte));
        else
            lineTooLong_ = true;
        return;
    }
    if (line_.empty())
        return;
    std::string line;
    line.swap(line_);
    const bool tooLong = lineTooLong_;
    lineTooLong_ = false;
    if (tooLong)
        return;
    ModemResult r = ParseResultLine(line);
    if (r.code != ResultCode::None)
        onResult(r, now);
}

void HayesDialer::onResult(const ModemResult& r, int64_t now)
{
    switch (phase_) {
    case Phase::InitWait:
        if (r.code == ResultCode::Ok) {
            sendDial(now);
        } else if (r.code == ResultCode::Error) {
            // The modem refuses its init string: every attempt would do the same.
            io_.status(kMsgDevice, kDeviceDialFailed, 0);
            finish(Outcome::Failed);
        }
        return;
    case Phase::DialWait:
        switch (r.code) {
        case ResultCode::Connect:
            rate_ = r.rate;
            io_.status(kMsgCallState, kCallConnected, 0);
            finish(Outcome::Connected);
            return;
        case ResultCode::Ring:
            io_.status(kMsgCallState, kCallRingback, 0);
            return;
        default:
            for (const DialFailure& f : kDialFailures)
                if (f.code == r.code) {
                    io_.status(f.message, f.state, f.reason);
                    attemptFailed(f.retry, now);
                    return;
                }
            return;
        }
    case Phase::AbortWait:
        if (r.code == ResultCode::Connect) {
            // The far end answered just as the dial was given up: that call is ended
            // first. After a time-out the attempts then go on.
            afterHangup_ = cancelling_ ? Outcome::Cancelled : Outcome::Running;
            startHangup(plan_.hangup, plan_.guardMs, now);
            return;
        }
        if (r.code == ResultCode::Ring)
            return;
        if (cancelling_) {
            io_.status(kMsgCallState, kCallDisconnected, kReasonCancelled);
            finish(Outcome::Cancelled);
        } else {
            attemptFailed(true, now);
        }
        return;
    case Phase::EscapeWait:
        if (r.code == ResultCode::Ok)
            sendHangupCommand(now);
        return;
    case Phase::HangupWait:
        if (r.code == ResultCode::Ok || r.code == ResultCode::NoCarrier
            || r.code == ResultCode::Error)
            hangupDone(now);
        return;
    default:
        return;
    }
}

void HayesDialer::attemptFailed(bool retry, int64_t now)
{
    if (!retry || attempt_ >= plan_.attempts) {
        finish(Outcome::Failed);
        return;
    }
    phase_ = Phase::RetryWait;
    waitStart_ = now;
    secondsShown_ = -1;
    retryTick(now);
}

void HayesDialer::retryTick(int64_t now)
{
    const int64_t elapsed = now - waitStart_;
    const int64_t total = int64_t(plan_.retryWaitSeconds) * 1000;
    if (elapsed >= total) {
        startAttempt(now);
        return;
    }
    // Shows the whole seconds left, once per second.
    const int left = int((total - elapsed + 999) / 1000);
    if (left != secondsShown_) {
        secondsShown_ = left;
        io_.status(kMsgDevice, kDeviceRetryWait, uint32_t(left));
    }
    const int64_t nextShow = waitStart_ + total - int64_t(left - 1) * 1000;
    deadline_ = std::min(nextShow, waitStart_ + total);
}

void HayesDialer::tick(int64_t now)
{
    if (outcome_ != Outcome::Running || now < deadline_)
        return;
    switch (phase_) {
    case Phase::InitWait:
        io_.status(kMsgDevice, kDeviceDialFailed, 0);
        attemptFailed(true, now);
        return;
    case Phase::DialWait:
        // Nobody answered in time: stop the dial before the next attempt.
        io_.status(kMsgCallState, kCallDisconnected, kReasonNoAnswer);
        io_.write("\r");
        phase_ = Phase::AbortWait;
        deadline_ = now + kAbortWaitMs;
        return;
    case Phase::AbortWait:
        if (cancelling_) {
            io_.status(kMsgCallState, kCallDisconnected, kReasonCancelled);
            finish(Outcome::Cancelled);
        } else {
            attemptFailed(true, now);
        }
        return;
    case Phase::RetryWait:
        retryTick(now);
        return;
    case Phase::DtrLow:
        io_.setDTR(true);
        phase_ = Phase::DtrSettle;
        deadline_ = now + kDtrSettleMs;
        return;
    case Phase::DtrSettle:
        // A modem set to ignore DTR is still online: it needs the escape sequence.
        if (io_.hasModemLines() && io_.carrier())
            startEscape(now);
        else
            sendHangupCommand(now);
        return;
    case Phase::GuardBefore:
        io_.write("+++");
        phase_ = Phase::EscapeWait;
        deadline_ = now + guardMs_ + 1500;
        return;
    case Phase::EscapeWait:
        // No OK: the modem was in command mode already, or ignores the escape. ATH
        // ends the call in the first case and does no harm in the second.
        sendHangupCommand(now);
        return;
    case Phase::HangupWait:
        hangupDone(now);
        return;
    case Phase::Idle:
        deadline_ = kNever;
        return;
    }
}

void HayesDialer::hangupDone(int64_t now)
{
    if (afterHangup_ == Outcome::Running)
        attemptFailed(true, now);
    else
        finish(afterHangup_);
}

void HayesDialer::finish(Outcome o)
{
    outcome_ = o;
    phase_ = Phase::Idle;
    deadline_ = kNever;
}

} // namespace zelvo::telephony
