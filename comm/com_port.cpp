#include "comm/com_port.h"

#include "comm/port_table.h"
#include "platform/registry_store.h"

#include <algorithm>
#include <exception>

namespace zelvo::comm {

// The port's own notification window: always the dispatcher's first window handler.
class ComPort::NotifyWindow : public WindowHandler {
public:
    explicit NotifyWindow(ComPort& port) : port_(port) {}
    void windowMessage(uint16_t msg, uint32_t wParam, uint32_t lParam) override
    {
        port_.handleMessage(msg, wParam, lParam);
    }

private:
    ComPort& port_;
};

ComPort::ComPort(UiBridge& bridge) : bridge_(bridge), alive_(std::make_shared<bool>(true)) {}

ComPort::~ComPort()
{
    destroying_ = true;
    openRequested_ = false;
    // The owner's handlers may already be gone; notifications still queued while the
    // port winds down must not reach them.
    onTrigger_ = nullptr;
    onTriggerAvail_ = nullptr;
    onTriggerData_ = onTriggerStatus_ = onTriggerTimer_ = nullptr;
    onTriggerLineError_ = nullptr;
    onTriggerModemStatus_ = onTriggerOutbuffFree_ = onTriggerOutbuffUsed_ = onTriggerOutSent_ = nullptr;
    onOpened_ = onClosed_ = nullptr;
    users_.clear();
    try {
        if (state_ == psOpen)
            doClose();
    } catch (...) {
        // Nothing may escape a destructor; the dispatcher below is released anyway.
    }
    if (state_ == psClosing && dispatcher_) {
        // A close from inside a handler is still being finished by the dispatch thread.
        bridge_.waitAndPump([this] { return !dispatcher_ || !dispatcher_->ThreadsRunning(); }, 10000);
    }
    if (dispatcher_ && window_)
        dispatcher_->RemoveWindowHandler(window_.get());
    dispatcher_.reset();
    window_.reset();
    *alive_ = false;
}

void ComPort::check(int code) const
{
    if (code < 0 && !loading_)
        RaiseForCode(code);
}

std::string ComPort::DeviceName() const
{
    if (!deviceOverride_.empty())
        return deviceOverride_;
    if (store_)
        return PortDevice(*store_, comNumber_);
    platform::RegistryStore store;
    store.load();
    return PortDevice(store, comNumber_);
}

PosixDispatcher* ComPort::obtain(bool needsOpen)
{
    if (!dispatcher_ && autoOpen_ && !loading_ && !destroying_ && state_ == psClosed)
        setOpen(true);
    if (!dispatcher_ || state_ != psOpen) {
        if (needsOpen && state_ != psClosing)
            check(ecNotOpen);
        return nullptr;
    }
    return dispatcher_.get();
}

// ---- Opening and closing ----------------------------------------------------------------

std::unique_ptr<PosixDispatcher> ComPort::CreateDispatcher()
{
    return std::make_unique<PosixDispatcher>(this, &bridge_);
}

void ComPort::setOpen(bool v)
{
    if (v)
        doOpen();
    else {
        openRequested_ = false;
        doClose();
    }
}

void ComPort::EndLoading()
{
    loading_ = false;
    if (openRequested_) {
        openRequested_ = false;
        doOpen();
    }
}

void ComPort::doOpen()
{
    if (loading_ || state_ == psClosing) {
        // Carried out when loading ends or the close has finished.
        openRequested_ = true;
        return;
    }
    if (state_ == psOpen)
        return;
    if (tapiMode_ != tmOn && comNumber_ == 0) {
        uint16_t chosen = 0;
        if (!promptForPort_ || !portPrompt_ || !portPrompt_(chosen) || chosen == 0) {
            check(ecNoPortSelected);
            return;
        }
        comNumber_ = chosen;
    }
    if (deviceLayer_ != dlWin32) {
        check(ecNullApi);
        return;
    }
    const bool tapi = tapiMode_ == tmOn;
    if (tapi && tapiFd_ < 0) {
        check(ecNotOpenedByTapi);
        return;
    }
    auto d = CreateDispatcher();
    d->SetChildTerminalType(execTerm_);
    int rc;
    if (tapi) {
        // The telephony layer's line keeps the speed and framing it was set up with,
        // and its DTR and RTS stay up: dropping DTR would hang the modem up.
        d->AdoptDevice(tapiFd_, tapiPty_);
        // The far end may be talking already: nothing is read before the users (the
        // terminal, the telephony device's watch) are in place.
        d->DeferThreadStart(true);
        rc = d->OpenPort(std::string(), KeepBaud, KeepParity, KeepDataBits, KeepStopBits, inSize_,
                         outSize_, true, true);
        // A pseudo-terminal has no speed of its own to read back.
        if (rc >= 0 && !tapiPty_) {
            uint32_t b = 0;
            int p = 0, db = 0, sb = 0;
            if (d->GetLineParams(b, p, db, sb) >= 0) {
                baud_ = b;
                parity_ = TParity(p);
                dataBits_ = uint16_t(db);
                stopBits_ = uint16_t(sb);
            }
        }
    } else {
        // Reading starts once the settings, the notification window and the triggers of
        // the last close are in place: bytes that were waiting in the device when it
        // opened are then matched by the restored triggers like any others.
        d->DeferThreadStart(true);
        rc = d->OpenPort(DeviceName(), baud_, parity_, dataBits_, stopBits_, inSize_, outSize_, dtr_, rts_);
    }
    if (rc == ecAccessDenied)
        rc = ecAlreadyOpen;
    else if (rc == ecFileNotFound || rc == ecPathNotFound)
        rc = ecBadId;
    if (rc < 0) {
        d.reset();
        check(rc);
        return;
    }
    dispatcher_ = std::move(d);
    state_ = psOpen;
    open_ = true;

    std::weak_ptr<bool> alive = alive_;
    dispatcher_->SetReleaseCallback([this, alive] {
        // Runs on the dispatch thread after a deferred release.
        bridge_.post([this, alive] {
            if (auto a = alive.lock(); a && *a)
                closePending();
        });
    });

    // Every setting is forced onto the new dispatcher. One that the device refuses ends
    // the open: a line left open without it would not be what was asked for, and would
    // be deaf (no notification window yet). The port is closed and the reason raised.
    try {
        applyTracing(tracing_, true);
        applyLogging(logging_, true);
        applyHWFlow();
        applySWFlow();
        check(dispatcher_->SetFlowChars(static_cast<uint8_t>(xonChar_), static_cast<uint8_t>(xoffChar_)));
        dispatcher_->SetAvailLength(availTriggerLength_);
        if (!tapi) {
            dispatcher_->SetDTR(dtr_);
            dispatcher_->SetRTS(rts_);
        }
        if (rs485Mode_)
            check(dispatcher_->SetRS485Mode(true));
        dispatcher_->SetPriorityBoost(priorityBoost_);
    } catch (...) {
        dispatcher_->ClosePort();
        dispatcher_.reset();
        state_ = psClosed;
        open_ = false;
        throw;
    }

    window_ = std::make_unique<NotifyWindow>(*this);
    dispatcher_->AddWindowHandler(window_.get());
    dispatcher_->RecomputeHandlerFlags(anyTriggerEvent() ? 1 : 2);
    if (savedTriggers_.valid)
        dispatcher_->RestoreSnapshot(savedTriggers_);
    if (!tapi)
        dispatcher_->StartThreads();
    tellUsers(true);
    if (tapi && dispatcher_ && state_ == psOpen)
        dispatcher_->StartThreads();
}

void ComPort::doClose()
{
    open_ = false;
    if (state_ != psOpen || !dispatcher_)
        return;
    // An active trace or log is written to its file. One that cannot be written does not
    // stop the close; its failure is raised once the port is closed.
    std::exception_ptr dumpError;
    try {
        applyTracing(tlDump, false);
    } catch (...) {
        dumpError = std::current_exception();
    }
    try {
        applyLogging(tlDump, false);
    } catch (...) {
        if (!dumpError)
            dumpError = std::current_exception();
    }
    tracing_ = tlOff;
    logging_ = tlOff;
    state_ = psClosing;
    tellUsers(false);
    if (dispatcher_) {
        dispatcher_->SnapshotTriggers(savedTriggers_);
        dispatcher_->ClosePort();
        // A deferred close is finished by closePending() once the dispatch thread has
        // let go.
        if (!dispatcher_->CloseDeferred())
            finishClose();
    }
    if (dumpError)
        std::rethrow_exception(dumpError);
}

void ComPort::checkFile(int code, const std::string& fileName) const
{
    // A file error names the file it concerns.
    if (code < 0 && code >= -999 && code != ecOutOfMemory && !loading_)
        throw EInOutError(code, fileName + ": " + ErrorText(code));
    check(code);
}

void ComPort::closePending()
{
    if (state_ != psClosing || !dispatcher_)
        return;
    if (dispatcher_->ThreadsRunning()) {
        bridge_.post([this, alive = std::weak_ptr<bool>(alive_)] {
            if (auto a = alive.lock(); a && *a)
                closePending();
        });
        return;
    }
    finishClose();
}

void ComPort::finishClose()
{
    if (dispatcher_ && window_)
        dispatcher_->RemoveWindowHandler(window_.get());
    dispatcher_.reset();
    window_.reset();
    state_ = psClosed;
    if (!whenClosed_.empty()) {
        std::weak_ptr<bool> alive = alive_;
        for (auto& fn : whenClosed_)
            bridge_.post([alive, fn = std::move(fn)] {
                if (auto a = alive.lock(); a && *a)
                    fn();
            });
        whenClosed_.clear();
    }
    if (openRequested_ && !destroying_) {
        openRequested_ = false;
        doOpen();
    }
}

void ComPort::WhenClosed(std::function<void()> fn)
{
    if (state_ == psClosed) {
        std::weak_ptr<bool> alive = alive_;
        bridge_.post([alive, fn = std::move(fn)] {
            if (auto a = alive.lock(); a && *a)
                fn();
        });
        return;
    }
    whenClosed_.push_back(std::move(fn));
}

void ComPort::tellUsers(bool opening)
{
    // From the most recently registered user to the first.
    const auto users = users_;
    for (auto it = users.rbegin(); it != users.rend(); ++it) {
        if (it->window)
            it->window->windowMessage(opening ? MsgPortOpen : MsgPortClose, 0, 0);
        else if (it->callback)
            it->callback(*this, opening);
    }
    if (opening && onOpened_)
        onOpened_(*this, true);
    if (!opening && onClosed_)
        onClosed_(*this, false);
}

void ComPort::AddPortUser(WindowHandler* window)
{
    User u;
    u.window = window;
    users_.push_back(std::move(u));
}

void ComPort::RemovePortUser(WindowHandler* window)
{
    auto it = std::find_if(users_.begin(), users_.end(), [&](const User& u) { return u.window == window; });
    if (it != users_.end())
        users_.erase(it);
}

int ComPort::AddPortUserCallback(OpenCloseEvent callback)
{
    User u;
    u.callback = std::move(callback);
    u.id = nextUserId_++;
    users_.push_back(std::move(u));
    return users_.back().id;
}

void ComPort::RemovePortUserCallback(int id)
{
    auto it = std::find_if(users_.begin(), users_.end(), [&](const User& u) { return u.id == id && !u.window; });
    if (it != users_.end())
        users_.erase(it);
}

// ---- Notifications ---------------------------------------------------------------------

bool ComPort::anyTriggerEvent() const
{
    return onTrigger_ || onTriggerAvail_ || onTriggerData_ || onTriggerStatus_ || onTriggerTimer_ ||
           onTriggerLineError_ || onTriggerModemStatus_ || onTriggerOutbuffFree_ || onTriggerOutbuffUsed_ ||
           onTriggerOutSent_;
}

void ComPort::eventsChanged()
{
    if (dispatcher_ && state_ == psOpen)
        dispatcher_->RecomputeHandlerFlags(anyTriggerEvent() ? 1 : 2);
}

void ComPort::handleMessage(uint16_t msg, uint32_t wParam, uint32_t lParam)
{
    if (msg < MsgTriggerAvail || msg > MsgTriggerStatus)
        return;
    const auto handle = static_cast<uint16_t>(wParam);
    const auto data = static_cast<uint16_t>(msg == MsgTriggerAvail ? wParam : (lParam & 0xFFFF));
    if (onTrigger_)
        onTrigger_(*this, msg, handle, data);
    switch (msg) {
    case MsgTriggerAvail:
        if (onTriggerAvail_)
            onTriggerAvail_(*this, static_cast<uint16_t>(std::min<uint32_t>(wParam, 0xFFFF)));
        break;
    case MsgTriggerData:
        if (onTriggerData_)
            onTriggerData_(*this, handle);
        break;
    case MsgTriggerTimer:
        if (onTriggerTimer_)
            onTriggerTimer_(*this, handle);
        break;
    case MsgTriggerStatus:
        if (onTriggerStatus_)
            onTriggerStatus_(*this, handle);
        switch (handle & 7) {
        case stModem:
            if (onTriggerModemStatus_)
                onTriggerModemStatus_(*this);
            break;
        case stLine:
            if (onTriggerLineError_) {
                const uint16_t err = LineError();
                onTriggerLineError_(*this, err, LineBreak());
            }
            break;
        case stOutBuffFree:
            if (onTriggerOutbuffFree_)
                onTriggerOutbuffFree_(*this);
            break;
        case stOutBuffUsed:
            if (onTriggerOutbuffUsed_)
                onTriggerOutbuffUsed_(*this);
            break;
        case stOutSent:
            if (onTriggerOutSent_)
                onTriggerOutSent_(*this);
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
}

// ---- Properties -------------------------------------------------------------------------

void ComPort::setDeviceLayer(TDeviceLayer v)
{
    if (state_ == psClosed)
        deviceLayer_ = v;
}

void ComPort::setComNumber(uint16_t v)
{
    if (v == comNumber_)
        return;
    deviceOverride_.clear();
    if (state_ != psOpen) {
        comNumber_ = v;
        return;
    }
    const TTraceLogState tracing = tracing_, logging = logging_;
    std::exception_ptr closeError; // a trace that could not be written: raised after the reopen
    try {
        doClose();
    } catch (...) {
        closeError = std::current_exception();
    }
    comNumber_ = v;
    tracing_ = tracing;
    logging_ = logging;
    doOpen();
    if (closeError)
        std::rethrow_exception(closeError);
}

void ComPort::applyLineParams()
{
    if (dispatcher_ && state_ == psOpen)
        RaiseForCode(dispatcher_->SetLineParams(baud_, parity_, dataBits_, stopBits_));
}

// A line setting that the device refuses keeps the previous value, so the property
// always tells what the line really uses.
#define ZELVO_LINE_SETTER(member, value)                                                     \
    if ((value) == member)                                                                   \
        return;                                                                              \
    const auto old = member;                                                                 \
    member = (value);                                                                        \
    try {                                                                                    \
        applyLineParams();                                                                   \
    } catch (...) {                                                                          \
        member = old;                                                                        \
        if (!loading_)                                                                       \
            throw;                                                                           \
    }

void ComPort::setBaud(uint32_t v) { ZELVO_LINE_SETTER(baud_, v) }
void ComPort::setParity(TParity v) { ZELVO_LINE_SETTER(parity_, v) }
void ComPort::setDataBits(uint16_t v) { ZELVO_LINE_SETTER(dataBits_, v) }
void ComPort::setStopBits(uint16_t v) { ZELVO_LINE_SETTER(stopBits_, v) }

#undef ZELVO_LINE_SETTER

void ComPort::setInSize(uint16_t v)
{
    if (v == inSize_)
        return;
    inSize_ = v;
    if (dispatcher_ && state_ == psOpen)
        check(dispatcher_->SetQueueSizes(inSize_, outSize_));
}

void ComPort::setDTR(bool v)
{
    if (v == dtr_)
        return;
    dtr_ = v;
    // The state is remembered even when the line is under flow control.
    if (dispatcher_ && state_ == psOpen)
        dispatcher_->SetDTR(v);
}

void ComPort::setRTS(bool v)
{
    if (v == rts_)
        return;
    rts_ = v;
    if (dispatcher_ && state_ == psOpen)
        dispatcher_->SetRTS(v);
}

void ComPort::applyFlow(bool)
{
    // A flow option with unset or impossible levels gets 90 % / 10 % of InSize.
    if (hwFlow_ != 0 || swFlow_ != swfNone) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_)
            bufferFull_ = static_cast<uint16_t>(inSize_ * 9 / 10);
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_)
            bufferResume_ = static_cast<uint16_t>(inSize_ / 10);
    }
}

void ComPort::applyHWFlow()
{
    applyFlow(false);
    if (!dispatcher_ || state_ != psOpen)
        return;
    uint32_t bits = 0;
    if (hwFlow_ & hwfBit(hwfUseDTR))
        bits |= hfUseDTR;
    if (hwFlow_ & hwfBit(hwfUseRTS))
        bits |= hfUseRTS;
    if (hwFlow_ & hwfBit(hwfRequireDSR))
        bits |= hfRequireDSR;
    if (hwFlow_ & hwfBit(hwfRequireCTS))
        bits |= hfRequireCTS;
    check(dispatcher_->SetHardwareFlow(bufferFull_, bufferResume_, bits));
}

void ComPort::applySWFlow()
{
    applyFlow(false);
    if (!dispatcher_ || state_ != psOpen)
        return;
    switch (swFlow_) {
    case swfNone: check(dispatcher_->DisableSoftwareFlow()); break;
    case swfReceive: check(dispatcher_->EnableSoftwareFlow(bufferFull_, bufferResume_, sfReceiveFlow)); break;
    case swfTransmit: check(dispatcher_->EnableSoftwareFlow(bufferFull_, bufferResume_, sfTransmitFlow)); break;
    case swfBoth:
        check(dispatcher_->EnableSoftwareFlow(bufferFull_, bufferResume_, sfReceiveFlow | sfTransmitFlow));
        break;
    }
    // Enabling software flow resets the characters; keep the chosen ones.
    if (swFlow_ != swfNone)
        check(dispatcher_->SetFlowChars(static_cast<uint8_t>(xonChar_), static_cast<uint8_t>(xoffChar_)));
}

void ComPort::setHWFlowOptions(THWFlowOptions v)
{
    if (v == hwFlow_)
        return;
    hwFlow_ = v;
    if (v & (hwfBit(hwfUseRTS) | hwfBit(hwfRequireCTS))) {
        if (rs485Mode_) {
            rs485Mode_ = false;
            if (dispatcher_ && state_ == psOpen)
                check(dispatcher_->SetRS485Mode(false));
        }
    }
    applyHWFlow();
}

void ComPort::setSWFlowOptions(TSWFlowOptions v)
{
    if (v == swFlow_)
        return;
    swFlow_ = v;
    applySWFlow();
}

void ComPort::setXOnChar(char v)
{
    if (v == xonChar_)
        return;
    xonChar_ = v;
    if (dispatcher_ && state_ == psOpen)
        check(dispatcher_->SetFlowChars(static_cast<uint8_t>(xonChar_), static_cast<uint8_t>(xoffChar_)));
}

void ComPort::setXOffChar(char v)
{
    if (v == xoffChar_)
        return;
    xoffChar_ = v;
    if (dispatcher_ && state_ == psOpen)
        check(dispatcher_->SetFlowChars(static_cast<uint8_t>(xonChar_), static_cast<uint8_t>(xoffChar_)));
}

void ComPort::setBufferFull(uint16_t v)
{
    if (v == bufferFull_)
        return;
    bufferFull_ = v;
    if (dispatcher_ && state_ == psOpen && hwFlow_ != 0)
        applyHWFlow();
}

void ComPort::setBufferResume(uint16_t v)
{
    if (v == bufferResume_)
        return;
    bufferResume_ = v;
    if (dispatcher_ && state_ == psOpen && hwFlow_ != 0)
        applyHWFlow();
}

void ComPort::setRS485Mode(bool v)
{
    if (v == rs485Mode_)
        return;
    rs485Mode_ = v;
    if (v) {
        hwFlow_ = static_cast<THWFlowOptions>(hwFlow_ & ~(hwfBit(hwfUseRTS) | hwfBit(hwfRequireCTS)));
        rts_ = false;
    }
    if (dispatcher_ && state_ == psOpen) {
        check(dispatcher_->SetRS485Mode(v));
        applyHWFlow();
        dispatcher_->SetRTS(rts_);
    }
}

void ComPort::setPriorityBoost(uint8_t v)
{
    priorityBoost_ = v;
    if (dispatcher_ && state_ == psOpen)
        dispatcher_->SetPriorityBoost(v);
}

void ComPort::setAvailTriggerLength(uint16_t v)
{
    availTriggerLength_ = v;
    if (dispatcher_ && state_ == psOpen)
        dispatcher_->SetAvailLength(v);
}

// ---- Tracing and logging states ---------------------------------------------------------

void ComPort::applyTracing(TTraceLogState v, bool force)
{
    if (!force && v == tracing_)
        return;
    if (!dispatcher_ || state_ != psOpen) {
        tracing_ = v == tlOn ? tlOn : tlOff;
        return;
    }
    PosixDispatcher& d = *dispatcher_;
    switch (v) {
    case tlOff:
        d.StopTracing();
        tracing_ = tlOff;
        break;
    case tlOn:
        if (d.TraceAllocated() && !d.TracingOn())
            d.ResumeTracing();
        else if (!d.TraceAllocated())
            check(d.StartTracing(traceSize_));
        tracing_ = tlOn;
        break;
    case tlDump:
    case tlAppend: {
        tracing_ = tlOff;
        if (d.TraceAllocated())
            checkFile(v == tlDump ? d.WriteTraceFile(traceName_, traceHex_) : d.AppendTraceFile(traceName_, traceHex_),
                      traceName_);
        break;
    }
    case tlClear:
        d.ClearTracing();
        break;
    case tlPause:
        if (d.TracingOn()) {
            d.PauseTracing();
            tracing_ = tlPause;
        }
        break;
    }
}

void ComPort::applyLogging(TTraceLogState v, bool force)
{
    if (!force && v == logging_)
        return;
    if (!dispatcher_ || state_ != psOpen) {
        logging_ = v == tlOn ? tlOn : tlOff;
        return;
    }
    PosixDispatcher& d = *dispatcher_;
    switch (v) {
    case tlOff:
        d.StopDispatchLogging();
        logging_ = tlOff;
        break;
    case tlOn:
        if (d.LogAllocated() && !d.LoggingOn())
            d.ResumeDispatchLogging();
        else if (!d.LogAllocated())
            check(d.StartDispatchLogging(logSize_));
        logging_ = tlOn;
        break;
    case tlDump:
    case tlAppend:
        logging_ = tlOff;
        if (d.LogAllocated())
            checkFile(v == tlDump ? d.DumpDispatchLog(logName_, logHex_) : d.AppendDispatchLog(logName_, logHex_),
                      logName_);
        break;
    case tlClear:
        d.ClearDispatchLogging();
        break;
    case tlPause:
        if (d.LoggingOn()) {
            d.PauseDispatchLogging();
            logging_ = tlPause;
        }
        break;
    }
}

void ComPort::setTracing(TTraceLogState v) { applyTracing(v, false); }
void ComPort::setLogging(TTraceLogState v) { applyLogging(v, false); }

void ComPort::setTraceSize(uint32_t v)
{
    traceSize_ = std::min<uint32_t>(v, TraceRing::MaxTraceSize);
    if (dispatcher_ && state_ == psOpen && dispatcher_->TraceAllocated()) {
        const bool paused = !dispatcher_->TracingOn();
        dispatcher_->StopTracing();
        check(dispatcher_->StartTracing(traceSize_));
        if (paused)
            dispatcher_->PauseTracing();
    }
}

void ComPort::setLogSize(uint32_t v)
{
    logSize_ = std::min<uint32_t>(v, EventLog::MaxLogSize);
    if (dispatcher_ && state_ == psOpen && dispatcher_->LogAllocated()) {
        const bool paused = !dispatcher_->LoggingOn();
        dispatcher_->StopDispatchLogging();
        check(dispatcher_->StartDispatchLogging(logSize_));
        if (paused)
            dispatcher_->PauseDispatchLogging();
    }
}

void ComPort::StartTracing(uint32_t size)
{
    if (size)
        setTraceSize(size);
    obtain(false);
    setTracing(tlOn);
}
void ComPort::StopTracing() { setTracing(tlOff); }
void ComPort::PauseTracing() { setTracing(tlPause); }
void ComPort::ResumeTracing() { setTracing(tlOn); }
void ComPort::ClearTracing() { applyTracing(tlClear, true); }
void ComPort::DumpTrace() { applyTracing(tlDump, true); }
void ComPort::AppendTrace() { applyTracing(tlAppend, true); }
void ComPort::StartLogging(uint32_t size)
{
    if (size)
        setLogSize(size);
    obtain(false);
    setLogging(tlOn);
}
void ComPort::StopLogging() { setLogging(tlOff); }
void ComPort::PauseLogging() { setLogging(tlPause); }
void ComPort::ResumeLogging() { setLogging(tlOn); }
void ComPort::ClearLogging() { applyLogging(tlClear, true); }
void ComPort::DumpLog() { applyLogging(tlDump, true); }
void ComPort::AppendLog() { applyLogging(tlAppend, true); }

// ---- Line readers ------------------------------------------------------------------------

bool ComPort::CTS() { return dispatcher_ && state_ == psOpen && dispatcher_->CheckCTS(); }
bool ComPort::DSR() { return dispatcher_ && state_ == psOpen && dispatcher_->CheckDSR(); }
bool ComPort::DCD() { return dispatcher_ && state_ == psOpen && dispatcher_->CheckDCD(); }
bool ComPort::Ring() { return dispatcher_ && state_ == psOpen && dispatcher_->CheckRI(); }
uint16_t ComPort::LineError()
{
    return (dispatcher_ && state_ == psOpen) ? static_cast<uint16_t>(dispatcher_->TakeLineError()) : 0;
}
bool ComPort::LineBreak() { return dispatcher_ && state_ == psOpen && dispatcher_->TakeLineBreak(); }
uint32_t ComPort::InputUsed() { return (dispatcher_ && state_ == psOpen) ? dispatcher_->InputUsed() : 0; }
uint32_t ComPort::OutputUsed() { return (dispatcher_ && state_ == psOpen) ? dispatcher_->OutputUsed() : 0; }
uint32_t ComPort::OutputFree() { return (dispatcher_ && state_ == psOpen) ? dispatcher_->OutputFree() : outSize_; }

// ---- Data --------------------------------------------------------------------------------

void ComPort::PutByte(uint8_t ch)
{
    if (auto* d = obtain(true))
        check(d->PutByte(ch));
}

void ComPort::PutText(std::string_view text)
{
    if (auto* d = obtain(true))
        check(d->PutBlock(text.data(), static_cast<uint32_t>(text.size())));
}

void ComPort::PutBlock(const void* buffer, uint32_t length)
{
    if (auto* d = obtain(true))
        check(d->PutBlock(buffer, length));
}

uint8_t ComPort::GetByte()
{
    uint8_t c = 0;
    if (auto* d = obtain(true))
        check(d->GetByte(c));
    return c;
}

uint8_t ComPort::PeekByte(uint32_t index)
{
    uint8_t c = 0;
    if (auto* d = obtain(true))
        check(d->PeekByte(c, index));
    return c;
}

uint32_t ComPort::GetBlock(void* buffer, uint32_t count)
{
    auto* d = obtain(true);
    return d ? static_cast<uint32_t>(d->GetBlock(buffer, count)) : 0;
}

uint32_t ComPort::PeekBlock(void* buffer, uint32_t count)
{
    auto* d = obtain(true);
    return d ? static_cast<uint32_t>(d->PeekBlock(buffer, count)) : 0;
}

bool ComPort::ByteReady()
{
    auto* d = obtain(true);
    return d && d->ByteReady();
}

void ComPort::FlushInput()
{
    if (auto* d = obtain(true))
        check(d->FlushInput());
}

void ComPort::FlushOutput()
{
    if (auto* d = obtain(true))
        check(d->FlushOutput());
}

// ---- Triggers ----------------------------------------------------------------------------

uint16_t ComPort::NewDataTrigger(std::string_view data, bool ignoreCase)
{
    auto* d = obtain(true);
    if (!d)
        return 0;
    const int rc = d->NewDataTrigger(data.data(), ignoreCase, static_cast<int>(data.size()));
    check(rc);
    return rc < 0 ? 0 : static_cast<uint16_t>(rc);
}

uint16_t ComPort::NewTimerTrigger()
{
    auto* d = obtain(false);
    if (!d)
        return 0;
    const int rc = d->NewTimerTrigger();
    check(rc);
    return rc < 0 ? 0 : static_cast<uint16_t>(rc);
}

uint16_t ComPort::NewStatusTrigger(int statusType)
{
    auto* d = obtain(false);
    if (!d)
        return 0;
    const int rc = d->NewStatusTrigger(statusType);
    check(rc);
    return rc < 0 ? 0 : static_cast<uint16_t>(rc);
}

void ComPort::DropTrigger(uint16_t handle)
{
    if (dispatcher_ && state_ == psOpen)
        check(dispatcher_->DropTrigger(handle));
}

void ComPort::ArmTimerTrigger(uint16_t handle, int32_t ticks, bool activate)
{
    if (auto* d = obtain(false))
        check(d->ArmTimerTrigger(handle, ticks, activate));
}

void ComPort::ArmStatusTrigger(uint16_t handle, uint16_t value, bool activate)
{
    if (auto* d = obtain(false))
        check(d->ArmStatusTrigger(handle, value, activate));
}

void ComPort::SendBreak(uint32_t ticks, bool yield)
{
    if (auto* d = obtain(false))
        check(d->SendBreak(ticks, yield));
}

} // namespace zelvo::comm
