#include "protocols/ui/protocol_options.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zelvo::protocols {

namespace {

QLineEdit* numberField(int digits)
{
    auto* e = new QLineEdit;
    e->setMaxLength(digits);
    e->setMaximumWidth(16 + 10 * digits);
    return e;
}

} // namespace

ProtocolOptions::ProtocolOptions(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Protocol Options");
    setModal(true);
    QFont font("Arial");
    font.setPixelSize(14);
    setFont(font);

    auto* general = new QGroupBox("&General options");
    {
        auto* l = new QVBoxLayout(general);
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel("Name collision"));
        gWriteFail = new QComboBox;
        gWriteFail->addItems({"none", "reject ", "rename ", "overwrite "});
        row->addWidget(gWriteFail);
        l->addLayout(row);
        gHonorDirectory = new QCheckBox("Honor incoming directory");
        gIncludeDirectory = new QCheckBox("Include outgoing directory");
        gRTSLowForWrite = new QCheckBox(" Set RTS low for disk writes");
        gAbortNoCarrier = new QCheckBox("Abort if carrier (DCD) lost");
        for (QWidget* w : {static_cast<QWidget*>(gHonorDirectory), static_cast<QWidget*>(gIncludeDirectory),
                           static_cast<QWidget*>(gRTSLowForWrite), static_cast<QWidget*>(gAbortNoCarrier)})
            l->addWidget(w);
    }
    auto* zmodem = new QGroupBox("&Zmodem options");
    {
        auto* l = new QVBoxLayout(zmodem);
        zOptionOverride = new QCheckBox("File options override");
        zSkipNoFile = new QCheckBox("Skip new files");
        zRecover = new QCheckBox("Crash recovery");
        z8K = new QCheckBox("8K mode");
        zAutoDetect = new QCheckBox("Autodetect transfer");
        for (QWidget* w : {static_cast<QWidget*>(zOptionOverride), static_cast<QWidget*>(zSkipNoFile),
                           static_cast<QWidget*>(zRecover), static_cast<QWidget*>(z8K)})
            l->addWidget(w);
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel("File managment:"));
        zFileManagment = new QComboBox;
        zFileManagment->addItems({"none", "newer or longer", "CRC different", "append", "overwrite", "newer",
                                  "different", "reject"});
        row->addWidget(zFileManagment);
        l->addLayout(row);
        l->addWidget(zAutoDetect);
    }
    auto* kermit = new QGroupBox("&Kermit  options");
    {
        auto* l = new QFormLayout(kermit);
        kBlockLen = numberField(4);
        kWindows = numberField(2);
        kTimeout = numberField(3);
        l->addRow("Block length:", kBlockLen);
        l->addRow("Windows:", kWindows);
        l->addRow("Timeout (seconds):", kTimeout);
    }
    auto* ascii = new QGroupBox("&Ascii options");
    {
        auto* l = new QFormLayout(ascii);
        sInterCharDelay = numberField(5);
        sInterLineDelay = numberField(5);
        sCRTrans = new QComboBox;
        sLFTrans = new QComboBox;
        for (QComboBox* c : {sCRTrans, sLFTrans})
            c->addItems({"none", "strip", "add CR before LF", "add LF after CR"});
        sEOFTimeout = numberField(5);
        l->addRow("Inter-char delay", sInterCharDelay);
        l->addRow("Inter-line delay", sInterLineDelay);
        l->addRow("CR translation:", sCRTrans);
        l->addRow("LF translation:", sLFTrans);
        l->addRow("EOF timeout:", sEOFTimeout);
    }
    OK = new QPushButton("OK");
    OK->setDefault(true);
    Cancel = new QPushButton("Cancel");
    connect(OK, &QPushButton::clicked, this, &QDialog::accept);
    connect(Cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* grid = new QGridLayout;
    grid->addWidget(general, 0, 0);
    grid->addWidget(zmodem, 0, 1);
    grid->addWidget(kermit, 1, 0);
    grid->addWidget(ascii, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OK);
    buttons->addWidget(Cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
}

uint32_t ProtocolOptions::NumberFromText(const QString& text)
{
    bool ok = false;
    const uint32_t v = text.trimmed().toUInt(&ok, 10);
    return ok ? v : 0;
}

void ProtocolOptions::Load(const Protocol& protocol, bool zmodemAutoDetect)
{
    settings_.AssignSettings(protocol);
    toControls();
    zAutoDetect->setChecked(zmodemAutoDetect);
}

void ProtocolOptions::Save(Protocol& protocol)
{
    fromControls();
    protocol.AssignSettings(settings_);
}

bool ProtocolOptions::ZmodemAutoDetect() const
{
    return zAutoDetect->isChecked();
}

void ProtocolOptions::toControls()
{
    // The list offers the first four actions. A stored resume is not one of them: it is
    // shown as a fifth item, so that the dialog neither misnames it nor turns it into
    // overwrite on OK.
    while (gWriteFail->count() > 4)
        gWriteFail->removeItem(gWriteFail->count() - 1);
    if (settings_.WriteFailAction() == wfWriteResume)
        gWriteFail->addItem("resume ");
    gWriteFail->setCurrentIndex(std::min<int>(settings_.WriteFailAction(), gWriteFail->count() - 1));
    gHonorDirectory->setChecked(settings_.HonorDirectory());
    gIncludeDirectory->setChecked(settings_.IncludeDirectory());
    gRTSLowForWrite->setChecked(settings_.RTSLowForWrite());
    gAbortNoCarrier->setChecked(settings_.AbortNoCarrier());
    zOptionOverride->setChecked(settings_.ZmodemOptionOverride());
    zSkipNoFile->setChecked(settings_.ZmodemSkipNoFile());
    zRecover->setChecked(settings_.ZmodemRecover());
    z8K->setChecked(settings_.Zmodem8K());
    zFileManagment->setCurrentIndex(settings_.ZmodemFileOption());
    kBlockLen->setText(QString::number(settings_.KermitMaxLen()));
    kWindows->setText(QString::number(settings_.KermitMaxWindows()));
    kTimeout->setText(QString::number(settings_.KermitTimeoutSecs()));
    sInterCharDelay->setText(QString::number(settings_.AsciiCharDelay()));
    sInterLineDelay->setText(QString::number(settings_.AsciiLineDelay()));
    sCRTrans->setCurrentIndex(settings_.AsciiCRTranslation());
    sLFTrans->setCurrentIndex(settings_.AsciiLFTranslation());
    sEOFTimeout->setText(QString::number(settings_.AsciiEOFTimeout()));
}

void ProtocolOptions::fromControls()
{
    settings_.setWriteFailAction(static_cast<TWriteFailAction>(std::max(0, gWriteFail->currentIndex())));
    settings_.setHonorDirectory(gHonorDirectory->isChecked());
    settings_.setIncludeDirectory(gIncludeDirectory->isChecked());
    settings_.setRTSLowForWrite(gRTSLowForWrite->isChecked());
    settings_.setAbortNoCarrier(gAbortNoCarrier->isChecked());
    settings_.setZmodemOptionOverride(zOptionOverride->isChecked());
    settings_.setZmodemSkipNoFile(zSkipNoFile->isChecked());
    settings_.setZmodemRecover(zRecover->isChecked());
    settings_.setZmodem8K(z8K->isChecked());
    settings_.setZmodemFileOption(static_cast<TZmodemFileOptions>(std::max(0, zFileManagment->currentIndex())));
    settings_.setKermitMaxLen(NumberFromText(kBlockLen->text()));
    settings_.setKermitMaxWindows(NumberFromText(kWindows->text()));
    settings_.setKermitTimeoutSecs(NumberFromText(kTimeout->text()));
    settings_.setAsciiCharDelay(NumberFromText(sInterCharDelay->text()));
    settings_.setAsciiLineDelay(NumberFromText(sInterLineDelay->text()));
    settings_.setAsciiCRTranslation(static_cast<TAsciiEOLTranslation>(std::max(0, sCRTrans->currentIndex())));
    settings_.setAsciiLFTranslation(static_cast<TAsciiEOLTranslation>(std::max(0, sLFTrans->currentIndex())));
    settings_.setAsciiEOFTimeout(NumberFromText(sEOFTimeout->text()));
}

} // namespace zelvo::protocols
