#pragma once
// The colouring rules of the source editor: keywords, spans between a begin and an end
// marker, and spans from a marker to the end of its line. Rules are data, so the editor
// can colour any language; ScriptColorRules() gives the set for the script language.
//
// Rule entries are texts: a keyword, or a begin marker ";" end marker, or a line-end
// marker, each optionally followed by ";" and a colour. A colour is one of the sixteen
// names BLACK .. WHITE (any case), or a hexadecimal RRGGBB with an optional "#" or "$";
// an entry whose colour is neither takes the rule's default colour.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo::script_host {

// 0xRRGGBB; kWindowColor stands for the window's own background.
using RuleColor = uint32_t;
constexpr RuleColor kWindowColor = 0xFF000000u;
constexpr RuleColor kRed = 0xFF0000, kYellow = 0xFFFF00, kBlue = 0x0000FF, kTeal = 0x008080,
                    kOlive = 0x808000;

enum TKeyDrawingType { dtKeyShow, dtEventDraw, dtBeginEnd, dtBeginLineEnd };

// A coloured stretch of the text: [start, start + length).
struct ColorSpan {
    size_t start = 0;
    size_t length = 0;
    RuleColor color = 0;
    bool operator==(const ColorSpan&) const = default;
};

// A colour text; nothing when it is neither a known name nor a hexadecimal number.
std::optional<RuleColor> ParseRuleColor(std::string_view text);

class ColorRule {
public:
    uint8_t ZOrder = 0;
    std::string IntChar;
    std::vector<std::string> Keywords;
    std::vector<std::string> KeyBegEndLst;
    std::vector<std::string> KeyLineEndLst;
    int KeyMaxHeight = 1;
    TKeyDrawingType KeyDrawingType = dtBeginEnd;
    bool KeyCase = false;
    bool Enabled = true;
    bool PartWord = false;
    RuleColor DefKeyColor = kRed;
    RuleColor KeySelColor = kYellow;
    RuleColor KeyBrushColor = kWindowColor;

    // Begin markers and end markers hold at most this many characters; a rule keeps at
    // most kMaxEntries markers or pairs.
    static constexpr size_t kMaxMarker = 6;
    static constexpr size_t kMaxEntries = 40;

    // One parsed marker entry.
    struct Marker {
        std::string begin;
        std::string end; // pairs only
        RuleColor color = 0;
    };
    struct Keyword {
        std::string word; // upper case unless KeyCase
        RuleColor color = 0;
    };
    // The parsed lists (after the properties have been set).
    std::vector<Keyword> keywords() const;
    std::vector<Marker> markers() const;

    // The spans this rule finds in text[start, limit) (limit npos: to the end), in the
    // order found. dtEventDraw rules find nothing here: their spans come from the view.
    std::vector<ColorSpan> FindSpans(std::string_view text, size_t start = 0,
                                     size_t limit = std::string_view::npos) const;

private:
    std::vector<ColorSpan> keywordSpans(std::string_view text, size_t start, size_t limit) const;
    std::vector<ColorSpan> markerSpans(std::string_view text, size_t start, size_t limit, bool toLineEnd) const;
};

// All rules of a collection applied to one text, ready to paint, sorted by start and
// without overlaps. Marker rules (pairs and line ends) are read together from left to
// right, so a comment marker inside a string or a quote inside a comment is text, not a
// marker; where markers of several rules start at the same place, the rule with the
// higher ZOrder, then the earlier rule, wins. Keywords are coloured only outside the
// marker spans.
std::vector<ColorSpan> ApplyColorRules(const std::vector<ColorRule>& rules, std::string_view text);

// The script editor's rules: keywords in red, block and line comments in teal, double
// quoted strings in olive, single quoted characters in blue.
std::vector<ColorRule> ScriptColorRules();

} // namespace zelvo::script_host
