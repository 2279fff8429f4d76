#pragma once
// The send macro editor: for each of Shift+F1 .. Shift+F12 a caption for its button and
// the text it sends, with backslash escapes. A text with a bad escape is named at once
// below the table, and OK is refused until it is mended, so a macro never sends
// something other than what its text says.

#include "app/session_settings.h"

#include <QDialog>

#include <array>

class QLabel;
class QLineEdit;
class QPushButton;

namespace zelvo::app {

class MacroEditor : public QDialog {
    Q_OBJECT

public:
    using Macros = std::array<SendMacro, kMacroCount>;

    explicit MacroEditor(QWidget* parent = nullptr);

    void Load(const Macros& macros);
    Macros Result() const;

    // The message for the first macro whose text does not decode (empty when all do);
    // row is then its index.
    QString firstFault(int* row = nullptr, int* column = nullptr) const;
    // Caption and text fields of a row, for tests.
    QLineEdit* nameEdit(int row) const { return names_[size_t(row)]; }
    QLineEdit* textEdit(int row) const { return texts_[size_t(row)]; }
    QLabel* faultLabel() const { return fault_; }

    void accept() override;

private:
    void check();

    std::array<QLineEdit*, kMacroCount> names_{};
    std::array<QLineEdit*, kMacroCount> texts_{};
    QLabel* fault_ = nullptr;
    QPushButton* ok_ = nullptr;
};

} // namespace zelvo::app
