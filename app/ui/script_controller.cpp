#include "app/ui/script_controller.h"

#include "app/port_access.h"
#include "app/transfer_line.h"
#include "app/ui/main_form.h"
#include "app/ui/script_environment.h"
#include "app/ui/terminal_access.h"
#include "script_host/script_runner.h"
#include "script_host/ui/scr_add_form.h"
#include "script_host/ui/script_console_form.h"
#include "script_host/ui/script_form.h"
#include "script_host/ui/script_message_form.h"

#include <QAction>
#include <QMenu>
#include <QTimer>

namespace zelvo::app {

using namespace zelvo::script_host;

ScriptController::ScriptController(MainForm& form, PortAccess& port, TerminalAccess& terminal)
    : form_(form), port_(port), terminal_(terminal)
{
    console_ = std::make_unique<ScriptConsoleForm>();
    message_ = std::make_unique<ScriptMessageForm>();
    env_ = std::make_unique<ScriptEnvironment>(form, terminal, *message_);
    runner_ = std::make_unique<ScriptRunner>(*env_);
    runner_->setBinding({&port_, nullptr, nullptr, {}});
    editor_ = std::make_unique<ScriptForm>(*runner_, dialog_, *console_, *message_);
    env_->setEditor(editor_.get());
    editor_->onRunningChanged = [this](bool on) { runningChanged(on); };
    // Ctrl+C typed into the console stops the script, as Stop does.
    console_->ScriptConsole().OnBreak = [this] { runner_->RequestStop(); };

    menu_ = form_.findChild<QMenu*>(QStringLiteral("ScriptMenu"));
    delim_ = action("ScriptDelim");
    auto hook = [this](const char* name, auto slot) {
        QAction* a = action(name);
        a->setEnabled(true);
        // Queued: the command runs once the menu has closed (a run lasts long).
        connect(a, &QAction::triggered, this, slot, Qt::QueuedConnection);
    };
    hook("RunScriptItem", [this] { RunscriptItemClick(0); });
    hook("EditScriptItem", &ScriptController::EditScriptClick);
    hook("AddScriptItem", &ScriptController::AddScriptItemClick);
    // While a script runs it owns the line: a transfer from the File menu would take the
    // line from under it (and the protocol from a script's own transfer).
    if (QMenu* file = form_.findChild<QMenu*>(QStringLiteral("FileMenu")))
        connect(file, &QMenu::aboutToShow, this, [this] {
            if (!runner_->Running())
                return;
            for (const char* name : {"SendMenu", "ReceiveMenu"})
                if (QMenu* m = form_.findChild<QMenu*>(QString::fromLatin1(name)))
                    m->setEnabled(false);
        });
    QAction* stop = action("StopScriptItem");
    stop->setEnabled(false);
    // Not queued: Stop must reach a script that waits inside the event loop.
    connect(stop, &QAction::triggered, this, &ScriptController::StopScriptItemClick);
}

ScriptController::~ScriptController()
{
    // The windows go before the runner they refer to.
    editor_.reset();
    console_.reset();
    message_.reset();
}

QAction* ScriptController::action(const char* name) const
{
    return form_.findChild<QAction*>(QString::fromLatin1(name));
}

void ScriptController::setPrompts(UserPrompts* prompts)
{
    prompts_ = prompts;
    env_->setPrompts(prompts);
}

void ScriptController::setTransfer(protocols::Protocol* protocol, TransferLine* line)
{
    protocol_ = protocol;
    transferLine_ = line;
    runner_->setBinding({&port_, line, protocol, {}});
}

bool ScriptController::running() const
{
    return runner_->Running();
}

void ScriptController::applySettings(const ScriptSettings& s)
{
    dialog_.FileName = QString::fromStdString(s.File);
    dialog_.InitialDir = QString::fromStdString(s.Path);
    list_.clear();
    for (const std::string& path : s.Scripts)
        list_.AddScript(path);
    rebuildMenu();
}

void ScriptController::captureSettings(ScriptSettings& s) const
{
    s.File = dialog_.FileName.toStdString();
    s.Path = dialog_.InitialDir.toStdString();
    s.Scripts = list_.paths();
}

bool ScriptController::closeQuery()
{
    if (!editor_->modified())
        return true;
    editor_->show();
    editor_->close();
    return editor_->isHidden();
}

void ScriptController::stopForClose()
{
    closing_ = true;
    editor_->programClosing = true;
    if (runner_->Running())
        runner_->RequestStop();
    editor_->hide();
    console_->hide();
    message_->hide();
}

// ---- The Script menu ---------------------------------------------------------------------

void ScriptController::AddScript(const std::string& path)
{
    list_.AddScript(path);
    rebuildMenu();
}

void ScriptController::rebuildMenu()
{
    for (QAction* a : items_) {
        menu_->removeAction(a);
        a->deleteLater();
    }
    items_.clear();
    delim_->setVisible(!list_.empty());
    for (size_t i = 0; i < list_.count(); ++i) {
        QAction* a = menu_->addAction(QString::fromStdString(ScriptList::Caption(i, list_.paths()[i])));
        a->setObjectName(QStringLiteral("Script%1Item").arg(i));
        const int tag = int(i + 1);
        a->setData(tag);
        connect(a, &QAction::triggered, this, [this, tag] { RunscriptItemClick(tag); },
                Qt::QueuedConnection);
        items_.push_back(a);
    }
}

void ScriptController::RunscriptItemClick(int tag)
{
    QString path;
    if (tag == 0) {
        if (auto chosen = dialog_.Execute(&form_))
            path = *chosen;
    } else if (const std::string* listed = list_.byTag(tag)) {
        path = QString::fromStdString(*listed);
    }
    if (path.isEmpty())
        return;
    editor_->RunScript(path, false);
}

void ScriptController::EditScriptClick()
{
    if (auto path = dialog_.Execute(&form_))
        editor_->EditScript(*path);
}

void ScriptController::StopScriptItemClick()
{
    runner_->RequestStop();
}

void ScriptController::AddScriptItemClick()
{
    ScrAddForm add(dialog_, &form_);
    add.setPaths(list_.paths());
    const bool ok = addFormAnswer ? addFormAnswer(add) : add.exec() == QDialog::Accepted;
    if (!ok)
        return;
    list_.clear();
    for (const std::string& p : add.paths())
        list_.AddScript(p);
    rebuildMenu();
}

void ScriptController::runningChanged(bool running)
{
    action("RunScriptItem")->setEnabled(!running);
    action("StopScriptItem")->setEnabled(running);
    if (running) {
        form_.DisarmZmodemTrigger();
    } else {
        if (!closing_) {
            form_.ArmZmodemTrigger();
            form_.UpdateMenu();
        }
        // Signalled once the run's windows are back.
        QTimer::singleShot(0, this, [this] { emit runFinished(); });
    }
}

} // namespace zelvo::app
