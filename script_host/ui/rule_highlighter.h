#pragma once
// Paints the spans of a rule collection into a text document. The spans are found on
// the whole text (a block comment or a string may cross lines) and found again whenever
// the text or the rules change; every block is then repainted from them.

#include "script_host/color_rule.h"

#include <QSyntaxHighlighter>

#include <functional>
#include <vector>

namespace zelvo::script_host {

class RuleHighlighter : public QSyntaxHighlighter {
    Q_OBJECT

public:
    // Spans of the rules that draw through an event (dtEventDraw), for the whole text.
    using EventSpans = std::function<void(const ColorRule& rule, std::string_view text,
                                          std::vector<ColorSpan>& spans)>;
    // Hot spots: text between two marker characters, painted in a colour of their own.
    struct HotSpotStyle {
        bool active = false;
        char begin = 30;
        char end = 31;
        RuleColor color = kBlue;
        bool underlined = true;
    };

    explicit RuleHighlighter(QTextDocument* document);

    void setRules(std::vector<ColorRule> rules);
    const std::vector<ColorRule>& rules() const { return rules_; }
    void setEventSpans(EventSpans f) { eventSpans_ = std::move(f); }
    void setHotSpot(const HotSpotStyle& style);
    // The spans of the current text (found again if the text changed).
    const std::vector<ColorSpan>& spans();

protected:
    void highlightBlock(const QString& text) override;

private:
    void textChanged();

    std::vector<ColorRule> rules_;
    EventSpans eventSpans_;
    HotSpotStyle hotSpot_;
    std::vector<ColorSpan> spans_;
    size_t longest_ = 0;
    int revision_ = -1;
    bool rehighlightQueued_ = false;
};

} // namespace zelvo::script_host
