#pragma once
// The main window's side of dialling, without Qt: the dial, hang-up and line
// configuration commands, the flags that order dialling, hanging up, reopening the
// modem and closing, and what the window does on each event of the telephony device.
//
//   pass-through --Dial--> EndCall --port closed--> redial request --> PlaceCall
//       --> progress --> connected (call up) | failed (pass-through reopened)
//   call up --Hangup--> EndCall --port closed--> pass-through reopened
//
// The window carries out what the logic decides through View: menu items, status panel
// 3, the requests it posts to its own queue (they run after the current event), the
// session to open and the direct port to open.

#include "comm/telephony/telephony_device.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zelvo::app {

struct DialRequest {
    std::string number;
    int attempts = 3;
    int waitSeconds = 60;
};

class DialLogic {
public:
    class View {
    public:
        virtual ~View() = default;
        // The port is in telephony mode (TapiMode other than 3).
        virtual bool telephonyMode() const = 0;
        virtual void setTapiMode(uint32_t mode) = 0;
        // The telephony device chosen in the port dialog (the port's Device).
        virtual std::string chosenDevice() const = 0;
        virtual void setDialEnabled(bool on) = 0;
        virtual void setHangupEnabled(bool on) = 0;
        // Status panel 3, repainted at once.
        virtual void showCallStatus(const std::string& text) = 0;
        // The dial dialog; the confirmed values, or nothing when cancelled.
        virtual std::optional<DialRequest> askNumber(const DialRequest& preset) = 0;
        virtual void postPassThrough() = 0;
        virtual void postRedial() = 0;
        virtual void openSession(const std::string& path) = 0;
        // Opens the port as a direct port (TapiMode 3 is set already).
        virtual void openDirectPort() = 0;
        // The modem's line has been put on the port, or taken off it.
        virtual void lineOpened() = 0;
        virtual void lineClosed() = 0;
        // The modem could not be opened for pass-through.
        virtual void lineFailed(const std::string& why) = 0;
    };

    // dialNumber: the stored "Dial" value, read and written in place.
    DialLogic(telephony::TelephonyDevice& device, View& view, std::string& dialNumber);
    ~DialLogic();
    DialLogic(const DialLogic&) = delete;
    DialLogic& operator=(const DialLogic&) = delete;

    // ---- Commands ----
    void DialItemClick();
    void HangupItemClick();
    void TapiItemClick();

    // ---- The device's events ----
    void TapiDeviceStatus(const telephony::CallStatus& s);
    void TapiDeviceTapiPortOpen();
    void TapiDeviceTapiConnect();
    void TapiDeviceTapiFail();
    void TapiDeviceTapiPortClose();
    void TapiDeviceTapiError(const std::string& text);

    // ---- The posted requests ----
    void PassThroughRequest();
    void RedialRequest();

    // ---- What the window asks of dialling ----
    // Opening a session's line in telephony mode: ends any call; when that is done at
    // once, the mode becomes tmAuto and the pass-through request is posted.
    void OpenLine();
    // Before a direct port opens: ends the modem's use. False when that takes a while:
    // the port then opens when the device reports its port closed.
    bool ReleaseLine();
    // Choosing a session while in telephony mode: it opens once the call has ended.
    void SwitchSession(const std::string& path);
    // The window is closing; a call that is up is ended (without reopening anything).
    void FormCloseQuery();
    void FormClose(bool lineOnPort);

    // ---- State ----
    bool dialPending() const { return dialPending_; }
    bool hangupRequested() const { return hangupRequested_; }
    bool closing() const { return closing_; }
    bool sessionPending() const { return sessionPending_; }
    // Whether Dial and Hangup are enabled while in telephony mode. The window's menu
    // refresh keeps them: a refresh during a call must not take Hangup away.
    bool dialEnabled() const { return dialEnabled_; }
    bool hangupEnabled() const { return hangupEnabled_; }
    const std::string& number() const { return number_; }

private:
    void setDial(bool on);
    void setHangup(bool on);

    telephony::TelephonyDevice& device_;
    View& view_;
    std::string& number_;
    bool dialPending_ = false;
    bool hangupRequested_ = false;
    bool closing_ = false;
    bool sessionPending_ = false;
    std::string pendingSession_;
    bool dialEnabled_ = true;
    bool hangupEnabled_ = false;
};

} // namespace zelvo::app
