#include "app/ui/modem_list_dialog.h"

#include "app/line_directory.h"
#include "app/ui/modem_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace zelvo::app {

ModemListDialog::ModemListDialog(LineDirectory& lines, QWidget* parent)
    : QDialog(parent), lines_(lines)
{
    setObjectName(QStringLiteral("ModemListDialog"));
    setWindowTitle(QStringLiteral("Modems"));
    auto* top = new QHBoxLayout(this);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("ModemList"));
    list_->setMinimumWidth(380);
    top->addWidget(list_, 1);
    auto* side = new QVBoxLayout;
    auto* add = new QPushButton(QStringLiteral("&Add..."), this);
    add->setObjectName(QStringLiteral("AddBtn"));
    edit_ = new QPushButton(QStringLiteral("&Edit..."), this);
    edit_->setObjectName(QStringLiteral("EditBtn"));
    remove_ = new QPushButton(QStringLiteral("&Remove"), this);
    remove_->setObjectName(QStringLiteral("RemoveBtn"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("CloseBtn"));
    for (QPushButton* b : {add, edit_, remove_, close}) {
        b->setAutoDefault(false);
        side->addWidget(b);
    }
    side->addStretch(1);
    top->addLayout(side);
    connect(add, &QPushButton::clicked, this, &ModemListDialog::AddClick);
    connect(edit_, &QPushButton::clicked, this, &ModemListDialog::EditClick);
    connect(remove_, &QPushButton::clicked, this, &ModemListDialog::RemoveClick);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(list_, &QListWidget::itemDoubleClicked, this, &ModemListDialog::EditClick);
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        edit_->setEnabled(row >= 0);
        remove_->setEnabled(row >= 0);
    });
    fill();
}

QStringList ModemListDialog::names() const
{
    QStringList out;
    for (int i = 0; i < list_->count(); ++i)
        out << list_->item(i)->data(Qt::UserRole).toString();
    return out;
}

void ModemListDialog::fill(const QString& select)
{
    list_->clear();
    for (const telephony::ModemConfig& m : lines_.modems()) {
        auto* item = new QListWidgetItem(
            QStringLiteral("%1  (%2)").arg(QString::fromStdString(m.name),
                                           QString::fromStdString(m.device)),
            list_);
        item->setData(Qt::UserRole, QString::fromStdString(m.name));
        if (item->data(Qt::UserRole).toString() == select)
            list_->setCurrentItem(item);
    }
    if (!list_->currentItem() && list_->count() > 0)
        list_->setCurrentRow(0);
    edit_->setEnabled(list_->currentRow() >= 0);
    remove_->setEnabled(list_->currentRow() >= 0);
}

void ModemListDialog::report(const std::string& error)
{
    QMessageBox::warning(this, QStringLiteral("Error"),
                         QStringLiteral("The modems cannot be changed:\n%1")
                             .arg(QString::fromStdString(error)));
}

void ModemListDialog::AddClick()
{
    ModemDialog d(true, this);
    telephony::ModemConfig fresh;
    fresh.name = "Modem " + std::to_string(list_->count() + 1);
    d.Load(fresh);
    while (d.exec() == QDialog::Accepted) {
        std::string error;
        telephony::ModemConfig m = d.Result();
        if (lines_.saveModem(m, std::string(), error)) {
            fill(QString::fromStdString(m.name));
            return;
        }
        report(error);
    }
}

void ModemListDialog::EditClick()
{
    QListWidgetItem* item = list_->currentItem();
    if (!item)
        return;
    const std::string name = item->data(Qt::UserRole).toString().toStdString();
    for (const telephony::ModemConfig& m : lines_.modems()) {
        if (!telephony::SameModemName(m.name, name))
            continue;
        ModemDialog d(true, this);
        d.Load(m);
        while (d.exec() == QDialog::Accepted) {
            std::string error;
            telephony::ModemConfig changed = d.Result();
            if (lines_.saveModem(changed, m.name, error)) {
                fill(QString::fromStdString(changed.name));
                return;
            }
            report(error);
        }
        return;
    }
}

void ModemListDialog::RemoveClick()
{
    QListWidgetItem* item = list_->currentItem();
    if (!item)
        return;
    std::string error;
    if (!lines_.removeModem(item->data(Qt::UserRole).toString().toStdString(), error))
        report(error);
    fill();
}

} // namespace zelvo::app
