#include "app/ui/port_options_dialog.h"

#include "app/line_directory.h"
#include "app/main_form_logic.h"
#include "app/ui/modem_list_dialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdlib>

namespace zelvo::app {

namespace {

QButtonGroup* radioGroup(QGroupBox* box, const QStringList& items, int columns)
{
    auto* group = new QButtonGroup(box);
    auto* grid = new QGridLayout(box);
    int rows = (int(items.size()) + columns - 1) / columns;
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], box);
        group->addButton(b, i);
        grid->addWidget(b, i % rows, i / rows);
    }
    return group;
}

void check(QButtonGroup* g, int id)
{
    if (QAbstractButton* b = g->button(id))
        b->setChecked(true);
}

} // namespace

std::string PortOptionsDialog::shellCommand()
{
    const char* sh = std::getenv("SHELL");
    std::string shell = sh && *sh ? sh : "/bin/sh";
    return "exec:" + shell + " -l";
}

PortOptionsDialog::PortOptionsDialog(LineDirectory& lines, QWidget* parent)
    : QDialog(parent), lines_(lines)
{
    setObjectName(QStringLiteral("ComPortOptions"));
    setWindowTitle(QStringLiteral("Com Port Options"));

    auto* top = new QVBoxLayout(this);
    auto* comports = new QGroupBox(QStringLiteral("ComPorts"), this);
    comports->setObjectName(QStringLiteral("Comports"));
    auto* lineRow = new QHBoxLayout;
    portComboBox_ = new QComboBox(comports);
    portComboBox_->setObjectName(QStringLiteral("PortComboBox"));
    portComboBox_->setMinimumContentsLength(36);
    lineRow->addWidget(portComboBox_, 1);
    auto* device = new QPushButton(QStringLiteral("De&vice..."), comports);
    device->setObjectName(QStringLiteral("DeviceBtn"));
    device->setAutoDefault(false);
    lineRow->addWidget(device);
    auto* modems = new QPushButton(QStringLiteral("&Modems..."), comports);
    modems->setObjectName(QStringLiteral("ModemsBtn"));
    modems->setAutoDefault(false);
    lineRow->addWidget(modems);
    connect(modems, &QPushButton::clicked, this, &PortOptionsDialog::ModemsButtonClick);
    auto* comportsColumn = new QVBoxLayout(comports);
    comportsColumn->addLayout(lineRow);
    reconnect_ = new QCheckBox(QStringLiteral("&Reconnect when the device returns"), comports);
    reconnect_->setObjectName(QStringLiteral("ReconnectBox"));
    comportsColumn->addWidget(reconnect_);
    top->addWidget(comports);
    connect(portComboBox_, &QComboBox::activated, this, &PortOptionsDialog::PortComboBoxChange);
    connect(device, &QPushButton::clicked, this, &PortOptionsDialog::DeviceButtonClick);

    // Devices plugged in or pulled out while the dialog is open show in the list: the
    // list is built again once the device directories have been quiet for a moment.
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setSingleShot(true);
    refreshTimer_->setInterval(300);
    connect(refreshTimer_, &QTimer::timeout, this, &PortOptionsDialog::refreshLines);
    watcher_.setDirectories(lines_.watchedDirectories());
    if (watcher_.fd() >= 0) {
        auto* notifier = new QSocketNotifier(watcher_.fd(), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            if (watcher_.readEvents())
                refreshTimer_->start();
        });
    }

    auto* grid = new QGridLayout;
    auto* baudBox = new QGroupBox(QStringLiteral("&Baud rates:"), this);
    baudBox->setObjectName(QStringLiteral("Bauds"));
    bauds_ = radioGroup(baudBox,
                        {"300", "600", "1200", "2400", "4800", "9600", "19200", "38400",
                         "57600", "115200"},
                        2);
    {
        // Any other rate the driver can set: typed, or one of the faster standard rates.
        auto* other = new QRadioButton(QStringLiteral("&Other:"), baudBox);
        other->setObjectName(QStringLiteral("OtherBaud"));
        bauds_->addButton(other, kOtherBaudItem);
        otherBaud_ = new QComboBox(baudBox);
        otherBaud_->setObjectName(QStringLiteral("OtherBaudBox"));
        otherBaud_->setEditable(true);
        otherBaud_->setInsertPolicy(QComboBox::NoInsert);
        for (uint32_t r : OtherBaudRates())
            otherBaud_->addItem(QString::number(r));
        otherBaud_->setValidator(new QIntValidator(0, 99999999, otherBaud_));
        auto* baudGrid = static_cast<QGridLayout*>(baudBox->layout());
        baudGrid->addWidget(other, 5, 0);
        baudGrid->addWidget(otherBaud_, 5, 1);
        // Choosing or typing a rate selects the item it belongs to.
        connect(otherBaud_, &QComboBox::currentTextChanged, this, [other] { other->setChecked(true); });
    }
    auto* parityBox = new QGroupBox(QStringLiteral("&Parity:"), this);
    parityBox->setObjectName(QStringLiteral("Paritys"));
    paritys_ = radioGroup(parityBox, {"None", "Odd", "Even", "Mark", "Space"}, 1);
    auto* dataBox = new QGroupBox(QStringLiteral("&Data bits:"), this);
    dataBox->setObjectName(QStringLiteral("Databits"));
    databits_ = radioGroup(dataBox, {"8", "7", "6", "5"}, 1);
    auto* stopBox = new QGroupBox(QStringLiteral("&Stop bits:"), this);
    stopBox->setObjectName(QStringLiteral("Stopbits"));
    stopbits_ = radioGroup(stopBox, {"1", "2"}, 1);
    auto* flowBox = new QGroupBox(QStringLiteral("&Flow control:"), this);
    flowBox->setObjectName(QStringLiteral("FlowControlBox"));
    auto* flow = new QFormLayout(flowBox);
    dtrDsr_ = new QCheckBox(QStringLiteral("DTR/DSR"), flowBox);
    rtsCts_ = new QCheckBox(QStringLiteral("RTS/CTS"), flowBox);
    swTransmit_ = new QCheckBox(QStringLiteral("Software transmit"), flowBox);
    swReceive_ = new QCheckBox(QStringLiteral("Software receive"), flowBox);
    xon_ = new QLineEdit(QStringLiteral("17"), flowBox);
    xoff_ = new QLineEdit(QStringLiteral("19"), flowBox);
    xon_->setObjectName(QStringLiteral("XonEdit"));
    xoff_->setObjectName(QStringLiteral("XoffEdit"));
    flow->addRow(dtrDsr_);
    flow->addRow(rtsCts_);
    flow->addRow(swTransmit_);
    flow->addRow(swReceive_);
    flow->addRow(QStringLiteral("Xon char:"), xon_);
    flow->addRow(QStringLiteral("Xoff char:"), xoff_);
    // A value that cannot be used is marked as it is typed.
    for (QLineEdit* e : {xon_, xoff_})
        connect(e, &QLineEdit::textChanged, this, [this] { markProblems(); });
    for (QCheckBox* b : {swTransmit_, swReceive_})
        connect(b, &QCheckBox::toggled, this, [this] { markProblems(); });
    grid->addWidget(baudBox, 0, 0, 2, 1);
    grid->addWidget(parityBox, 0, 1, 2, 1);
    grid->addWidget(dataBox, 0, 2);
    grid->addWidget(stopBox, 1, 2);
    grid->addWidget(flowBox, 0, 3, 2, 1);
    top->addLayout(grid);
    serialGroups_[0] = baudBox;
    serialGroups_[1] = parityBox;
    serialGroups_[2] = dataBox;
    serialGroups_[3] = stopBox;
    serialGroups_[4] = flowBox;

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("OkBtn"));
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("CancelBtn"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    top->addWidget(buttons);
    portComboBox_->setFocus();
}

void PortOptionsDialog::Load(const PortOptionValues& v)
{
    values_ = v;
    PortOptionControls c = ControlsFor(v);
    otherBaud_->setEditText(QString::fromStdString(c.otherBaudText));
    check(bauds_, c.baudItem);
    check(paritys_, c.parityItem);
    check(databits_, c.dataBitsItem);
    check(stopbits_, c.stopBitsItem);
    reconnect_->setChecked(c.reconnect);
    dtrDsr_->setChecked(c.dtrDsr);
    rtsCts_->setChecked(c.rtsCts);
    swTransmit_->setChecked(c.softwareTransmit);
    swReceive_->setChecked(c.softwareReceive);
    xon_->setText(QString::fromStdString(c.xonText));
    xoff_->setText(QString::fromStdString(c.xoffText));
    fillLineList();
    enableSerial();
}

void PortOptionsDialog::fillLineList()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    portComboBox_->clear();
    std::vector<LineEntry> present = lines_.presentLines();
    bool haveShell = false;
    for (auto& e : present) {
        std::string text = LineEntryText(e.comNumber, e.device);
        if (!e.description.empty())
            text += "  " + e.description;
        portComboBox_->addItem(QString::fromStdString(text), e.comNumber);
        if (!e.byIdPath.empty())
            portComboBox_->setItemData(portComboBox_->count() - 1, QString::fromStdString(e.byIdPath),
                                       Qt::ToolTipRole);
        haveShell = haveShell || e.device.rfind("exec:", 0) == 0;
    }
    // Offer a local shell on the first number that has no device of its own.
    shellNumber_ = 0;
    if (!haveShell) {
        for (int n = 1; n <= 50 && shellNumber_ == 0; ++n)
            if (lines_.deviceOf(n).empty())
                shellNumber_ = n;
        if (shellNumber_ > 0)
            portComboBox_->addItem(
                QString::fromStdString(LineEntryText(shellNumber_, shellCommand())) +
                    QStringLiteral(" - local shell"),
                shellNumber_);
    }
    // The modems of the telephony device follow the direct ports.
    for (const telephony::ModemConfig& m : lines_.modems())
        portComboBox_->addItem(QString::fromStdString(m.name), -1);
    QApplication::restoreOverrideCursor();

    int select = -1;
    if (values_.TapiMode == 3)
        select = portComboBox_->findData(values_.ComNumber);
    else
        select = portComboBox_->findText(QString::fromStdString(values_.Device),
                                         Qt::MatchFixedString);
    if (select < 0 && values_.ComNumber <= 0 && portComboBox_->count() > 0) {
        // No line chosen yet (the first start): the local shell is suggested, since a
        // device node such as /dev/ttyS0 exists on most machines whether or not a
        // serial line is connected to it. The serial ports are listed above it.
        select = shellNumber_ > 0 ? portComboBox_->findData(shellNumber_) : 0;
        chooseEntry(select);
    }
    portComboBox_->setCurrentIndex(select);
}

void PortOptionsDialog::refreshLines()
{
    // Not while the user looks through the open list; once it has closed.
    if (portComboBox_->view()->isVisible()) {
        refreshTimer_->start();
        return;
    }
    fillLineList();
    enableSerial();
}

QStringList PortOptionsDialog::lineEntries() const
{
    QStringList l;
    for (int i = 0; i < portComboBox_->count(); ++i)
        l << portComboBox_->itemText(i);
    return l;
}

void PortOptionsDialog::chooseEntry(int index)
{
    portComboBox_->setCurrentIndex(index);
    PortComboBoxChange(index);
}

void PortOptionsDialog::PortComboBoxChange(int index)
{
    if (index < 0)
        return;
    ChooseLine(values_, portComboBox_->itemText(index).toStdString());
    enableSerial();
}

void PortOptionsDialog::enableSerial()
{
    bool direct = values_.TapiMode == 3 && values_.ComNumber > 0;
    for (QGroupBox* g : serialGroups_)
        g->setEnabled(direct);
    markProblems();
}

PortOptionControls PortOptionsDialog::controls() const
{
    PortOptionControls c;
    c.baudItem = bauds_->checkedId() >= 0 ? bauds_->checkedId() : 6;
    c.otherBaudText = otherBaud_->currentText().toStdString();
    c.parityItem = std::max(paritys_->checkedId(), 0);
    c.dataBitsItem = std::max(databits_->checkedId(), 0);
    c.stopBitsItem = std::max(stopbits_->checkedId(), 0);
    c.reconnect = reconnect_->isChecked();
    c.dtrDsr = dtrDsr_->isChecked();
    c.rtsCts = rtsCts_->isChecked();
    c.softwareTransmit = swTransmit_->isChecked();
    c.softwareReceive = swReceive_->isChecked();
    c.xonText = xon_->text().toStdString();
    c.xoffText = xoff_->text().toStdString();
    return c;
}

PortOptionValues PortOptionsDialog::ResultPort() const
{
    return ApplyControls(values_, controls());
}

std::vector<ControlProblem> PortOptionsDialog::markProblems()
{
    std::vector<ControlProblem> problems;
    // The serial controls count only for a direct port (they are disabled otherwise).
    if (serialGroups_[0]->isEnabled())
        problems = CheckControls(controls());
    for (QLineEdit* e : {xon_, xoff_}) {
        e->setProperty("invalid", false);
        e->setToolTip(QString());
        e->setStyleSheet(QString());
    }
    for (const ControlProblem& p : problems) {
        QLineEdit* e = p.field == ControlProblem::XonChar ? xon_ : xoff_;
        e->setProperty("invalid", true);
        e->setToolTip(QString::fromStdString(p.text));
        e->setStyleSheet(QStringLiteral("QLineEdit { border: 2px solid #d00000; }"));
    }
    return problems;
}

QStringList PortOptionsDialog::invalidControls() const
{
    QStringList names;
    for (QLineEdit* e : {xon_, xoff_})
        if (e->property("invalid").toBool())
            names << e->objectName();
    return names;
}

void PortOptionsDialog::accept()
{
    if (values_.TapiMode == 3 && bauds_->checkedId() == kOtherBaudItem &&
        !ParseBaud(otherBaud_->currentText().toStdString())) {
        const QString text = QStringLiteral("The baud rate must be a whole number from 50 to 4000000.");
        if (reportProblems)
            reportProblems(text);
        else
            QMessageBox::warning(this, QStringLiteral("Error"), text);
        otherBaud_->setFocus();
        return;
    }
    // Values that cannot be used are not replaced behind the user's back: the dialog
    // stays open and says what is wrong.
    const std::vector<ControlProblem> problems = markProblems();
    if (!problems.empty()) {
        QString text;
        for (const ControlProblem& p : problems)
            text += QString::fromStdString(p.text) + QLatin1Char('\n');
        text.chop(1);
        if (reportProblems)
            reportProblems(text);
        else
            QMessageBox::warning(this, QStringLiteral("Error"), text);
        for (QLineEdit* e : {xon_, xoff_})
            if (e->property("invalid").toBool()) {
                e->setFocus();
                e->selectAll();
                break;
            }
        return;
    }
    // The offered local shell becomes a real mapping when it is the chosen line.
    if (values_.TapiMode == 3 && shellNumber_ > 0 && values_.ComNumber == shellNumber_) {
        std::string error;
        if (!lines_.mapDevice(shellNumber_, shellCommand(), error)) {
            QMessageBox::warning(this, QStringLiteral("Error"),
                                 QStringLiteral("The local shell line cannot be set up:\n%1")
                                     .arg(QString::fromStdString(error)));
            return;
        }
    }
    QDialog::accept();
}

void PortOptionsDialog::ModemsButtonClick()
{
    ModemListDialog d(lines_, this);
    d.exec();
    // The chosen line stays chosen when it is still there.
    fillLineList();
    enableSerial();
}

void PortOptionsDialog::DeviceButtonClick()
{
    QDialog d(this);
    d.setWindowTitle(QStringLiteral("Port device"));
    auto* form = new QFormLayout(&d);
    auto* number = new QSpinBox(&d);
    number->setRange(1, 50);
    number->setPrefix(QStringLiteral("COM"));
    number->setValue(values_.ComNumber > 0 ? values_.ComNumber : (shellNumber_ > 0 ? shellNumber_ : 1));
    auto* path = new QLineEdit(&d);
    path->setMinimumWidth(260);
    path->setPlaceholderText(QStringLiteral("/dev/ttyUSB0  or  exec:/bin/bash -l"));
    auto load = [&] { path->setText(QString::fromStdString(lines_.deviceOf(number->value()))); };
    load();
    connect(number, &QSpinBox::valueChanged, &d, load);
    form->addRow(QStringLiteral("Port number:"), number);
    form->addRow(QStringLiteral("Device:"), path);
    form->addRow(new QLabel(QStringLiteral("An empty device restores the number's default."), &d));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
    connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
    form->addRow(buttons);
    if (d.exec() != QDialog::Accepted)
        return;
    std::string error;
    std::string dev = path->text().trimmed().toStdString();
    if (dev.find_first_of("\r\n") != std::string::npos || !lines_.mapDevice(number->value(), dev, error)) {
        QMessageBox::warning(this, QStringLiteral("Error"),
                             QStringLiteral("The device of COM%1 cannot be set:\n%2")
                                 .arg(number->value())
                                 .arg(QString::fromStdString(error.empty() ? "invalid device name" : error)));
        return;
    }
    values_.TapiMode = 3;
    values_.ComNumber = number->value();
    fillLineList();
    int i = portComboBox_->findData(values_.ComNumber);
    if (i >= 0)
        chooseEntry(i);
    enableSerial();
}

} // namespace zelvo::app
