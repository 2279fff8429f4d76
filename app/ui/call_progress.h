#pragma once
// The "Call Progress" window: the progress texts of a call being placed, and a button
// that gives the call up. A call that fails leaves its last text on show, with the
// button turned into Close, so the user learns why.

#include <QDialog>

class QLabel;
class QPushButton;

namespace zelvo::app {

class CallProgress : public QDialog {
    Q_OBJECT

public:
    explicit CallProgress(QWidget* parent = nullptr);

    void showText(const QString& text);
    // The sequence has ended: the window goes, unless failed() follows.
    void sequenceEnded();
    // The call could not be made: the last text stays, with Close.
    void failed();
    QString text() const;
    // Escape or the window's close box give the call up while it is being placed.
    void reject() override;

signals:
    // The user gave the call up.
    void cancelRequested();

private:
    QLabel* label_;
    QPushButton* button_;
    QString lastText_;
    bool failed_ = false;
};

} // namespace zelvo::app
