#pragma once
// The script message window: a line of text that a script shows with Message and hides
// with MessageHide, captioned with the running script's file name. It does not take the
// focus and is hidden when the script ends.

#include <QWidget>

class QLabel;

namespace zelvo::script_host {

class ScriptMessageForm : public QWidget {
    Q_OBJECT

public:
    explicit ScriptMessageForm(QWidget* parent = nullptr);

    // Puts the text into the label, across the window's width, and shows the window
    // without waiting.
    void ShowText(const QString& text);
    QString text() const;

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    QLabel* label_;
};

} // namespace zelvo::script_host
