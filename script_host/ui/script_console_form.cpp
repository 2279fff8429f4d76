#include "script_host/ui/script_console_form.h"

#include "terminal/ui/terminal_font.h"

#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

namespace zelvo::script_host {

ScriptConsoleForm::ScriptConsoleForm(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("ScriptConsoleForm"));
    setWindowTitle(QStringLiteral("ScriptConsoleForm"));
    setFixedSize(649, 302);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    outer->addWidget(panel);
    auto* inner = new QVBoxLayout(panel);
    inner->setContentsMargins(1, 1, 1, 1);
    console_ = new Console(panel);
    console_->setObjectName(QStringLiteral("ScriptConsole"));
    console_->setFrameShape(QFrame::NoFrame);
    // A family the system lacks gives way to its fixed-pitch font of the same height;
    // should even that be refused, the console keeps its own fixed-pitch default.
    try {
        console_->setConsoleFont(terminal::terminalFont(QStringLiteral("Courier New"), -12, 0));
    } catch (const ConsoleError&) {
    }
    console_->setLineBreak(LF);
    inner->addWidget(console_);
    if (QScreen* s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());
}

void ScriptConsoleForm::showForRun()
{
    if (isHidden()) {
        console_->Clear();
        show();
    }
    if (!isActiveWindow()) {
        raise();
        activateWindow();
    }
}

} // namespace zelvo::script_host
