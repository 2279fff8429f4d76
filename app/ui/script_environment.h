#pragma once
// The program's side of a script run: waits run the Qt event loop, the terminal is the
// main window's, Message uses the script message window, SelectPath the directory
// picker of the batch receive and SelectFile the script editor's file dialog.

#include "script_host/host_environment.h"

#include <QObject>

class QWidget;

namespace zelvo::script_host {
class ScriptForm;
class ScriptMessageForm;
}

namespace zelvo::app {

class TerminalAccess;
class UserPrompts;

class ScriptEnvironment : public script_host::HostEnvironment {
public:
    ScriptEnvironment(QWidget& mainWindow, TerminalAccess& terminal,
                      script_host::ScriptMessageForm& message);

    void setPrompts(UserPrompts* prompts) { prompts_ = prompts; }
    void setEditor(script_host::ScriptForm* editor) { editor_ = editor; }

    // Handles events as they come (QCoreApplication::processEvents waiting for more),
    // testing done() after each; a timer ends the wait at its time-out. Unlike a nested
    // QEventLoop this goes on working while the application is quitting, so a script
    // stopped at exit can still finish its transfer and unwind.
    bool waitFor(const std::function<bool()>& done, int64_t timeoutMs) override;
    void wake() override;
    void terminalShow(const uint8_t* data, size_t n) override;
    void terminalClear() override;
    bool terminalActive() const override;
    void setTerminalActive(bool on) override;
    void showMainWindow(bool focus) override;
    void hideMainWindow() override;
    void showMessage(const std::string& text) override;
    void hideMessage() override;
    std::string selectPath(const std::string& initial) override;
    std::string selectFile(const std::string& mask, const std::string& title, bool mustExist) override;

private:
    QWidget& mainWindow_;
    TerminalAccess& terminal_;
    script_host::ScriptMessageForm& message_;
    UserPrompts* prompts_ = nullptr;
    script_host::ScriptForm* editor_ = nullptr;
    QObject context_; // target of the wake-up calls
};

} // namespace zelvo::app
