#pragma once
// The scrollback of the main window's terminal: Edit / Scrollback holds the view still for
// reading the history, a typed key returns to the live page, and the mouse wheel or
// Shift+Page Up/Down take the view into the history and back by themselves; the menu check
// and the "OFFLINE" panel follow each way. Preferences / "Scrollback rows..." sets how
// many rows of history the terminal keeps.
//
// Scrollback never changes who owns the line: the terminal keeps what arrives meanwhile
// and shows it on return, and a transfer or a file server exchange that runs meanwhile
// keeps the line until it ends.

#include <QObject>

#include <functional>

class QAction;

namespace zelvo::app {

class TerminalAccess;
class UserPrompts;

class ScrollbackController : public QObject {
    Q_OBJECT

public:
    // item: the Edit / Scrollback item; changed: the status bar is to be brought up to date.
    ScrollbackController(TerminalAccess& terminal, QAction* item, std::function<void()> changed,
                         QObject* parent = nullptr);
    ~ScrollbackController() override;

    void setPrompts(UserPrompts* prompts) { prompts_ = prompts; }
    // Edit / Scrollback.
    void toggle();
    // A key was typed: back to the live page.
    void keyTyped();
    // Preferences / Scrollback rows...
    void chooseRows();

private:
    void sync();

    TerminalAccess& terminal_;
    QAction* item_;
    std::function<void()> changed_;
    UserPrompts* prompts_ = nullptr;
};

} // namespace zelvo::app
