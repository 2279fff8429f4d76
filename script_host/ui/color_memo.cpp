#include "script_host/ui/color_memo.h"

#include "script_host/ui/rule_highlighter.h"

#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>

namespace zelvo::script_host {

ColorMemo::ColorMemo(QWidget* parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("ColorMemo"));
    highlighter_ = new RuleHighlighter(document());
    highlighter_->setEventSpans([this](const ColorRule& r, std::string_view text,
                                       std::vector<ColorSpan>& out) {
        if (OnDrawKey)
            OnDrawKey(r, text, out);
    });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int v) {
        if (OnVScroll)
            OnVScroll(v);
    });
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this](int v) {
        if (OnHScroll)
            OnHScroll(v);
    });
}

ColorMemo::~ColorMemo() = default;

const std::vector<ColorRule>& ColorMemo::ColorRules() const
{
    return highlighter_->rules();
}

void ColorMemo::setColorRules(std::vector<ColorRule> rules)
{
    highlighter_->setRules(std::move(rules));
}

void ColorMemo::setHotSpot(const struct HotSpot& h)
{
    hotSpot_ = h;
    RuleHighlighter::HotSpotStyle style;
    style.active = h.Active;
    style.begin = h.BeginChar;
    style.end = h.EndChar;
    style.color = h.Color;
    style.underlined = h.Underlined;
    highlighter_->setHotSpot(style);
}

std::vector<ColorSpan> ColorMemo::spans() const
{
    return highlighter_->spans();
}

int ColorMemo::caretLine() const
{
    return textCursor().blockNumber();
}

int ColorMemo::firstVisibleLine() const
{
    return firstVisibleBlock().blockNumber();
}

int ColorMemo::visibleLines() const
{
    const int h = fontMetrics().lineSpacing();
    return h > 0 ? viewport()->height() / h : 0;
}

void ColorMemo::setCaretLine(int line)
{
    QTextBlock b = document()->findBlockByNumber(std::max(0, line));
    if (!b.isValid())
        b = document()->lastBlock();
    QTextCursor c(b);
    setTextCursor(c);
}

void ColorMemo::scrollLines(int lines)
{
    // Without word wrap the vertical scroll bar counts lines.
    verticalScrollBar()->setValue(verticalScrollBar()->value() + lines);
}

void ColorMemo::mouseReleaseEvent(QMouseEvent* e)
{
    QPlainTextEdit::mouseReleaseEvent(e);
    if (!hotSpot_.Active || !OnHotSpotClick)
        return;
    const QTextCursor at = cursorForPosition(e->position().toPoint());
    const QString line = at.block().text();
    const int col = at.positionInBlock();
    const int begin = line.lastIndexOf(QLatin1Char(hotSpot_.BeginChar), col);
    if (begin < 0)
        return;
    const int end = line.indexOf(QLatin1Char(hotSpot_.EndChar), begin + 1);
    if (end < 0 || col > end)
        return;
    OnHotSpotClick(line.mid(begin + 1, end - begin - 1).toStdString());
}

void ColorMemo::paintEvent(QPaintEvent* e)
{
    QPlainTextEdit::paintEvent(e);
    if (OnDraw)
        OnDraw();
}

} // namespace zelvo::script_host
