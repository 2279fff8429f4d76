#pragma once
// The capture commands of the main window: File / "Open capture file..." starts a capture
// file of what the terminal shows, the same item ("Close capture file") ends it. Every
// failure reaches the user once, with its reason: a file that cannot be created, a last
// write that fails at the end, or a write that fails while text arrives (a full disk).

#include <QObject>

#include <functional>
#include <string>

class QAction;

namespace zelvo::app {

class TerminalAccess;
class UserPrompts;

class CaptureController : public QObject {
    Q_OBJECT

public:
    // item: the File menu item; changed: the status bar is to be brought up to date.
    CaptureController(TerminalAccess& terminal, QAction* item, std::function<void()> changed,
                      QObject* parent = nullptr);
    ~CaptureController() override;

    void setPrompts(UserPrompts* prompts) { prompts_ = prompts; }
    // The menu item: asks for a file and starts, or ends the capture running.
    void toggle();
    // Ends a running capture (the program ends); a failure is still told.
    void stop();

private:
    void report(const QString& text);

    TerminalAccess& terminal_;
    QAction* item_;
    std::function<void()> changed_;
    UserPrompts* prompts_ = nullptr;
};

} // namespace zelvo::app
