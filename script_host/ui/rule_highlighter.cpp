#include "script_host/ui/rule_highlighter.h"

#include <QTextDocument>
#include <QTimer>

#include <algorithm>

namespace zelvo::script_host {

namespace {

QColor toQColor(RuleColor c)
{
    return QColor(int((c >> 16) & 0xFF), int((c >> 8) & 0xFF), int(c & 0xFF));
}

} // namespace

RuleHighlighter::RuleHighlighter(QTextDocument* document) : QSyntaxHighlighter(document)
{
    // Only edits of the text count: repainting the formats reports a change of no
    // characters, which must not start another repaint.
    connect(document, &QTextDocument::contentsChange, this, [this](int, int removed, int added) {
        if (removed != 0 || added != 0)
            textChanged();
    });
}

void RuleHighlighter::setRules(std::vector<ColorRule> rules)
{
    rules_ = std::move(rules);
    revision_ = -1;
    rehighlight();
}

void RuleHighlighter::setHotSpot(const HotSpotStyle& style)
{
    hotSpot_ = style;
    revision_ = -1;
    rehighlight();
}

void RuleHighlighter::textChanged()
{
    // An edit may change the colour of text far below it (an opened comment); the
    // blocks are repainted once the edit is complete.
    if (rehighlightQueued_)
        return;
    rehighlightQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        rehighlightQueued_ = false;
        rehighlight();
    });
}

const std::vector<ColorSpan>& RuleHighlighter::spans()
{
    QTextDocument* doc = document();
    if (!doc)
        return spans_;
    if (doc->revision() == revision_)
        return spans_;
    revision_ = doc->revision();
    // One byte per character keeps the positions of the text and of the spans equal.
    const QByteArray bytes = doc->toPlainText().toLatin1();
    const std::string_view text(bytes.constData(), size_t(bytes.size()));
    spans_ = ApplyColorRules(rules_, text);
    if (eventSpans_) {
        for (const ColorRule& r : rules_)
            if (r.Enabled && r.KeyDrawingType == dtEventDraw)
                eventSpans_(r, text, spans_);
    }
    if (hotSpot_.active) {
        for (size_t at = text.find(hotSpot_.begin); at != std::string_view::npos;
             at = text.find(hotSpot_.begin, at + 1)) {
            const size_t end = text.find(hotSpot_.end, at + 1);
            if (end == std::string_view::npos)
                break;
            spans_.push_back({at, end - at + 1, hotSpot_.color});
            at = end;
        }
    }
    std::stable_sort(spans_.begin(), spans_.end(),
                     [](const ColorSpan& a, const ColorSpan& b) { return a.start < b.start; });
    longest_ = 0;
    for (const ColorSpan& sp : spans_)
        longest_ = std::max(longest_, sp.length);
    return spans_;
}

void RuleHighlighter::highlightBlock(const QString& text)
{
    const std::vector<ColorSpan>& all = spans();
    const size_t blockStart = size_t(currentBlock().position());
    const size_t blockEnd = blockStart + size_t(text.size());
    // Spans are sorted by start; none starting before the longest span's reach can end
    // inside this block.
    const size_t reach = blockStart > longest_ ? blockStart - longest_ : 0;
    auto it = std::lower_bound(all.begin(), all.end(), reach,
                               [](const ColorSpan& s, size_t pos) { return s.start < pos; });
    for (; it != all.end() && it->start < blockEnd; ++it) {
        const size_t from = std::max(it->start, blockStart);
        const size_t to = std::min(it->start + it->length, blockEnd);
        if (from >= to)
            continue;
        QTextCharFormat f;
        f.setForeground(toQColor(it->color));
        if (hotSpot_.active && hotSpot_.underlined && it->color == hotSpot_.color
            && from < blockEnd && text.at(int(from - blockStart)) == QLatin1Char(hotSpot_.begin))
            f.setFontUnderline(true);
        setFormat(int(from - blockStart), int(to - from), f);
    }
}

} // namespace zelvo::script_host
