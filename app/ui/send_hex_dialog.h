#pragma once
// "Send hex...": bytes typed as hex pairs ("1B 5B 41", "0x1B,0x5B"). Below the field the
// dialog shows how many bytes the text makes or what is wrong with it; Send is enabled
// only for a text that parses.

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace zelvo::app {

class SendHexDialog : public QDialog {
    Q_OBJECT

public:
    explicit SendHexDialog(QWidget* parent = nullptr);

    void Load(const QString& text);
    QString text() const;
    // The bytes of the text; empty while it does not parse.
    std::string bytes() const;

    QLineEdit* hexEdit() const { return edit_; }
    QLabel* stateLabel() const { return state_; }
    QPushButton* sendButton() const { return send_; }

private:
    void check();

    QLineEdit* edit_ = nullptr;
    QLabel* state_ = nullptr;
    QPushButton* send_ = nullptr;
};

} // namespace zelvo::app
