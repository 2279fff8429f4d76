#include "app/ui/reconnect_controller.h"

#include "app/port_access.h"
#include "app/ui/terminal_access.h"

#include <QSocketNotifier>
#include <QTimer>

namespace zelvo::app {

ReconnectController::ReconnectController(PortAccess& port, TerminalAccess& terminal, QObject* parent)
    : QObject(parent),
      port_(port),
      terminal_(terminal),
      logic_({
          .show = [this](const std::string& line) { terminal_.showLocalLine(line); },
          .reopen = [this](const std::string& path) { return !port_.openAt(path) && port_.isOpen(); },
          .reconnected =
              [this] {
                  stopWatching();
                  if (onReconnected)
                      onReconnected();
              },
      })
{
    timer_ = new QTimer(this);
    timer_->setInterval(comm::Reconnector::CheckIntervalMs);
    connect(timer_, &QTimer::timeout, this, &ReconnectController::check);
    if (watcher_.fd() >= 0) {
        notifier_ = new QSocketNotifier(watcher_.fd(), QSocketNotifier::Read, this);
        notifier_->setEnabled(false);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            if (watcher_.readEvents())
                check();
        });
    }
}

ReconnectController::~ReconnectController() = default;

bool ReconnectController::lineLost()
{
    const PortOptionValues v = port_.settings();
    if (!v.Reconnect || v.TapiMode != 3 || !logic_.LineLost(port_.lineIdentity()))
        return false;
    comNumber_ = v.ComNumber;
    watcher_.setDirectories(logic_.WatchDirectories());
    if (notifier_)
        notifier_->setEnabled(true);
    timer_->start();
    return true;
}

void ReconnectController::check()
{
    // The user chose another line meanwhile, or switched reconnecting off.
    const PortOptionValues v = port_.settings();
    if (v.TapiMode != 3 || v.ComNumber != comNumber_ || !v.Reconnect) {
        cancel();
        return;
    }
    // Open already: a reopen the port carried out once its close had finished, or one
    // by hand.
    if (port_.isOpen())
        logic_.Reopened();
    else
        logic_.Check();
}

void ReconnectController::cancel()
{
    logic_.Cancel();
    stopWatching();
}

void ReconnectController::stopWatching()
{
    timer_->stop();
    if (notifier_)
        notifier_->setEnabled(false);
}

} // namespace zelvo::app
