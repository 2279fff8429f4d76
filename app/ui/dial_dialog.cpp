#include "app/ui/dial_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSpinBox>

namespace zelvo::app {

namespace {
const QRegularExpression& dialPattern()
{
    static const QRegularExpression re(QStringLiteral("[0-9A-Da-d*#TtPpWw,;!@ ()+.\\-]*"));
    return re;
}
} // namespace

bool DialDialog::IsDialString(const QString& text)
{
    static const QRegularExpression whole(
        QRegularExpression::anchoredPattern(dialPattern().pattern()));
    return text.size() <= kMaxNumber && whole.match(text).hasMatch();
}

DialDialog::DialDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("DialDialog"));
    setWindowTitle(QStringLiteral("Enter phone number to dial"));
    auto* form = new QFormLayout(this);
    phoneEdit_ = new QLineEdit(this);
    phoneEdit_->setObjectName(QStringLiteral("PhoneEdit"));
    phoneEdit_->setMaxLength(kMaxNumber);
    phoneEdit_->setMinimumWidth(220);
    phoneEdit_->setValidator(new QRegularExpressionValidator(dialPattern(), phoneEdit_));
    retriesEdit_ = new QSpinBox(this);
    retriesEdit_->setObjectName(QStringLiteral("RetriesEdit"));
    retriesEdit_->setRange(1, 10);
    waitEdit_ = new QSpinBox(this);
    waitEdit_->setObjectName(QStringLiteral("WaitEdit"));
    waitEdit_->setRange(30, 300);
    waitEdit_->setSingleStep(30);
    form->addRow(QStringLiteral("Number"), phoneEdit_);
    form->addRow(QStringLiteral("Attempts"), retriesEdit_);
    form->addRow(QStringLiteral("Wait"), waitEdit_);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* dial = buttons->addButton(QStringLiteral("&Dial"), QDialogButtonBox::AcceptRole);
    dial->setObjectName(QStringLiteral("DialBtn"));
    dial->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("CancelBtn"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
    phoneEdit_->setFocus();
}

void DialDialog::Load(const DialRequest& r)
{
    phoneEdit_->setText(IsDialString(QString::fromStdString(r.number))
                            ? QString::fromStdString(r.number)
                            : QString());
    retriesEdit_->setValue(r.attempts);
    waitEdit_->setValue(r.waitSeconds);
    phoneEdit_->selectAll();
    phoneEdit_->setFocus();
}

DialRequest DialDialog::Result() const
{
    DialRequest r;
    r.number = phoneEdit_->text().trimmed().toStdString();
    r.attempts = retriesEdit_->value();
    r.waitSeconds = waitEdit_->value();
    return r;
}

} // namespace zelvo::app
