#include "app/ui/rfs_statistic.h"

#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QTimer>

#include <algorithm>

namespace zelvo::app {

namespace {
// Entry of the counter record shown by each value label.
struct Shown {
    int entry;
    const char* label;
};
constexpr Shown kShown[] = {{2, "CReceivedLabel"}, {3, "SendLabel"},     {4, "ReceivedLabel"},
                            {5, "CSendLabel"},     {6, "RPacketsLabel"}, {7, "SPacketsLabel"},
                            {8, "CrcLabel"},       {9, "PacketLabel"}};
} // namespace

RfsStatistic::RfsStatistic(StatisticFn statistic, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint)
    , statistic_(statistic)
{
    setObjectName(QStringLiteral("RfsStatistic"));
    setWindowTitle(QStringLiteral("Remote File Sytem Info"));
    // The layout is made for a small dialog font of 10 pixels ("MS Sans Serif", -10);
    // the system's sans font of that size stands in for it.
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);
    setModal(false);

    // Value labels hold any 32-bit counter, "-2147483648" at the most: eleven characters
    // in the font in use. Where the designed 65 pixels are too few for them, the right
    // column and the window move over to make room.
    const QFontMetrics fm = fontMetrics();
    const int valueWidth = std::max(65, fm.horizontalAdvance(QStringLiteral("-2147483648")) + 4);
    // The value columns also start clear of the longest caption beside them.
    const int leftValueX = std::max({111, 20 + fm.horizontalAdvance(QStringLiteral("Uncompressed :")) + 6,
                                     7 + fm.horizontalAdvance(QStringLiteral("CRC Errors :")) + 6});
    const int rightLabelX = std::max(182, leftValueX + valueWidth + 6);
    const int rightValueX = rightLabelX + std::max(78, fm.horizontalAdvance(QStringLiteral("Packet Errors :")) + 6);
    const int panelWidth = std::max(332, rightValueX + valueWidth + 7);

    auto* panel2 = new QFrame(this);
    panel2->setObjectName(QStringLiteral("Panel2"));
    panel2->setFrameShape(QFrame::StyledPanel);
    panel2->setGeometry(7, 7, panelWidth, 130);
    label(panel2, "Label2", QStringLiteral("Send :"), 7, 7, 0);
    label(panel2, "Label11", QStringLiteral("Packets:"), 13, 26, 0);
    label(panel2, "SPacketsLabel", QStringLiteral("0"), leftValueX, 26, valueWidth);
    label(panel2, "Label4", QStringLiteral("Uncompressed:"), 13, 46, 0);
    label(panel2, "SendLabel", QStringLiteral("0"), leftValueX, 46, valueWidth);
    label(panel2, "Label7", QStringLiteral("Compressed :"), rightLabelX, 46, 0);
    label(panel2, "CSendLabel", QStringLiteral("0"), rightValueX, 46, valueWidth);
    label(panel2, "Label6", QStringLiteral("Received"), 7, 65, 0);
    label(panel2, "Label10", QStringLiteral("Packets:"), 20, 85, 0);
    label(panel2, "RPacketsLabel", QStringLiteral("0"), leftValueX, 85, valueWidth);
    label(panel2, "Label3", QStringLiteral("Uncompressed :"), 20, 104, 0);
    label(panel2, "ReceivedLabel", QStringLiteral("0"), leftValueX, 104, valueWidth);
    label(panel2, "Label5", QStringLiteral("Compressed :"), rightLabelX, 104, 0);
    label(panel2, "CReceivedLabel", QStringLiteral("0"), rightValueX, 104, valueWidth);

    auto* panel3 = new QFrame(this);
    panel3->setObjectName(QStringLiteral("Panel3"));
    panel3->setFrameShape(QFrame::StyledPanel);
    panel3->setGeometry(7, 143, panelWidth, 27);
    label(panel3, "Label8", QStringLiteral("CRC Errors :"), 7, 7, 0);
    label(panel3, "CrcLabel", QStringLiteral("0"), leftValueX, 7, valueWidth);
    label(panel3, "Label9", QStringLiteral("Packet Errors :"), rightLabelX, 7, 0);
    label(panel3, "PacketLabel", QStringLiteral("0"), rightValueX, 7, valueWidth);
    setFixedSize(panelWidth + 15, 181);

    statTimer_ = new QTimer(this);
    statTimer_->setObjectName(QStringLiteral("StatTimer"));
    statTimer_->setInterval(500);
    connect(statTimer_, &QTimer::timeout, this, &RfsStatistic::StatTimerTimer);
}

QLabel* RfsStatistic::label(QWidget* parent, const char* name, const QString& text, int x, int y,
                            int width)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    if (width > 0) {
        // Value labels have a fixed width and do not size themselves.
        l->setGeometry(x, y, width, l->sizeHint().height());
    } else {
        l->move(x, y);
        l->adjustSize();
    }
    return l;
}

void RfsStatistic::refresh()
{
    uint32_t record[10] = {};
    statistic_(record);
    for (const Shown& s : kShown) {
        // Shown as signed numbers: a counter past 2147483647 reads negative.
        auto v = static_cast<int32_t>(record[s.entry]);
        findChild<QLabel*>(QString::fromLatin1(s.label))->setText(QString::number(v));
    }
}

QString RfsStatistic::value(const char* labelName) const
{
    auto* l = findChild<QLabel*>(QString::fromLatin1(labelName));
    return l ? l->text() : QString();
}

bool RfsStatistic::timerActive() const
{
    return statTimer_->isActive();
}

void RfsStatistic::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    refresh();
    statTimer_->start();
}

void RfsStatistic::hideEvent(QHideEvent* e)
{
    statTimer_->stop();
    QDialog::hideEvent(e);
}

} // namespace zelvo::app
