#pragma once
// The main window's file transfer commands: the File / Send and Receive items, the
// Zmodem auto-start trigger, the protocol options command, and the protocol component's
// events (next file, error, finish). While a transfer runs the protocol owns the line:
// the window's listeners are detached, the terminal is inactive and the trigger is
// disarmed; the finish event gives everything back.

#include "app/session_settings.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zelvo::protocols {
class Protocol;
}

namespace zelvo::app {

class PortAccess;
class TerminalAccess;
class TransferLine;
class UserPrompts;

class TransferController : public QObject {
    Q_OBJECT

public:
    // What the controller needs of the window it works for.
    class Host {
    public:
        virtual ~Host() = default;
        // The window's data-available and data-trigger listeners of the port.
        virtual void detachListeners() = 0;
        virtual void attachListeners() = 0;
        // A transfer started or ended: menus and status bar follow.
        virtual void transferStateChanged() = 0;
        // The line lights show the line as it is now.
        virtual void refreshLights() = 0;
    };

    // settings: the window's protocol settings (stored values and the last files).
    TransferController(Host& host, PortAccess& port, TerminalAccess& terminal,
                       ProtocolSettings& settings, QObject* parent = nullptr);
    ~TransferController() override;

    void setPrompts(UserPrompts* prompts) { prompts_ = prompts; }
    // The protocol component and the line it runs on; without them no transfer starts.
    void setTransfer(protocols::Protocol* protocol, TransferLine* line);
    protocols::Protocol* protocol() const { return protocol_; }
    // Starts a Zmodem receive; replaced by setTransfer, set directly by tests.
    void setZmodemStarter(std::function<void()> start) { zmodemStart_ = std::move(start); }

    // Whether a protocol type is offered by the Send and Receive menus.
    static bool ProtocolAvailable(int type);
    // True when a File / Send or Receive item of this type can be used now.
    bool itemEnabled(int type) const;
    bool running() const { return running_; }
    // Cancels a running transfer (the window closes).
    void cancel();

    // Stored settings to the component and back.
    void applySettings();
    void captureSettings();

    // ---- Commands ----
    void SendItemClick(int tag);
    void ReceiveItemClick(int tag);
    void ProtocolItemClick();

    // ---- Zmodem auto-start ----
    void setAutoStart(bool on) { zmodemAuto_ = on; }
    bool autoStart() const { return zmodemAuto_; }
    void ArmZmodemTrigger();
    void DisarmZmodemTrigger();
    uint16_t zmodemTriggerHandle() const { return zmodemHandle_; }
    // The port's data-trigger event.
    void ZmodemTrigger(uint16_t handle);
    // The port closed by itself. Its triggers come back when it opens again, so the
    // auto-start trigger keeps its handle.
    void lineLost() {}

    // ---- The protocol component's events ----
    void ProtocolProtocolNextFile(std::string& fileName);
    void ProtocolProtocolFinish(int code);
    void ProtocolProtocolError(int code);

    // The text shown after "Fatal protokol error:" for a code: its text from the error
    // table, or the code in decimal.
    static std::string FatalErrorText(int code);

private:
    void receiveFiles();
    void startTransfer(bool transmit);
    void reportError(int code);

    Host& host_;
    PortAccess& port_;
    TerminalAccess& terminal_;
    ProtocolSettings& settings_;
    UserPrompts* prompts_ = nullptr;
    protocols::Protocol* protocol_ = nullptr;
    TransferLine* line_ = nullptr;
    std::function<void()> zmodemStart_;
    std::vector<std::string> sendFiles_;
    size_t nextFileIndex_ = 0;
    bool running_ = false;
    bool errorShown_ = false;
    bool zmodemAuto_ = false;
    uint16_t zmodemHandle_ = 0;
    // A trigger disarmed while the port was closed: it comes back with the next open
    // and is removed then.
    uint16_t staleHandle_ = 0;
};

} // namespace zelvo::app
