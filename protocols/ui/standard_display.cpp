#include "protocols/ui/standard_display.h"

#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "protocols/protocol.h"
#include "protocols/status_values.h"
#include "protocols/ui/meter.h"

namespace zelvo::protocols {

StandardDisplay::StandardDisplay(Protocol& protocol, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), protocol_(protocol)
{
    setWindowTitle("Protocol Status");
    QFont font("Arial");
    font.setPixelSize(12);
    setFont(font);
    auto* grid = new QGridLayout;
    int row = 0;
    auto add = [&](const char* caption, int column) {
        auto* label = new QLabel(caption);
        auto* value = new QLabel;
        value->setMinimumWidth(110);
        grid->addWidget(label, row, column * 2);
        grid->addWidget(value, row, column * 2 + 1);
        return value;
    };
    psProtocol = add("Protocol:", 0);
    psBlockCheck = add("Block check:", 1);
    ++row;
    psFileName = add("File name:", 0);
    psFileSize = add("File size:", 1);
    ++row;
    psBlockSize = add("Block size:", 0);
    psTotalBlocks = add("Total Blocks:", 1);
    ++row;
    psBytesTransferred = add("Bytes transferred:", 0);
    psBytesRemaining = add("Bytes remaining:", 1);
    ++row;
    psBlocksTransferred = add("Blocks transferred:", 0);
    psBlocksRemaining = add("Blocks remaining:", 1);
    ++row;
    psBlockErrors = add("Block errors:", 0);
    psTotalErrors = add("Total errors:", 1);
    ++row;
    psEstimatedTime = add("Estimated time:", 0);
    psElapsedTime = add("Elapsed time:", 1);
    ++row;
    psRemainingTime = add("Remaining time:", 0);
    psThroughput = add("Throughput:", 1);
    ++row;
    psEfficiency = add("Efficiency:", 0);
    psKermitWindows = add("Kermit windows:", 1);
    ++row;
    psStatusMsg = add("Status:", 0);
    grid->addWidget(psStatusMsg, row, 1, 1, 3);

    psMeter = new Meter;
    psCancel = new QPushButton("Cancel");
    connect(psCancel, &QPushButton::clicked, this, [this] { protocol_.CancelTransfer(); });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(psMeter);
    layout->addWidget(psCancel, 0, Qt::AlignHCenter);
}

void StandardDisplay::UpdateValues()
{
    showValues(ComputeStatusValues(protocol_));
}

void StandardDisplay::showValues(const StatusValues& v)
{
    psProtocol->setText(QString::fromStdString(v.Protocol));
    psBlockCheck->setText(QString::fromStdString(v.BlockCheck));
    psFileName->setText(QString::fromLocal8Bit(v.FileName.c_str()));
    psFileSize->setText(QString::fromStdString(v.FileSize));
    psBlockSize->setText(QString::fromStdString(v.BlockSize));
    psTotalBlocks->setText(QString::fromStdString(v.TotalBlocks));
    psBytesTransferred->setText(QString::fromStdString(v.BytesTransferred));
    psBytesRemaining->setText(QString::fromStdString(v.BytesRemaining));
    psBlocksTransferred->setText(QString::fromStdString(v.BlocksTransferred));
    psBlocksRemaining->setText(QString::fromStdString(v.BlocksRemaining));
    psBlockErrors->setText(QString::fromStdString(v.BlockErrors));
    psTotalErrors->setText(QString::fromStdString(v.TotalErrors));
    psEstimatedTime->setText(QString::fromStdString(v.EstimatedTime));
    psElapsedTime->setText(QString::fromStdString(v.ElapsedTime));
    psRemainingTime->setText(QString::fromStdString(v.RemainingTime));
    psThroughput->setText(QString::fromStdString(v.Throughput));
    psEfficiency->setText(QString::fromStdString(v.Efficiency));
    psKermitWindows->setText(QString::fromStdString(v.KermitWindows));
    psStatusMsg->setText(QString::fromStdString(v.StatusMsg));
    psMeter->setPosition(v.Meter);
}

} // namespace zelvo::protocols
