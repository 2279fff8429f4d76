#include "app/ui/macro_editor.h"

#include "app/send_text.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zelvo::app {

namespace {
constexpr int kMaxCaption = 24;
constexpr int kMaxText = 255;
} // namespace

MacroEditor::MacroEditor(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("MacroEditor"));
    setWindowTitle(QStringLiteral("Send Macros"));
    auto* column = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Key"), this), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Caption"), this), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Sends"), this), 0, 2);
    for (size_t i = 0; i < kMacroCount; ++i) {
        const int row = int(i) + 1;
        auto* key = new QLabel(QStringLiteral("Shift+F%1").arg(row), this);
        names_[i] = new QLineEdit(this);
        names_[i]->setObjectName(QStringLiteral("MacroName%1").arg(row));
        names_[i]->setMaxLength(kMaxCaption);
        names_[i]->setMinimumWidth(110);
        texts_[i] = new QLineEdit(this);
        texts_[i]->setObjectName(QStringLiteral("Macro%1").arg(row));
        texts_[i]->setMaxLength(kMaxText);
        texts_[i]->setMinimumWidth(300);
        key->setBuddy(texts_[i]);
        grid->addWidget(key, row, 0);
        grid->addWidget(names_[i], row, 1);
        grid->addWidget(texts_[i], row, 2);
        connect(texts_[i], &QLineEdit::textChanged, this, &MacroEditor::check);
    }
    column->addLayout(grid);
    auto* help = new QLabel(QStringLiteral("In the text: \\r carriage return, \\n line feed, "
                                           "\\t tab, \\xHH the byte HH, \\\\ a backslash."),
                            this);
    help->setWordWrap(true);
    column->addWidget(help);
    fault_ = new QLabel(this);
    fault_->setObjectName(QStringLiteral("FaultLabel"));
    fault_->setStyleSheet(QStringLiteral("color: #b00000"));
    fault_->setWordWrap(true);
    column->addWidget(fault_);

    auto* buttons = new QDialogButtonBox(this);
    ok_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok_->setObjectName(QStringLiteral("OkBtn"));
    ok_->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("CancelBtn"));
    connect(buttons, &QDialogButtonBox::accepted, this, &MacroEditor::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
    check();
}

void MacroEditor::Load(const Macros& macros)
{
    for (size_t i = 0; i < kMacroCount; ++i) {
        names_[i]->setText(QString::fromStdString(macros[i].Name));
        texts_[i]->setText(QString::fromStdString(macros[i].Text));
    }
    check();
}

MacroEditor::Macros MacroEditor::Result() const
{
    Macros m;
    for (size_t i = 0; i < kMacroCount; ++i) {
        m[i].Name = names_[i]->text().trimmed().toStdString();
        m[i].Text = texts_[i]->text().toStdString();
        // A caption without a text would be a button that sends nothing.
        if (m[i].Text.empty())
            m[i].Name.clear();
    }
    return m;
}

QString MacroEditor::firstFault(int* row, int* column) const
{
    for (size_t i = 0; i < kMacroCount; ++i) {
        const QString text = texts_[i]->text();
        const std::string utf8 = text.toStdString();
        const SendBytes r = DecodeEscapes(utf8);
        if (r.ok())
            continue;
        // The column in characters the user sees, not in UTF-8 bytes.
        const int col = int(QString::fromStdString(utf8.substr(0, r.column - 1)).size()) + 1;
        if (row)
            *row = int(i);
        if (column)
            *column = col;
        return QStringLiteral("Shift+F%1, column %2: %3")
            .arg(i + 1)
            .arg(col)
            .arg(QString::fromStdString(r.error));
    }
    return {};
}

void MacroEditor::check()
{
    const QString fault = firstFault();
    fault_->setText(fault);
    fault_->setVisible(!fault.isEmpty());
}

void MacroEditor::accept()
{
    int row = 0, column = 0;
    const QString fault = firstFault(&row, &column);
    if (!fault.isEmpty()) {
        // The dialog stays open on the faulty text, its cursor at the fault.
        fault_->setText(fault);
        fault_->setVisible(true);
        texts_[size_t(row)]->setFocus();
        texts_[size_t(row)]->setCursorPosition(column - 1);
        return;
    }
    QDialog::accept();
}

} // namespace zelvo::app
