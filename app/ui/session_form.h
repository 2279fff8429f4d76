#pragma once
// The session Save / Delete dialog: an editable, sorted list of the session names.

#include "app/ui/user_prompts.h"

#include <QDialog>

class QComboBox;

namespace zelvo::app {

class SessionForm : public QDialog {
    Q_OBJECT

public:
    SessionForm(const std::vector<std::string>& names, const std::string& preset,
                QWidget* parent = nullptr);

    QComboBox* box() const { return box_; }
    // The outcome after the dialog has closed.
    SessionFormResult result() const;

private:
    QComboBox* box_;
    SessionFormResult::Kind kind_ = SessionFormResult::Cancel;
};

// The about box: caption "Info", product, version, maker and an OK button.
class AboutBox : public QDialog {
    Q_OBJECT

public:
    explicit AboutBox(QWidget* parent = nullptr);
};

} // namespace zelvo::app
