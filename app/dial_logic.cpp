#include "app/dial_logic.h"

namespace zelvo::app {

DialLogic::DialLogic(telephony::TelephonyDevice& device, View& view, std::string& dialNumber)
    : device_(device), view_(view), number_(dialNumber)
{
    device_.OnTapiStatus = [this](const telephony::CallStatus& s) { TapiDeviceStatus(s); };
    device_.OnTapiPortOpen = [this] { TapiDeviceTapiPortOpen(); };
    device_.OnTapiConnect = [this] { TapiDeviceTapiConnect(); };
    device_.OnTapiFail = [this] { TapiDeviceTapiFail(); };
    device_.OnTapiPortClose = [this] { TapiDeviceTapiPortClose(); };
    device_.OnTapiError = [this](const std::string& t) { TapiDeviceTapiError(t); };
}

DialLogic::~DialLogic()
{
    device_.OnTapiStatus = nullptr;
    device_.OnTapiPortOpen = nullptr;
    device_.OnTapiConnect = nullptr;
    device_.OnTapiFail = nullptr;
    device_.OnTapiPortClose = nullptr;
    device_.OnTapiError = nullptr;
}

void DialLogic::setDial(bool on)
{
    dialEnabled_ = on;
    view_.setDialEnabled(on);
}

void DialLogic::setHangup(bool on)
{
    hangupEnabled_ = on;
    view_.setHangupEnabled(on);
}

void DialLogic::DialItemClick()
{
    DialRequest preset;
    preset.number = number_;
    preset.attempts = device_.MaxAttempts();
    preset.waitSeconds = device_.RetryWait();
    std::optional<DialRequest> r = view_.askNumber(preset);
    // A cancelled dialog, or an empty number, places no call and leaves the line be.
    if (!r || r->number.empty())
        return;
    device_.setMaxAttempts(uint16_t(r->attempts));
    device_.setRetryWait(uint16_t(r->waitSeconds));
    number_ = r->number;
    dialPending_ = true;
    hangupRequested_ = false;
    if (device_.EndCall()) {
        view_.showCallStatus("Dialing " + number_);
        device_.PlaceCall(number_);
        setHangup(true);
        setDial(false);
    }
    // Otherwise the call is placed when the device reports its port closed.
}

void DialLogic::HangupItemClick()
{
    dialPending_ = false;
    closing_ = false;
    hangupRequested_ = true;
    if (device_.EndCall()) {
        setHangup(false);
        hangupRequested_ = false;
        setDial(true);
        device_.OpenPassThrough();
    }
}

void DialLogic::TapiItemClick()
{
    device_.ShowLineConfig();
}

void DialLogic::TapiDeviceStatus(const telephony::CallStatus& s)
{
    if (s.last)
        view_.showCallStatus("");
    else
        view_.showCallStatus(telephony::DescribeStatus(s.message, s.state, s.reason));
}

void DialLogic::TapiDeviceTapiPortOpen()
{
    closing_ = false;
    view_.lineOpened();
}

void DialLogic::TapiDeviceTapiConnect()
{
    dialPending_ = false;
    const uint32_t rate = device_.ConnectRate();
    view_.showCallStatus(rate > 0 ? "Connected at " + std::to_string(rate) + " BPS" : "Connected");
}

void DialLogic::TapiDeviceTapiFail()
{
    setHangup(false);
    setDial(true);
    dialPending_ = false;
    hangupRequested_ = false;
    closing_ = false;
    view_.showCallStatus("");
    view_.postPassThrough();
}

void DialLogic::TapiDeviceTapiPortClose()
{
    view_.lineClosed();
    if (sessionPending_) {
        sessionPending_ = false;
        view_.openSession(pendingSession_);
        return;
    }
    if (view_.telephonyMode()) {
        if (closing_)
            return; // the program is ending
        setHangup(false);
        setDial(true);
        if (!dialPending_) {
            device_.setSelectedDevice(view_.chosenDevice());
            view_.postPassThrough();
        } else {
            setHangup(true);
            hangupRequested_ = false;
            setDial(false);
            view_.showCallStatus("Dialing " + number_);
            view_.postRedial();
        }
        return;
    }
    if (!closing_) {
        device_.setSelectedDevice("");
        view_.setTapiMode(3);
        view_.openDirectPort();
    }
    view_.showCallStatus("");
}

void DialLogic::TapiDeviceTapiError(const std::string& text)
{
    setHangup(false);
    setDial(true);
    view_.lineFailed(text);
}

void DialLogic::PassThroughRequest()
{
    // A request queued before the port became a direct port, or before the window
    // began to close, has nothing left to reopen.
    if (!view_.telephonyMode() || closing_)
        return;
    device_.OpenPassThrough();
}

void DialLogic::RedialRequest()
{
    if (!view_.telephonyMode() || closing_)
        return;
    if (hangupRequested_)
        device_.OpenPassThrough();
    else if (dialPending_)
        device_.PlaceCall(number_);
}

void DialLogic::OpenLine()
{
    if (device_.EndCall()) {
        view_.setTapiMode(1);
        device_.setSelectedDevice(view_.chosenDevice());
        dialPending_ = false;
        hangupRequested_ = false;
        setHangup(false);
        setDial(true);
        view_.postPassThrough();
    }
}

bool DialLogic::ReleaseLine()
{
    return device_.EndCall();
}

void DialLogic::SwitchSession(const std::string& path)
{
    pendingSession_ = path;
    sessionPending_ = true;
    if (device_.EndCall()) {
        sessionPending_ = false;
        view_.openSession(path);
    }
}

void DialLogic::FormCloseQuery()
{
    closing_ = true;
}

void DialLogic::FormClose(bool lineOnPort)
{
    if (lineOnPort)
        device_.EndCall();
}

} // namespace zelvo::app
