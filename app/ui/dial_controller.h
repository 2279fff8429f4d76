#pragma once
// Dialling in the main window: the File menu's "&Dial..." and "&Hangup..", the
// Preferences menu's "T&api...", status panel 3, the call progress window and the
// telephony device's events, over DialLogic. The main window makes one when it is given
// a telephony device and asks it whenever a line opens or closes in telephony mode.

#include "app/dial_logic.h"

#include <QObject>

#include <functional>
#include <optional>
#include <string>

class QAction;
class QLabel;

namespace zelvo::telephony {
class TelephonyDevice;
}

namespace zelvo::app {

class CallProgress;
class MainForm;
class PortAccess;
class UserPrompts;

class DialController : public QObject, private DialLogic::View {
    Q_OBJECT

public:
    using DialPrompt = std::function<std::optional<DialRequest>(const DialRequest& preset)>;

    // dialNumber: the session's stored "Dial" value.
    DialController(MainForm& form, PortAccess& port, telephony::TelephonyDevice& device,
                   std::string& dialNumber);
    ~DialController() override;

    void setPrompts(UserPrompts* prompts) { prompts_ = prompts; }
    // Replaces the dial dialog (tests answer it without a user).
    void setDialPrompt(DialPrompt prompt) { dialPrompt_ = std::move(prompt); }

    DialLogic& logic() { return logic_; }
    const DialLogic& logic() const { return logic_; }
    CallProgress* progressWindow() const { return progress_; }

    // ---- What the main window asks ----
    // Opens the line of a session in telephony mode (pass-through once the device is
    // free).
    void OpenLine() { logic_.OpenLine(); }
    // Before a direct port opens; false when it opens later, on the port-close event.
    bool ReleaseLine() { return logic_.ReleaseLine(); }
    void SwitchSession(const std::string& path) { logic_.SwitchSession(path); }
    void FormCloseQuery() { logic_.FormCloseQuery(); }
    void FormClose();
    // The menu refresh: the three items are shown in telephony mode only; Dial and
    // Hangup keep the state the call has given them.
    void UpdateMenu(bool telephony);

private:
    // DialLogic::View
    bool telephonyMode() const override;
    void setTapiMode(uint32_t mode) override;
    std::string chosenDevice() const override;
    void setDialEnabled(bool on) override;
    void setHangupEnabled(bool on) override;
    void showCallStatus(const std::string& text) override;
    std::optional<DialRequest> askNumber(const DialRequest& preset) override;
    void postPassThrough() override;
    void postRedial() override;
    void openSession(const std::string& path) override;
    void openDirectPort() override;
    void lineOpened() override;
    void lineClosed() override;
    void lineFailed(const std::string& why) override;

    void onStatus(const telephony::CallStatus& s);

    MainForm& form_;
    PortAccess& port_;
    telephony::TelephonyDevice& device_;
    DialLogic logic_;
    UserPrompts* prompts_ = nullptr;
    DialPrompt dialPrompt_;
    QAction* dialItem_;
    QAction* hangupItem_;
    QAction* tapiItem_;
    QLabel* panel3_;
    CallProgress* progress_;
};

} // namespace zelvo::app
