#include "comm/ui/status_light.h"

#include <QPainter>
#include <QRadialGradient>

namespace zelvo::comm {

StatusLight::StatusLight(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StatusLight::setLit(bool on)
{
    if (on == lit_) return;
    lit_ = on;
    update();
}

void StatusLight::setLitColor(const QColor& c)
{
    litColor_ = c;
    if (lit_) update();
}

void StatusLight::setNotLitColor(const QColor& c)
{
    notLitColor_ = c;
    if (!lit_) update();
}

void StatusLight::setGlyph(const QPixmap& p)
{
    glyph_ = p;
    updateGeometry();
    update();
}

QSize StatusLight::sizeHint() const
{
    if (!glyph_.isNull()) {
        const bool halves = glyph_.width() >= 2 * glyph_.height();
        return {halves ? glyph_.width() / 2 : glyph_.width(), glyph_.height()};
    }
    return {13, 13};
}

void StatusLight::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!glyph_.isNull()) {
        const bool halves = glyph_.width() >= 2 * glyph_.height();
        const int w = halves ? glyph_.width() / 2 : glyph_.width();
        const QRect src(halves && !lit_ ? w : 0, 0, w, glyph_.height());
        p.drawPixmap(QRect(QPoint(0, 0), size()), glyph_, src);
        return;
    }
    // A round lamp in a dark bezel, with a highlight towards the upper left.
    p.setRenderHint(QPainter::Antialiasing);
    const int d = qMin(width(), height()) - 1;
    const QRectF r((width() - d) / 2.0, (height() - d) / 2.0, d, d);
    p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1));
    const QColor c = lit_ ? litColor_ : notLitColor_;
    QRadialGradient g(r.center() - QPointF(d / 5.0, d / 5.0), d * 0.7);
    g.setColorAt(0, c.lighter(lit_ ? 170 : 130));
    g.setColorAt(1, c);
    p.setBrush(g);
    p.drawEllipse(r.adjusted(0.5, 0.5, -0.5, -0.5));
}

} // namespace zelvo::comm
