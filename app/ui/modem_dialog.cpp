#include "app/ui/modem_dialog.h"

#include "platform/paths.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>

namespace zelvo::app {

using telephony::HangupMethod;
using telephony::ModemConfig;

namespace {
const uint32_t kBauds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
}

std::string ModemDialog::SimulatorDevice()
{
    // Quoted for /bin/sh -c: every ' of the path becomes '\''.
    std::string path = platform::programDir() + "/zelvo32-modemsim";
    std::string quoted = "'";
    for (char c : path)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    return "exec:" + quoted
           + " --number 1='exec:/bin/sh -i' --number 2=BUSY --number 3='NO ANSWER'";
}

ModemDialog::ModemDialog(bool nameEditable, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ModemDialog"));
    setWindowTitle(QStringLiteral("Modem"));
    auto* form = new QFormLayout(this);
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("NameEdit"));
    name_->setMaxLength(int(telephony::kMaxModemName));
    name_->setReadOnly(!nameEditable);
    device_ = new QLineEdit(this);
    device_->setObjectName(QStringLiteral("DeviceEdit"));
    device_->setMinimumWidth(360);
    device_->setPlaceholderText(QStringLiteral("COM3,  /dev/ttyUSB0  or  exec:COMMAND"));
    auto* simulator = new QPushButton(QStringLiteral("&Simulator"), this);
    simulator->setObjectName(QStringLiteral("SimulatorBtn"));
    simulator->setAutoDefault(false);
    connect(simulator, &QPushButton::clicked, this,
            [this] { device_->setText(QString::fromStdString(SimulatorDevice())); });
    auto* deviceRow = new QHBoxLayout;
    deviceRow->addWidget(device_, 1);
    deviceRow->addWidget(simulator);
    init_ = new QLineEdit(this);
    init_->setObjectName(QStringLiteral("InitEdit"));
    init_->setMaxLength(int(telephony::kMaxModemCommand));
    dial_ = new QLineEdit(this);
    dial_->setObjectName(QStringLiteral("DialEdit"));
    dial_->setMaxLength(int(telephony::kMaxModemCommand));
    hangup_ = new QComboBox(this);
    hangup_->setObjectName(QStringLiteral("HangupBox"));
    hangup_->addItems({QStringLiteral("Automatic"), QStringLiteral("Drop DTR"),
                       QStringLiteral("Escape (+++) and ATH")});
    baud_ = new QComboBox(this);
    baud_->setObjectName(QStringLiteral("BaudBox"));
    for (uint32_t b : kBauds)
        baud_->addItem(QString::number(b), b);
    rtsCts_ = new QCheckBox(QStringLiteral("RTS/CTS flow control"), this);
    rtsCts_->setObjectName(QStringLiteral("RtsCtsBox"));
    answer_ = new QSpinBox(this);
    answer_->setObjectName(QStringLiteral("AnswerEdit"));
    answer_->setRange(int(telephony::kMinAnswerSeconds), int(telephony::kMaxAnswerSeconds));
    answer_->setSuffix(QStringLiteral(" s"));
    guard_ = new QSpinBox(this);
    guard_->setObjectName(QStringLiteral("GuardEdit"));
    guard_->setRange(int(telephony::kMinGuardMs), int(telephony::kMaxGuardMs));
    guard_->setSingleStep(100);
    guard_->setSuffix(QStringLiteral(" ms"));

    form->addRow(QStringLiteral("&Name:"), name_);
    auto* deviceLabel = new QLabel(QStringLiteral("D&evice:"), this);
    deviceLabel->setBuddy(device_);
    form->addRow(deviceLabel, deviceRow);
    form->addRow(QStringLiteral("&Init string:"), init_);
    form->addRow(QStringLiteral("&Dial command:"), dial_);
    form->addRow(QStringLiteral("&Hang up by:"), hangup_);
    form->addRow(QStringLiteral("S&peed:"), baud_);
    form->addRow(QString(), rtsCts_);
    form->addRow(QStringLiteral("&Answer wait:"), answer_);
    form->addRow(QStringLiteral("&Guard time:"), guard_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("OkBtn"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
    Load(ModemConfig{});
    (nameEditable ? name_ : device_)->setFocus();
}

void ModemDialog::Load(const ModemConfig& m)
{
    name_->setText(QString::fromStdString(m.name));
    device_->setText(QString::fromStdString(m.device));
    init_->setText(QString::fromStdString(m.init));
    dial_->setText(QString::fromStdString(m.dialPrefix));
    hangup_->setCurrentIndex(int(m.hangup));
    int b = baud_->findData(m.baud);
    if (b < 0) {
        baud_->addItem(QString::number(m.baud), m.baud);
        b = baud_->count() - 1;
    }
    baud_->setCurrentIndex(b);
    rtsCts_->setChecked(m.rtsCts);
    answer_->setValue(int(m.answerSeconds));
    guard_->setValue(int(m.guardMs));
}

ModemConfig ModemDialog::Result() const
{
    ModemConfig m;
    m.name = name_->text().trimmed().toStdString();
    m.device = device_->text().trimmed().toStdString();
    m.init = init_->text().trimmed().toStdString();
    m.dialPrefix = dial_->text().trimmed().toStdString();
    m.hangup = HangupMethod(hangup_->currentIndex());
    m.baud = baud_->currentData().toUInt();
    m.rtsCts = rtsCts_->isChecked();
    m.answerSeconds = uint32_t(answer_->value());
    m.guardMs = uint32_t(guard_->value());
    return m;
}

void ModemDialog::accept()
{
    std::string problem = telephony::ModemConfigProblem(Result());
    if (!problem.empty()) {
        QMessageBox::warning(this, QStringLiteral("Error"),
                             QStringLiteral("The modem cannot be kept so:\n%1")
                                 .arg(QString::fromStdString(problem)));
        return;
    }
    QDialog::accept();
}

} // namespace zelvo::app
