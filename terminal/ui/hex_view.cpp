#include "terminal/ui/hex_view.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace zelvo::terminal {

namespace {
// Repaints while bytes stream in are at most this often.
constexpr int kRepaintMs = 15;
} // namespace

HexView::HexView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setObjectName(QStringLiteral("HexView"));
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    repaint_.setSingleShot(true);
    repaint_.setInterval(kRepaintMs);
    connect(&repaint_, &QTimer::timeout, this, [this] {
        updateScrollBar();
        viewport()->update();
    });
    fontChanged();
}

void HexView::append(const uint8_t* bytes, std::size_t len)
{
    if (len == 0)
        return;
    history_.append(bytes, len);
    if (isVisible())
        scheduleUpdate();
}

void HexView::setColors(QRgb text, QRgb background)
{
    text_ = text;
    background_ = background;
    viewport()->update();
}

void HexView::scheduleUpdate()
{
    if (!repaint_.isActive())
        repaint_.start();
}

int HexView::visibleRows() const
{
    return std::max(1, viewport()->height() / cellH_);
}

std::size_t HexView::topRow() const
{
    const std::size_t rows = history_.rowCount();
    const std::size_t shown = std::size_t(visibleRows());
    const std::size_t last = rows > shown ? rows - shown : 0;
    if (follow_)
        return last;
    // Rows that left the history meanwhile move the top down with them.
    const uint64_t first = history_.firstOffset();
    const std::size_t row = topOffset_ <= first ? 0 : std::size_t((topOffset_ - first) / kHexRowBytes);
    return std::min(row, last);
}

void HexView::updateScrollBar()
{
    settingScroll_ = true;
    QScrollBar* v = verticalScrollBar();
    const int rows = int(std::min<std::size_t>(history_.rowCount(), std::size_t(INT32_MAX / 2)));
    v->setRange(0, std::max(0, rows - visibleRows()));
    v->setPageStep(visibleRows());
    v->setValue(int(topRow()));
    QScrollBar* h = horizontalScrollBar();
    const int width = int(kHexRowWidth + 2) * cellW_;
    h->setRange(0, std::max(0, width - viewport()->width()));
    h->setPageStep(viewport()->width());
    settingScroll_ = false;
}

void HexView::scrollContentsBy(int, int)
{
    if (settingScroll_) {
        viewport()->update();
        return;
    }
    QScrollBar* v = verticalScrollBar();
    follow_ = v->value() >= v->maximum();
    topOffset_ = history_.rowOffset(std::size_t(v->value()));
    viewport()->update();
}

void HexView::paintEvent(QPaintEvent*)
{
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), QColor(background_));
    p.setFont(font());
    const QColor text(text_);
    // The offsets a little dimmer than the bytes, so the rows read apart.
    const QColor offset = QColor(text_).darker(140);
    const int x0 = cellW_ - horizontalScrollBar()->value();
    const std::size_t top = topRow();
    const int rows = visibleRows() + 1;
    for (int i = 0; i < rows; ++i) {
        const std::string row = history_.rowText(top + std::size_t(i));
        if (row.empty())
            break;
        const int y = i * cellH_ + ascent_;
        const QString line = QString::fromLatin1(row.data(), qsizetype(row.size()));
        const int digits = int(row.find(' '));
        p.setPen(offset);
        p.drawText(x0, y, line.left(digits));
        p.setPen(text);
        p.drawText(x0 + (digits + 2) * cellW_, y, line.mid(digits + 2));
    }
    if (history_.total() == 0) {
        p.setPen(QColor(text_).darker(160));
        p.drawText(x0, ascent_, QStringLiteral("No bytes received yet."));
    }
}

void HexView::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    updateScrollBar();
}

void HexView::showEvent(QShowEvent* e)
{
    QAbstractScrollArea::showEvent(e);
    updateScrollBar();
    viewport()->update();
}

void HexView::changeEvent(QEvent* e)
{
    QAbstractScrollArea::changeEvent(e);
    if (e->type() == QEvent::FontChange)
        fontChanged();
}

void HexView::fontChanged()
{
    const QFontMetrics m(font());
    cellW_ = std::max(1, m.horizontalAdvance(QLatin1Char('0')));
    cellH_ = std::max(1, m.height());
    ascent_ = m.ascent();
    updateScrollBar();
    viewport()->update();
}

bool HexView::focusNextPrevChild(bool)
{
    // Tab belongs to the line, as in the terminal.
    return false;
}

void HexView::keyPressEvent(QKeyEvent* e)
{
    QScrollBar* v = verticalScrollBar();
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    switch (e->key()) {
    case Qt::Key_PageUp: v->setValue(v->value() - v->pageStep()); return;
    case Qt::Key_PageDown: v->setValue(v->value() + v->pageStep()); return;
    case Qt::Key_Up:
        if (ctrl) { v->setValue(v->value() - 1); return; }
        break;
    case Qt::Key_Down:
        if (ctrl) { v->setValue(v->value() + 1); return; }
        break;
    case Qt::Key_Home:
        if (ctrl) { v->setValue(0); return; }
        break;
    case Qt::Key_End:
        if (ctrl) { v->setValue(v->maximum()); return; }
        break;
    default: break;
    }
    if (keyTarget_) {
        QKeyEvent copy(e->type(), e->key(), e->modifiers(), e->text(), e->isAutoRepeat(),
                       ushort(e->count()));
        QApplication::sendEvent(keyTarget_, &copy);
        return;
    }
    QAbstractScrollArea::keyPressEvent(e);
}

} // namespace zelvo::terminal
