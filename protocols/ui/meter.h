#pragma once
// Meter: the progress bar of the status window, a sunken panel filled in steps.

#include <QFrame>

namespace zelvo::protocols {

class Meter : public QFrame {
    Q_OBJECT
public:
    explicit Meter(QWidget* parent = nullptr);

    int Min() const { return min_; }
    int Max() const { return max_; }
    int Step() const { return step_; }
    int Position() const { return pos_; }
    void setMin(int v);
    void setMax(int v);
    void setStep(int v);
    void setPosition(int v);

protected:
    void paintEvent(QPaintEvent* event) override;
    QSize sizeHint() const override { return {240, 18}; }

private:
    int min_ = 0;
    int max_ = 100;
    int step_ = 8;
    int pos_ = 0;
};

} // namespace zelvo::protocols
