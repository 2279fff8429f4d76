#pragma once
// The remote file server's traffic counters in a small window that stays on top. It
// asks the server for its counters once when shown and then every 500 ms, and only
// while it is shown.

#include <QDialog>

#include <cstdint>

class QLabel;
class QTimer;

namespace zelvo::app {

class RfsStatistic : public QDialog {
    Q_OBJECT

public:
    using StatisticFn = uint32_t* (*)(uint32_t* record);

    RfsStatistic(StatisticFn statistic, QWidget* parent = nullptr);

    // Reads the counters and shows them.
    void refresh();
    void StatTimerTimer() { refresh(); }
    bool timerActive() const;
    QString value(const char* labelName) const;

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    QLabel* label(QWidget* parent, const char* name, const QString& text, int x, int y, int width);

    StatisticFn statistic_;
    QTimer* statTimer_;
};

} // namespace zelvo::app
