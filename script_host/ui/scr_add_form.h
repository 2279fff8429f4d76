#pragma once
// The script menu editor ("Edit script menu"): the listed scripts, with Add (a file from
// the script dialog), Remove (the selected line), OK and Cancel.

#include <QDialog>

#include <string>
#include <vector>

class QListWidget;

namespace zelvo::script_host {

class ScriptDialog;

class ScrAddForm : public QDialog {
    Q_OBJECT

public:
    ScrAddForm(ScriptDialog& dialog, QWidget* parent = nullptr);

    void setPaths(const std::vector<std::string>& paths);
    std::vector<std::string> paths() const;
    QListWidget* ScrList() const { return list_; }

    void AddClick();
    void RemoveClick();

private:
    ScriptDialog& dialog_;
    QListWidget* list_;
};

} // namespace zelvo::script_host
