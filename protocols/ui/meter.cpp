#include "protocols/ui/meter.h"

#include <QPainter>
#include <algorithm>

namespace zelvo::protocols {

Meter::Meter(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
}

void Meter::setMin(int v)
{
    min_ = v;
    update();
}

void Meter::setMax(int v)
{
    max_ = v;
    update();
}

void Meter::setStep(int v)
{
    step_ = std::max(1, v);
    update();
}

void Meter::setPosition(int v)
{
    v = std::clamp(v, min_, max_);
    if (v != pos_) {
        pos_ = v;
        update();
    }
}

void Meter::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    const QRect inner = contentsRect().adjusted(1, 1, -1, -1);
    if (max_ <= min_ || inner.width() <= 0)
        return;
    const int fill = inner.width() * (pos_ - min_) / (max_ - min_);
    QPainter p(this);
    const QColor colour = palette().color(QPalette::Highlight);
    // Whole blocks of Step pixels with a one-pixel gap, like a segmented gauge.
    for (int x = 0; x + step_ <= fill; x += step_ + 1)
        p.fillRect(inner.left() + x, inner.top(), step_, inner.height(), colour);
}

} // namespace zelvo::protocols
