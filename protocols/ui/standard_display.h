#pragma once
// StandardDisplay: the "Protocol Status" window of a running transfer, with its meter
// and the Cancel button. The values come from ComputeStatusValues.

#include <QDialog>

class QLabel;
class QPushButton;

namespace zelvo::protocols {

class Meter;
class Protocol;
struct StatusValues;

class StandardDisplay : public QDialog {
    Q_OBJECT
public:
    explicit StandardDisplay(Protocol& protocol, QWidget* parent = nullptr);

    void UpdateValues();
    void showValues(const StatusValues& values);

    QLabel* psProtocol;
    QLabel* psBlockCheck;
    QLabel* psFileName;
    QLabel* psFileSize;
    QLabel* psBlockSize;
    QLabel* psTotalBlocks;
    QLabel* psBytesTransferred;
    QLabel* psBytesRemaining;
    QLabel* psBlocksTransferred;
    QLabel* psBlocksRemaining;
    QLabel* psBlockErrors;
    QLabel* psTotalErrors;
    QLabel* psEstimatedTime;
    QLabel* psElapsedTime;
    QLabel* psRemainingTime;
    QLabel* psThroughput;
    QLabel* psEfficiency;
    QLabel* psKermitWindows;
    QLabel* psStatusMsg;
    Meter* psMeter;
    QPushButton* psCancel;

private:
    Protocol& protocol_;
};

} // namespace zelvo::protocols
