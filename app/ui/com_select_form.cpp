#include "app/ui/com_select_form.h"

#include "comm/com_port.h"
#include "comm/port_table.h"
#include "platform/registry_store.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zelvo::app {

ComSelectForm::ComSelectForm(const std::string& storePath, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ComSelectForm"));
    setWindowTitle(QStringLiteral("Select Port"));
    Label1 = new QLabel(QStringLiteral("The configured serial port is not valid."), this);
    Label2 = new QLabel(QStringLiteral("Please choose another port."), this);
    PortsComboBox = new QComboBox(this);
    PortsComboBox->setObjectName(QStringLiteral("PortsComboBox"));
    OkBtn = new QPushButton(QStringLiteral("OK"), this);
    OkBtn->setObjectName(QStringLiteral("OkBtn"));
    OkBtn->setDefault(true);
    AbortBtn = new QPushButton(QStringLiteral("Cancel"), this);
    AbortBtn->setObjectName(QStringLiteral("AbortBtn"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OkBtn);
    buttons->addWidget(AbortBtn);
    auto* column = new QVBoxLayout(this);
    column->addWidget(Label1);
    column->addWidget(Label2);
    column->addWidget(PortsComboBox);
    column->addLayout(buttons);
    connect(OkBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(AbortBtn, &QPushButton::clicked, this, &QDialog::reject);

    // An unreadable store still lists the numbers whose default devices exist.
    platform::RegistryStore store(storePath);
    store.load();
    for (int n : comm::AvailablePorts(store))
        PortsComboBox->addItem(
            QString::fromStdString(comm::PortChoiceText(n, comm::PortDevice(store, n))));
    if (PortsComboBox->count() > 0)
        PortsComboBox->setCurrentIndex(0);
    // Nothing to choose: OK would name no port.
    OkBtn->setEnabled(PortsComboBox->count() > 0);
}

uint16_t ComSelectForm::SelectedComNumber() const
{
    return uint16_t(comm::PortChoiceNumber(PortsComboBox->currentText().toStdString()));
}

void InstallPortPrompt(comm::ComPort& port, std::string storePath, QWidget* parent)
{
    port.setPortPrompt([storePath = std::move(storePath), parent](uint16_t& comNumber) {
        ComSelectForm form(storePath, parent);
        if (form.exec() != QDialog::Accepted)
            return false;
        uint16_t n = form.SelectedComNumber();
        if (n == 0)
            return false;
        comNumber = n;
        return true;
    });
}

} // namespace zelvo::app
