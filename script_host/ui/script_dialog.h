#pragma once
// The script file dialog of the main window ("Open script file...", script files or all
// files), used by the Script menu and the editor. It remembers the file name it was
// last confirmed with and an initial directory, both kept with the session.

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace zelvo::script_host {

class ScriptDialog {
public:
    enum Purpose { Open, SaveAs };

    QString FileName;   // the file the dialog shows selected
    QString InitialDir; // where it opens when FileName has no directory

    // The chosen file's full path; nothing when cancelled. A confirmed choice becomes
    // FileName.
    std::optional<QString> Execute(QWidget* parent, Purpose purpose = Open);

    // Answers the dialog without a user (tests).
    std::function<std::optional<QString>(Purpose)> answer;

    static const char* Title() { return "Open script file..."; }
    static const char* Filter() { return "Script files (*.vm);;All files (*)"; }
};

} // namespace zelvo::script_host
