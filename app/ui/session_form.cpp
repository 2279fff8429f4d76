#include "app/ui/session_form.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zelvo::app {

SessionForm::SessionForm(const std::vector<std::string>& names, const std::string& preset,
                         QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("SessionForm"));
    setWindowTitle(QStringLiteral("Sessions"));
    auto* top = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("Session &name:"), this);
    top->addWidget(label);
    box_ = new QComboBox(this);
    label->setBuddy(box_);
    box_->setObjectName(QStringLiteral("SessionBox"));
    box_->setEditable(true);
    box_->setInsertPolicy(QComboBox::NoInsert);
    box_->setMinimumContentsLength(28);
    for (auto& n : names)
        box_->addItem(QString::fromStdString(n));
    box_->setEditText(QString::fromStdString(preset));
    box_->lineEdit()->selectAll();
    top->addWidget(box_);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("&Save"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("OkBtn"));
    ok->setDefault(true);
    QPushButton* del = buttons->addButton(QStringLiteral("&Delete"), QDialogButtonBox::DestructiveRole);
    del->setObjectName(QStringLiteral("DeleteBtn"));
    QPushButton* cancel = buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("CancelBtn"));
    connect(ok, &QPushButton::clicked, this, [this] {
        kind_ = SessionFormResult::Save;
        accept();
    });
    connect(del, &QPushButton::clicked, this, [this] {
        kind_ = SessionFormResult::Delete;
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, [this] {
        kind_ = SessionFormResult::Cancel;
        reject();
    });
    top->addWidget(buttons);
}

SessionFormResult SessionForm::result() const
{
    SessionFormResult r;
    r.kind = kind_;
    r.name = box_->currentText().toStdString();
    for (int i = 0; i < box_->count(); ++i)
        r.list.push_back(box_->itemText(i).toStdString());
    return r;
}

AboutBox::AboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("Info"));
    auto* top = new QVBoxLayout(this);
    auto* product = new QLabel(QStringLiteral("Zelvo for Windows 95/NT"), this);
    QFont f = product->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.3);
    product->setFont(f);
    product->setObjectName(QStringLiteral("ProductName"));
    auto* version = new QLabel(QStringLiteral("Version 2.61"), this);
    version->setObjectName(QStringLiteral("Version"));
    auto* maker = new QLabel(QStringLiteral("Copyright \u00a9 1997 Brunmo"), this);
    maker->setObjectName(QStringLiteral("Copyright"));
    for (QLabel* l : {product, version, maker}) {
        l->setAlignment(Qt::AlignCenter);
        top->addWidget(l);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("OKButton"));
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->setCenterButtons(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    top->addWidget(buttons);
}

} // namespace zelvo::app
