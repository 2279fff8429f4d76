#pragma once
// ColorMemo: a multi-line text editor that colours its text by a collection of rules
// (keywords, begin/end spans, spans to the end of the line; see script_host/color_rule.h).
// The script editor gives it the script language's rules; any other rule set works the
// same way.

#include "script_host/color_rule.h"

#include <QPlainTextEdit>

#include <functional>
#include <string>
#include <vector>

namespace zelvo::script_host {

class RuleHighlighter;

// Marked text that reacts to a click: the characters between BeginChar and EndChar.
struct HotSpot {
    char BeginChar = 30;
    char EndChar = 31;
    RuleColor Color = kBlue;
    RuleColor MarkerColor = kWindowColor;
    bool Active = false;
    bool Underlined = true;
};

class ColorMemo : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit ColorMemo(QWidget* parent = nullptr);
    ~ColorMemo() override;

    const std::vector<ColorRule>& ColorRules() const;
    void setColorRules(std::vector<ColorRule> rules);
    int ColorLimMax() const { return colorLimMax_; }
    void setColorLimMax(int v) { colorLimMax_ = v; }
    bool RedrawAlways() const { return redrawAlways_; }
    void setRedrawAlways(bool on) { redrawAlways_ = on; }
    const struct HotSpot& HotSpot() const { return hotSpot_; }
    void setHotSpot(const struct HotSpot& h);

    // The spans painted for the current text.
    std::vector<ColorSpan> spans() const;
    // The 0-based line of the caret, the first line shown, and how many lines fit.
    int caretLine() const;
    int firstVisibleLine() const;
    int visibleLines() const;
    void setCaretLine(int line);
    void scrollLines(int lines);

    std::function<void(int value)> OnVScroll;
    std::function<void(int value)> OnHScroll;
    // A click on hot-spot text (between the markers, without them).
    std::function<void(const std::string& text)> OnHotSpotClick;
    // After each repaint of the text area.
    std::function<void()> OnDraw;
    // Spans of the rules of type dtEventDraw.
    std::function<void(const ColorRule& rule, std::string_view text, std::vector<ColorSpan>& spans)>
        OnDrawKey;

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    RuleHighlighter* highlighter_;
    int colorLimMax_ = 0;
    bool redrawAlways_ = false;
    struct HotSpot hotSpot_;
};

} // namespace zelvo::script_host
