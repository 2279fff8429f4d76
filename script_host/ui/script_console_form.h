#pragma once
// The script console window: the standard output and standard input of running scripts
// (print, getch, gets, ...), separate from the serial line. Created hidden at program
// start; the first output or input of a run shows it, the end of the run hides it, and
// its contents stay until the next run writes.

#include "script_host/ui/console.h"

#include <QWidget>

namespace zelvo::script_host {

class ScriptConsoleForm : public QWidget {
    Q_OBJECT

public:
    explicit ScriptConsoleForm(QWidget* parent = nullptr);

    Console& ScriptConsole() { return *console_; }
    // Shows the window if it is hidden (clearing the console first) and brings it to
    // the front when it is not the active window.
    void showForRun();

private:
    Console* console_;
};

} // namespace zelvo::script_host
