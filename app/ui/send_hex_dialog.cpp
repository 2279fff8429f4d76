#include "app/ui/send_hex_dialog.h"

#include "app/send_text.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zelvo::app {

namespace {
constexpr int kMaxText = 4096;
} // namespace

SendHexDialog::SendHexDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("SendHexDialog"));
    setWindowTitle(QStringLiteral("Send hex"));
    auto* column = new QVBoxLayout(this);
    auto* prompt = new QLabel(QStringLiteral("&Bytes as hex pairs, e.g. 1B 5B 41 or 0x0D,0x0A:"), this);
    column->addWidget(prompt);
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("HexEdit"));
    edit_->setMaxLength(kMaxText);
    edit_->setMinimumWidth(360);
    prompt->setBuddy(edit_);
    column->addWidget(edit_);
    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("StateLabel"));
    state_->setWordWrap(true);
    column->addWidget(state_);

    auto* buttons = new QDialogButtonBox(this);
    send_ = buttons->addButton(QStringLiteral("&Send"), QDialogButtonBox::AcceptRole);
    send_->setObjectName(QStringLiteral("SendBtn"));
    send_->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("CancelBtn"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (!bytes().empty())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
    connect(edit_, &QLineEdit::textChanged, this, &SendHexDialog::check);
    check();
}

void SendHexDialog::Load(const QString& text)
{
    edit_->setText(text);
    edit_->selectAll();
    edit_->setFocus();
    check();
}

QString SendHexDialog::text() const
{
    return edit_->text();
}

std::string SendHexDialog::bytes() const
{
    const SendBytes r = ParseHexPairs(edit_->text().toStdString());
    return r.ok() ? r.bytes : std::string();
}

void SendHexDialog::check()
{
    const std::string typed = edit_->text().toStdString();
    const SendBytes r = ParseHexPairs(typed);
    if (r.ok()) {
        state_->setStyleSheet(QString());
        state_->setText(r.bytes.size() == 1 ? QStringLiteral("1 byte")
                                            : QStringLiteral("%1 bytes").arg(r.bytes.size()));
    } else if (edit_->text().trimmed().isEmpty()) {
        state_->setStyleSheet(QString());
        state_->setText(QString());
    } else {
        const int col = int(QString::fromStdString(typed.substr(0, r.column - 1)).size()) + 1;
        state_->setStyleSheet(QStringLiteral("color: #b00000"));
        state_->setText(QStringLiteral("Column %1: %2").arg(col).arg(QString::fromStdString(r.error)));
    }
    send_->setEnabled(r.ok());
}

} // namespace zelvo::app
