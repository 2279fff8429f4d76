#pragma once
// The script editor window: the source with colouring, the list of the engine's
// messages, and the commands to open, save, run, single-step and stop a script. It also
// drives every script run (RunScript), also those started from the main window's
// Script menu: the run's messages land in its list, the console and message windows
// are shown and hidden around the run, and a run that reported messages ends with the
// editor open at the first message's line.
//
// Files are read as UTF-8 when they are valid UTF-8 and byte for byte (Latin-1)
// otherwise, and are written back the way they were read (line ends included), so no
// byte of a script changes by being opened and saved.

#include "script_host/run_observer.h"

#include <QMainWindow>
#include <QMessageBox>

#include <functional>
#include <optional>
#include <string>

class QAction;
class QLabel;
class QListWidget;
class QMenu;
class QSplitter;

namespace zelvo::script_host {

class ColorMemo;
class ScriptConsoleForm;
class ScriptDialog;
class ScriptMessageForm;
class ScriptRunner;

class ScriptForm : public QMainWindow, private RunObserver {
    Q_OBJECT

public:
    ScriptForm(ScriptRunner& runner, ScriptDialog& dialog, ScriptConsoleForm& console,
               ScriptMessageForm& message, QWidget* parent = nullptr);
    ~ScriptForm() override;

    // ---- Operations ---------------------------------------------------------------
    // Makes path the current file and shows it in the editor (empty when it does not
    // exist yet).
    void EditScript(const QString& path);
    // Runs a script file, held before every line in step mode. Returns at its end.
    void RunScript(const QString& path, bool step);
    // Shows the editor with the caret on line n (1-based), scrolled into view.
    void ShowLine(int n);

    // ---- Commands -----------------------------------------------------------------
    void ScrLoadItemClick();
    void ScrSaveItemClick();
    void ScrSaveAsItemClick();
    void ScrCloseItemClick();
    void ScrRunItemClick();
    void ScrStepItemClick();
    void ScrStopItemClick();
    void ScriptMessageClick();
    void ScriptSourceChange();

    // The editor's file dialog, as the SelectFile host function uses it: files matching
    // mask (which may carry a directory), the title, an existing file or any name. The
    // chosen file's full path, "" when cancelled.
    std::string SelectFile(const std::string& mask, const std::string& title, bool mustExist);

    // ---- State --------------------------------------------------------------------
    const QString& currentFile() const { return currentFile_; }
    int changeCount() const { return changeCount_; }
    bool modified() const;
    ColorMemo* ScriptSource() const { return source_; }
    QListWidget* ScriptMessage() const { return messages_; }
    QSplitter* ScrSplitter() const { return splitter_; }
    QString statusPanel(int i) const;
    QAction* action(const char* objectName) const;
    ScriptRunner& runner() { return runner_; }

    // The program is closing: a run that ends now brings no window back (the editor
    // stays hidden, also with messages).
    bool programClosing = false;
    // The main window's part in a run: its "Run..." and "Stop" items follow this.
    std::function<void(bool running)> onRunningChanged;
    // Questions to the user; tests answer them. confirmSave asks "Save changes to ..."
    // (Yes, No or Cancel); errorBox tells of a file that cannot be read or written.
    std::function<QMessageBox::StandardButton(const QString& text)> confirmSave;
    std::function<void(const QString& text)> errorBox;
    // Answers the SelectFile dialog (directory, pattern, title, must exist).
    std::function<std::optional<QString>(const QString& dir, const QString& pattern,
                                         const QString& title, bool mustExist)>
        fileSelectAnswer;

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    // RunObserver
    void errorMessage(const std::string& text) override;
    void consoleOutput(int ch) override;
    int consoleInput(const std::function<bool()>& stopped) override;
    void pausedAt(int line) override;
    void resumed() override;

    void buildMenus();
    bool load(const QString& path);
    bool save(const QString& path);
    // Asks about unsaved changes: true when the caller may go on.
    bool allowDiscard();
    void resetCaption();
    void setRunState(bool running);

    ScriptRunner& runner_;
    ScriptDialog& dialog_;
    ScriptConsoleForm& console_;
    ScriptMessageForm& message_;
    ColorMemo* source_ = nullptr;
    QListWidget* messages_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QLabel* panels_[2] = {};
    QMenu* fileMenu_ = nullptr;
    QString currentFile_;
    int changeCount_ = 0;
    bool latin1_ = false; // the current file was read byte for byte
    bool crlf_ = false;   // its lines end in CR LF
    bool loading_ = false;
    bool splitterPlaced_ = false;
};

} // namespace zelvo::script_host
