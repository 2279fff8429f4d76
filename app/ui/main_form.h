#pragma once
// The program's main window: menus, status bar and light bar around the terminal, the
// settings and sessions, opening the line, and the routing of received data to the
// remote file server.

#include "app/file_server_router.h"
#include "app/session_list.h"
#include "app/session_settings.h"
#include "app/ui/transfer_controller.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>

class QAction;
class QLabel;
class QMenu;
class QScrollArea;
class QTimer;

namespace zelvo::comm {
class StatusLight;
}
namespace zelvo::protocols {
class Protocol;
}
namespace zelvo::telephony {
class TelephonyDevice;
}

namespace zelvo::app {

class CaptureController;
class ScrollbackController;
class PasteController;
class PortAccess;
class ScriptController;
class ReconnectController;
class TransferLine;
struct LineOpenError;
class TerminalAccess;
class UserPrompts;
class RfsStatistic;
class DialController;
class MacroController;
class ViewController;

// The file server's entry points; absent when the program runs without the library.
struct FileServerFunctions {
    FileServerRouter::ReceiveFn receive = nullptr;
    FileServerRouter::DispatchFn dispatch = nullptr;
    uint32_t* (*statistic)(uint32_t* record) = nullptr;
    bool available() const { return receive && dispatch; }
};

class MainForm : public QMainWindow, private FileServerRouter::Host, private TransferController::Host {
    Q_OBJECT

public:
    // storePath: the settings store; startMinimised: the program got an argument.
    MainForm(PortAccess& port, TerminalAccess& terminal, FileServerFunctions server,
             std::string storePath, bool startMinimised, QWidget* parent = nullptr);
    ~MainForm() override;

    // The dialogs and message boxes (DialogPrompts in the program, answers in tests).
    void setPrompts(UserPrompts* prompts);
    // Switches the line lights' monitoring (the light controller) on or off.
    void setLightMonitoring(std::function<void(bool)> f) { lightMonitoring_ = std::move(f); }
    // A light of the light bar by name: RxdLed, TxdLed, CtsLed, DcdLed, DsrLed, RingLed,
    // DriveLight.
    comm::StatusLight* light(const char* objectName) const;
    // Starts a Zmodem receive; without it the auto-start trigger is never armed.
    void setZmodemStarter(std::function<void()> start) { transfers_->setZmodemStarter(std::move(start)); }
    // The protocol component and the line it runs on. With them the File / Send and
    // Receive items of the protocols that have an engine, Preferences / Protocol and
    // the Zmodem auto-start work; the window takes the component's events.
    void setTransfer(protocols::Protocol* protocol, TransferLine* line);
    // The file transfer commands.
    TransferController& transfers() { return *transfers_; }
    // The telephony device; with it, sessions in telephony mode open through it and
    // the Dial, Hangup and Tapi items work. Set before the window is shown.
    void setTelephony(telephony::TelephonyDevice* device);
    DialController* dialController() const { return dial_.get(); }
    // Hex view, timestamps and line endings; the send macros and Send hex.
    ViewController& view() const { return *view_; }
    MacroController& macros() const { return *macros_; }

    // ---- Operations named by the window's design ----
    void PortOpen(const std::string& session);
    void UpdateMenu();
    void UpdateStatus();
    void ResizeForm();
    void UpdateSize();
    void CenterForm();
    void AddSession(const std::string& name);
    void ArmZmodemTrigger();
    void DisarmZmodemTrigger();

    // ---- Menu commands ----
    void LedItemClick();
    void StatusItemClick();
    void ClearScreenItemClick();
    void CopyItemClick();
    void PasteItemClick();
    void ScrollbackItemClick();
    void TerminalKeyPress();
    void FontItemClick();
    void LogItemClick();
    void EchoItemClick();
    void NoneItemClick();
    void AnsiItemClick();
    void VT100ItemClick();
    void XtermItemClick();
    void VisualBellItemClick();
    void KeyboardItemClick();
    void PortItemClick();
    void SaveSessionItemClick();
    void SessionDelimClick(int tag);
    void InfoClick();
    void RfsInfoClick();
    void ExitItemClick();
    void StatusTimerTimer();
    void SendItemClick(int tag) { transfers_->SendItemClick(tag); }
    void ReceiveItemClick(int tag) { transfers_->ReceiveItemClick(tag); }
    void ProtocolItemClick() { transfers_->ProtocolItemClick(); }

    // ---- State, for the program and for tests ----
    const SessionList& sessions() const { return sessions_; }
    const std::string& currentSession() const { return currentSession_; }
    const SessionSettings& settings() const { return settings_; }
    // Panels 0 to 3, and 4: the named session in use.
    QString statusPanel(int i) const;
    bool ledBarVisible() const;
    bool driveLightLit() const;
    bool statusTimerActive() const;
    uint16_t zmodemTriggerHandle() const { return transfers_->zmodemTriggerHandle(); }
    bool zmodemAutoStart() const { return transfers_->autoStart(); }
    // True from the start of a transfer until its finish event.
    bool transferRunning() const { return transfers_->running(); }
    const PasteController& paste() const { return *paste_; }
    const FileServerRouter& router() const { return router_; }
    // True once the first activation has opened the line (or given up).
    bool started() const { return started_; }
    // True when the user cancelled opening a line at start-up; the program ends.
    bool quitRequested() const { return quitRequested_; }
    QAction* action(const char* objectName) const;
    // The Script menu and the script windows.
    ScriptController& scripts() const { return *scripts_; }
    // Reads and writes the store the way the window does at start and at exit.
    void writeSettingsNow();

signals:
    // The first activation has opened the line and brought the window up to date.
    void startedUp();

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void FormCreate();
    void FormActivate();
    void FormClose();
    void buildMenus();
    void buildStatusBar();
    void buildLedBar();
    void rebuildSessionMenu();
    // Title, status panel and menu check of the session in use.
    void showSession();
    // Writes which line is open into the terminal, after the line changed.
    void markLine();
    void setLightMonitoring(bool on);
    void applySettings();
    void captureSettings();
    bool openLine(LineOpenError& err);
    void onPortData(const uint8_t* bytes, size_t length);
    void onLineLost(const std::string& reason);
    bool saveStore(const std::function<void(platform::RegistryStore&)>& write);

    // FileServerRouter::Host
    void setTerminalActive(bool active) override;
    void sendToPort(const uint8_t* bytes, size_t length) override;
    void packetStarted() override;
    void packetEnded() override;

    // TransferController::Host
    void detachListeners() override;
    void attachListeners() override;
    void transferStateChanged() override;
    void refreshLights() override;

    PortAccess& port_;
    TerminalAccess& terminal_;
    FileServerFunctions server_;
    std::string storePath_;
    UserPrompts* prompts_ = nullptr;
    std::function<void(bool)> lightMonitoring_;

    SessionSettings settings_;
    SessionList sessions_;
    FileServerRouter router_;
    std::unique_ptr<TransferController> transfers_;
    bool firstActivation_ = true;
    bool startMinimised_ = false;
    bool closing_ = false;
    bool started_ = false;
    bool quitRequested_ = false;
    bool closed_ = false;

    QWidget* central_ = nullptr;
    QScrollArea* terminalArea_ = nullptr;
    QWidget* terminalFrame_ = nullptr;
    QWidget* ledBar_ = nullptr;
    QLabel* rxdLabel_ = nullptr;
    comm::StatusLight* driveLight_ = nullptr;
    QLabel* panels_[4] = {};
    QLabel* sessionPanel_ = nullptr;
    // The named session in use; empty for the start-up settings ("default").
    std::string currentSession_;
    // The title the remote side set (empty when none), shown in the caption.
    std::string remoteTitle_;
    // The terminal type the open line was given.
    std::string openedTerm_;
    QTimer* statusTimer_ = nullptr;
    std::unique_ptr<DialController> dial_;
    ViewController* view_ = nullptr;
    MacroController* macros_ = nullptr;
    QMenu* preferencesMenu_ = nullptr;
    QAction* sessionDelim_ = nullptr;
    std::vector<QAction*> sessionItems_;
    RfsStatistic* rfsStatistic_ = nullptr;
    std::unique_ptr<ScriptController> scripts_;
    ReconnectController* reconnect_ = nullptr;
    PasteController* paste_ = nullptr;
    CaptureController* capture_ = nullptr;
    ScrollbackController* scrollback_ = nullptr;
};

} // namespace zelvo::app
