#pragma once
// The dial dialog: the number to dial, the call attempts and the wait between them.

#include "app/dial_logic.h"

#include <QDialog>

class QLineEdit;
class QSpinBox;

namespace zelvo::app {

class DialDialog : public QDialog {
    Q_OBJECT

public:
    explicit DialDialog(QWidget* parent = nullptr);

    void Load(const DialRequest& r);
    DialRequest Result() const;

    // The characters a dial string may hold: digits, the tone letters A-D, * and #,
    // and the dialling modifiers (T, P, W, ',', ';', '!', '@') with blanks and the
    // punctuation people write numbers with. Anything else could reach the modem as
    // a command of its own.
    static bool IsDialString(const QString& text);
    static constexpr int kMaxNumber = 40;

private:
    QLineEdit* phoneEdit_;
    QSpinBox* retriesEdit_;
    QSpinBox* waitEdit_;
};

} // namespace zelvo::app
