#include "app/ui/script_environment.h"

#include "app/ui/terminal_access.h"
#include "app/ui/user_prompts.h"
#include "script_host/ui/script_form.h"
#include "script_host/ui/script_message_form.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTimer>
#include <QWidget>

namespace zelvo::app {

ScriptEnvironment::ScriptEnvironment(QWidget& mainWindow, TerminalAccess& terminal,
                                     script_host::ScriptMessageForm& message)
    : mainWindow_(mainWindow), terminal_(terminal), message_(message)
{
}

bool ScriptEnvironment::waitFor(const std::function<bool()>& done, int64_t timeoutMs)
{
    if (done())
        return true;
    if (timeoutMs == 0) {
        QCoreApplication::processEvents();
        return done();
    }
    const QDeadlineTimer deadline =
        timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs);
    // The timer only wakes the event dispatcher when the time is up.
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &timer, [] {});
    for (;;) {
        if (done())
            return true;
        if (deadline.hasExpired()) {
            QCoreApplication::processEvents();
            return done();
        }
        if (!deadline.isForever())
            timer.start(int(std::clamp<qint64>(deadline.remainingTime(), 1, INT_MAX)));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void ScriptEnvironment::wake()
{
    QMetaObject::invokeMethod(&context_, [] {}, Qt::QueuedConnection);
}

void ScriptEnvironment::terminalShow(const uint8_t* data, size_t n)
{
    terminal_.showReceived(data, n);
}

void ScriptEnvironment::terminalClear()
{
    terminal_.clearWindow();
}

bool ScriptEnvironment::terminalActive() const
{
    return terminal_.Active();
}

void ScriptEnvironment::setTerminalActive(bool on)
{
    terminal_.setActive(on);
}

void ScriptEnvironment::showMainWindow(bool focus)
{
    if (mainWindow_.isMinimized())
        mainWindow_.showNormal();
    else if (mainWindow_.isHidden())
        mainWindow_.show();
    if (focus) {
        mainWindow_.raise();
        mainWindow_.activateWindow();
    }
}

void ScriptEnvironment::hideMainWindow()
{
    mainWindow_.hide();
}

void ScriptEnvironment::showMessage(const std::string& text)
{
    message_.ShowText(QString::fromLocal8Bit(text.c_str()));
}

void ScriptEnvironment::hideMessage()
{
    message_.hide();
}

std::string ScriptEnvironment::selectPath(const std::string& initial)
{
    if (!prompts_)
        return {};
    auto dir = prompts_->chooseDirectory(QString::fromLocal8Bit(initial.c_str()));
    return dir ? QFile::encodeName(*dir).toStdString() : std::string();
}

std::string ScriptEnvironment::selectFile(const std::string& mask, const std::string& title,
                                          bool mustExist)
{
    return editor_ ? editor_->SelectFile(mask, title, mustExist) : std::string();
}

} // namespace zelvo::app
