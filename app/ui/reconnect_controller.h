#pragma once
// The main window's side of reconnecting: when the device of a direct line goes away
// (a USB adapter pulled out) and the session has "Reconnect" switched on, the terminal
// shows "[disconnected]", the device's directories are watched (with a check every
// second besides), and the line opens again as soon as the same device is back, found
// by its /dev/serial/by-id name when it has one; the terminal then shows
// "[reconnected]". The logic is comm::Reconnector; this class gives it the watcher, the
// timer and the window's port and terminal.

#include "comm/reconnector.h"
#include "platform/device_watcher.h"

#include <QObject>

#include <functional>

class QSocketNotifier;
class QTimer;

namespace zelvo::app {

class PortAccess;
class TerminalAccess;

class ReconnectController : public QObject {
    Q_OBJECT

public:
    ReconnectController(PortAccess& port, TerminalAccess& terminal, QObject* parent = nullptr);
    ~ReconnectController() override;

    // The line was lost (the port has closed). True when the controller takes over:
    // reconnecting is on and the line is a device. The window then shows no error.
    bool lineLost();
    bool waiting() const { return logic_.Waiting(); }
    // Stops waiting.
    void cancel();

    // The line is open again (the window re-arms what belongs to an open line).
    std::function<void()> onReconnected;

private:
    void check();
    void stopWatching();

    PortAccess& port_;
    TerminalAccess& terminal_;
    comm::Reconnector logic_;
    platform::DeviceWatcher watcher_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* timer_;
    int comNumber_ = 0;
};

} // namespace zelvo::app
