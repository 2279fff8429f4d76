#pragma once
// The main window's Script menu and everything behind it: running a chosen or a listed
// script, Stop, the editor, the list of listed scripts (kept with the session's Script
// group and rebuilt by every PortOpen), and the windows of a run (editor, console,
// message window). While a script runs the main window's "Run..." is disabled and
// "Stop" enabled, the terminal reads the line only through the script's echo, and the
// Zmodem auto-start and the File menu's transfers are off: the script owns the line.

#include "app/session_settings.h"
#include "script_host/script_list.h"
#include "script_host/ui/script_dialog.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QMenu;

namespace zelvo::protocols {
class Protocol;
}
namespace zelvo::script_host {
class ScriptConsoleForm;
class ScriptForm;
class ScriptMessageForm;
class ScriptRunner;
class ScrAddForm;
}

namespace zelvo::app {

class MainForm;
class PortAccess;
class ScriptEnvironment;
class TerminalAccess;
class TransferLine;
class UserPrompts;

class ScriptController : public QObject {
    Q_OBJECT

public:
    // The main window must already have built its Script menu.
    ScriptController(MainForm& form, PortAccess& port, TerminalAccess& terminal);
    ~ScriptController() override;

    void setPrompts(UserPrompts* prompts);
    void setTransfer(protocols::Protocol* protocol, TransferLine* line);

    // The session's Script group: the dialog's presets and the listed scripts.
    void applySettings(const ScriptSettings& s);
    void captureSettings(ScriptSettings& s) const;
    // The program is about to close: unsaved edits are asked about (false: stay open).
    bool closeQuery();
    // The main window closes: a running script is stopped and ends without showing
    // the editor.
    void stopForClose();

    // ---- Script menu --------------------------------------------------------------
    // Tag 0: "Run..." asks for a file; tag n: the n-th listed script.
    void RunscriptItemClick(int tag);
    void EditScriptClick();
    void StopScriptItemClick();
    void AddScriptItemClick();
    void AddScript(const std::string& path);

    bool running() const;
    const script_host::ScriptList& scripts() const { return list_; }
    script_host::ScriptDialog& dialog() { return dialog_; }
    script_host::ScriptForm& editor() { return *editor_; }
    script_host::ScriptConsoleForm& console() { return *console_; }
    script_host::ScriptMessageForm& messageWindow() { return *message_; }
    script_host::ScriptRunner& runner() { return *runner_; }
    ScriptEnvironment& environment() { return *env_; }

    // Answers the script menu editor without a user (tests): true for OK.
    std::function<bool(script_host::ScrAddForm&)> addFormAnswer;

signals:
    // A run has ended (its windows are back as they were).
    void runFinished();

private:
    void rebuildMenu();
    void runningChanged(bool running);
    QAction* action(const char* name) const;

    MainForm& form_;
    PortAccess& port_;
    TerminalAccess& terminal_;
    UserPrompts* prompts_ = nullptr;
    protocols::Protocol* protocol_ = nullptr;
    TransferLine* transferLine_ = nullptr;
    script_host::ScriptDialog dialog_;
    std::unique_ptr<script_host::ScriptConsoleForm> console_;
    std::unique_ptr<script_host::ScriptMessageForm> message_;
    std::unique_ptr<ScriptEnvironment> env_;
    std::unique_ptr<script_host::ScriptRunner> runner_;
    std::unique_ptr<script_host::ScriptForm> editor_;
    script_host::ScriptList list_;
    QMenu* menu_ = nullptr;
    QAction* delim_ = nullptr;
    std::vector<QAction*> items_;
    bool closing_ = false;
};

} // namespace zelvo::app
