#include "comm/telephony/modem_device.h"

#include "comm/com_port.h"
#include "platform/registry_store.h"

namespace zelvo::telephony {

using comm::ComPort;
using platform::RegistryStore;

namespace {
// The modem's result code when the call drops, as it arrives while online.
constexpr std::string_view kNoCarrier = "\r\nNO CARRIER\r\n";
} // namespace

ModemDevice::ModemDevice(ComPort& port, std::string storePath)
    : port_(port), storePath_(std::move(storePath))
{
    std::weak_ptr<bool> alive = alive_;
    runner_ = std::make_unique<DialRunner>(
        line_,
        [this, alive](uint32_t m, uint32_t s, uint32_t r) {
            port_.Bridge().post([this, alive, m, s, r] {
                if (!alive.expired())
                    emitStatus(m, s, r);
            });
        },
        [this, alive](Outcome o, uint32_t rate) {
            port_.Bridge().post([this, alive, o, rate] {
                if (!alive.expired())
                    runnerDone(o, rate);
            });
        });
    userId_ = port_.AddPortUserCallback([this](ComPort&, bool opening) { portUser(opening); });
}

ModemDevice::~ModemDevice()
{
    *alive_ = false;
    runner_->stop();
    stopWatch();
    port_.RemovePortUserCallback(userId_);
    if (port_.TapiMode() == comm::tmOn && port_.State() == ComPort::psOpen) {
        closingPort_ = true;
        try {
            port_.setOpen(false);
        } catch (const std::exception&) {
        }
    }
    port_.setTapiHandle(-1, false);
    // Closing drops DTR on a serial modem and ends an exec: modem's command: either
    // way a call still up ends here.
    line_.close();
}

void ModemDevice::post(std::function<void()> fn)
{
    std::weak_ptr<bool> alive = alive_;
    port_.Bridge().post([alive, fn = std::move(fn)] {
        if (!alive.expired())
            fn();
    });
}

std::vector<std::string> ModemDevice::DeviceList() const
{
    RegistryStore store(storePath_);
    store.load();
    std::vector<std::string> names;
    for (const ModemConfig& m : ReadModems(store))
        names.push_back(m.name);
    return names;
}

void ModemDevice::setMaxAttempts(uint16_t n)
{
    attempts_ = n < 1 ? 1 : n;
}

std::optional<ModemConfig> ModemDevice::selectedModem(std::string& error, std::string& device) const
{
    RegistryStore store(storePath_);
    store.load();
    if (selected_.empty()) {
        error = "No modem is chosen for this session.";
        return std::nullopt;
    }
    auto m = FindModem(store, selected_);
    if (!m) {
        error = "There is no modem named \"" + selected_ + "\".";
        return std::nullopt;
    }
    device = ResolveModemDevice(store, m->device);
    return m;
}

// ---- Pass-through -------------------------------------------------------------------------

void ModemDevice::OpenPassThrough()
{
    if (state_ != State::Idle)
        return;
    std::string error, device;
    auto m = selectedModem(error, device);
    if (m) {
        int rc = line_.open(device, m->baud, m->rtsCts);
        if (rc < 0)
            error = "The modem \"" + m->name + "\" (" + device + ") cannot be opened: "
                    + ModemLine::OpenErrorText(rc) + ".";
    }
    if (m && error.empty()) {
        modem_ = *m;
        if (!handOver(error))
            release();
    }
    if (!error.empty()) {
        post([this, error] {
            if (OnTapiError)
                OnTapiError(error);
        });
        return;
    }
    state_ = State::PassThrough;
    post([this] {
        if (state_ == State::PassThrough && OnTapiPortOpen)
            OnTapiPortOpen();
    });
}

bool ModemDevice::handOver(std::string& error)
{
    if (port_.State() != ComPort::psClosed) {
        error = "The port is still in use.";
        return false;
    }
    port_.setTapiHandle(line_.fd(), line_.isPty());
    port_.setTapiMode(comm::tmOn);
    try {
        if (!line_.isPty())
            port_.setHWFlowOptions(modem_.rtsCts ? comm::hwfBit(comm::hwfUseRTS)
                                                       | comm::hwfBit(comm::hwfRequireCTS)
                                                 : 0);
        port_.setOpen(true);
    } catch (const comm::EQarnException& e) {
        error = std::string("The modem's line cannot be opened: ") + e.what();
        port_.setTapiHandle(-1, false);
        port_.setTapiMode(comm::tmAuto);
        return false;
    }
    return true;
}

// ---- Calls ------------------------------------------------------------------------------------

void ModemDevice::failLater(uint32_t state)
{
    post([this, state] {
        emitStatus(kMsgDevice, state, 0);
        emitLast();
        if (OnTapiFail)
            OnTapiFail();
    });
}

void ModemDevice::PlaceCall(const std::string& number)
{
    if (state_ != State::Idle)
        return;
    std::string error, device;
    auto m = selectedModem(error, device);
    if (!m) {
        failLater(kDeviceDialFailed);
        return;
    }
    int rc = line_.open(device, m->baud, m->rtsCts);
    if (rc < 0) {
        failLater(rc == comm::ecAccessDenied ? kDeviceInUse : kDeviceDialFailed);
        return;
    }
    modem_ = *m;
    rate_ = 0;
    failAfterEnd_ = false;
    state_ = State::Dialling;
    CallPlan plan;
    plan.number = number;
    plan.init = m->init;
    plan.dialPrefix = m->dialPrefix;
    plan.attempts = attempts_;
    plan.retryWaitSeconds = retryWait_;
    plan.answerSeconds = int(m->answerSeconds);
    plan.hangup = m->hangup;
    plan.guardMs = m->guardMs;
    runner_->startCall(plan);
}

bool ModemDevice::EndCall()
{
    switch (state_) {
    case State::Idle:
        return true;
    case State::PassThrough:
        state_ = State::Ending;
        closePortThen([this] {
            release();
            endDone(false);
        });
        return false;
    case State::Dialling:
        state_ = State::Ending;
        runner_->cancel();
        return false;
    case State::Online:
        state_ = State::Ending;
        closePortThen([this] { runner_->startHangup(modem_.hangup, modem_.guardMs); });
        return false;
    case State::Ending:
        return false;
    }
    return false;
}

void ModemDevice::ShowLineConfig()
{
    if (lineConfig_)
        lineConfig_(selected_);
}

void ModemDevice::runnerDone(Outcome outcome, uint32_t rate)
{
    runner_->join();
    if (state_ == State::Dialling) {
        if (outcome == Outcome::Connected) {
            rate_ = rate;
            std::string error;
            // The watch goes on while the port opens, before it reads a byte.
            watchOnOpen_ = true;
            const bool handed = handOver(error);
            watchOnOpen_ = false;
            if (!handed) {
                // Nothing can use the call: it is ended and reported as failed.
                state_ = State::Ending;
                failAfterEnd_ = true;
                runner_->startHangup(modem_.hangup, modem_.guardMs);
                return;
            }
            state_ = State::Online;
            emitLast();
            if (OnTapiPortOpen)
                OnTapiPortOpen();
            if (state_ == State::Online && OnTapiConnect)
                OnTapiConnect();
            return;
        }
        release();
        emitLast();
        state_ = State::Idle;
        if (OnTapiFail)
            OnTapiFail();
        return;
    }
    if (state_ == State::Ending) {
        if (outcome == Outcome::Connected) {
            // The call connected just as it was given up.
            runner_->startHangup(modem_.hangup, modem_.guardMs);
            return;
        }
        release();
        if (outcome == Outcome::HungUp)
            emitStatus(kMsgCallState, kCallIdle, 0);
        endDone(failAfterEnd_);
    }
}

void ModemDevice::endDone(bool failed)
{
    emitLast();
    state_ = State::Idle;
    failAfterEnd_ = false;
    if (failed) {
        if (OnTapiFail)
            OnTapiFail();
    } else if (OnTapiPortClose) {
        OnTapiPortClose();
    }
}

void ModemDevice::release()
{
    runner_->join();
    line_.close();
    port_.setTapiHandle(-1, false);
}

// ---- The port ---------------------------------------------------------------------------------

void ModemDevice::closePortThen(std::function<void()> then)
{
    stopWatch();
    closingPort_ = true;
    try {
        port_.setOpen(false);
    } catch (const std::exception&) {
        // The port is released below whatever it reported.
    }
    closingPort_ = false;
    afterPortClosed(std::move(then));
}

void ModemDevice::afterPortClosed(std::function<void()> then)
{
    std::weak_ptr<bool> alive = alive_;
    port_.WhenClosed([this, alive, then = std::move(then)] {
        if (alive.expired())
            return;
        if (port_.TapiMode() == comm::tmOn)
            port_.setTapiMode(comm::tmAuto);
        then();
    });
}

void ModemDevice::portUser(bool opening)
{
    if (opening) {
        if (watchOnOpen_) {
            watchOnOpen_ = false;
            startWatch();
        }
        return;
    }
    if (closingPort_)
        return;
    // Somebody else closes the port on the modem's line: its use ends here.
    if (state_ == State::PassThrough) {
        state_ = State::Ending;
        afterPortClosed([this] {
            release();
            endDone(false);
        });
    } else if (state_ == State::Online) {
        state_ = State::Ending;
        stopWatch();
        afterPortClosed([this] { runner_->startHangup(modem_.hangup, modem_.guardMs); });
    }
}

// ---- Watching a call that is up -------------------------------------------------------------

void ModemDevice::startWatch()
{
    comm::PosixDispatcher* d = port_.Dispatcher();
    if (!d)
        return;
    d->AddWindowHandler(this);
    watching_ = true;
    try {
        carrierTrigger_ = port_.NewDataTrigger(kNoCarrier, false);
    } catch (const comm::EQarnException&) {
        carrierTrigger_ = 0;
    }
    try {
        dcdTrigger_ = port_.NewStatusTrigger(comm::stModem);
        port_.ArmStatusTrigger(dcdTrigger_, comm::msDCD, true);
    } catch (const comm::EQarnException&) {
        dcdTrigger_ = 0;
    }
    try {
        endTimer_ = port_.NewTimerTrigger();
    } catch (const comm::EQarnException&) {
        endTimer_ = 0;
    }
    // A line that went away before the trigger was armed gives no change to fire on.
    post([this] { checkCarrier(); });
}

void ModemDevice::stopWatch()
{
    if (!watching_)
        return;
    watching_ = false;
    // Also while the port is closing: its triggers are kept for its next opening, and
    // these belong to this call only.
    if (comm::PosixDispatcher* d = port_.Dispatcher()) {
        d->RemoveWindowHandler(this);
        for (uint16_t* h : {&carrierTrigger_, &dcdTrigger_, &endTimer_})
            if (*h != 0)
                d->DropTrigger(*h);
    }
    carrierTrigger_ = dcdTrigger_ = endTimer_ = 0;
}

void ModemDevice::windowMessage(uint16_t msg, uint32_t wParam, uint32_t)
{
    // Runs inside the port's notification; the port is closed from a queued call.
    if (!watching_)
        return;
    if (msg == comm::MsgTriggerData && carrierTrigger_ != 0 && wParam == carrierTrigger_)
        endSoon();
    else if (msg == comm::MsgTriggerStatus && dcdTrigger_ != 0 && wParam == dcdTrigger_)
        post([this] { checkCarrier(); });
    else if (msg == comm::MsgTriggerTimer && endTimer_ != 0 && wParam == endTimer_)
        post([this] { carrierLost(); });
}

void ModemDevice::endSoon()
{
    // The port's timer fires after the notifications of the bytes already received
    // (the modem's "NO CARRIER" among them) have reached every reader; the call is
    // ended then, so the terminal still shows them.
    try {
        if (endTimer_ != 0) {
            port_.ArmTimerTrigger(endTimer_, 1, true);
            return;
        }
    } catch (const comm::EQarnException&) {
    }
    post([this] { carrierLost(); });
}

void ModemDevice::checkCarrier()
{
    if (state_ != State::Online || !watching_)
        return;
    comm::PosixDispatcher* d = port_.Dispatcher();
    bool lost = !d || d->LineHungUp();
    if (!lost && line_.hasModemLines()) {
        try {
            lost = !port_.DCD();
        } catch (const comm::EQarnException&) {
            lost = true;
        }
    }
    if (lost) {
        endSoon();
        return;
    }
    try {
        if (dcdTrigger_ != 0)
            port_.ArmStatusTrigger(dcdTrigger_, comm::msDCD, true);
    } catch (const comm::EQarnException&) {
    }
}

void ModemDevice::carrierLost()
{
    if (state_ != State::Online)
        return;
    state_ = State::Ending;
    emitStatus(kMsgCallState, kCallDisconnected, kReasonNormal);
    closePortThen([this] {
        // A modem that still shows carrier is told to hang up; otherwise it is on
        // hook already (it said NO CARRIER, or its command has ended).
        if (line_.isOpen() && line_.hasModemLines() && line_.carrier()) {
            runner_->startHangup(modem_.hangup, modem_.guardMs);
            return;
        }
        release();
        endDone(false);
    });
}

// ---- Progress ---------------------------------------------------------------------------------

void ModemDevice::emitStatus(uint32_t message, uint32_t state, uint32_t reason)
{
    CallStatus s;
    s.first = !sequenceOpen_;
    s.message = message;
    s.state = state;
    s.reason = reason;
    sequenceOpen_ = true;
    if (OnTapiStatus)
        OnTapiStatus(s);
}

void ModemDevice::emitLast()
{
    if (!sequenceOpen_)
        return;
    sequenceOpen_ = false;
    CallStatus s;
    s.last = true;
    if (OnTapiStatus)
        OnTapiStatus(s);
}

} // namespace zelvo::telephony
