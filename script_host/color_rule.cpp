#include "script_host/color_rule.h"

#include <algorithm>
#include <cctype>

namespace zelvo::script_host {

namespace {

std::string upper(std::string_view s)
{
    std::string u(s);
    for (char& c : u)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> fields(std::string_view entry)
{
    std::vector<std::string_view> out;
    size_t at = 0;
    for (;;) {
        const size_t semi = entry.find(';', at);
        out.push_back(entry.substr(at, semi == std::string_view::npos ? std::string_view::npos : semi - at));
        if (semi == std::string_view::npos)
            return out;
        at = semi + 1;
    }
}

// Codes 64..90 and 97..122 count as letters: "@" does, digits and "_" do not.
bool isLetter(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u >= 64 && u <= 90) || (u >= 97 && u <= 122);
}

size_t lineEnd(std::string_view text, size_t from)
{
    const size_t q = text.find_first_of("\r\n", from);
    return q == std::string_view::npos ? text.size() : q;
}

} // namespace

std::optional<RuleColor> ParseRuleColor(std::string_view text)
{
    static const struct {
        const char* name;
        RuleColor value;
    } kNames[] = {
        {"BLACK", 0x000000},  {"MAROON", 0x800000}, {"GREEN", 0x008000}, {"OLIVE", 0x808000},
        {"NAVY", 0x000080},   {"PURPLE", 0x800080}, {"TEAL", 0x008080},  {"GRAY", 0x808080},
        {"SILVER", 0xC0C0C0}, {"RED", 0xFF0000},    {"LIME", 0x00FF00},  {"YELLOW", 0xFFFF00},
        {"BLUE", 0x0000FF},   {"FUCHSIA", 0xFF00FF}, {"AQUA", 0x00FFFF}, {"WHITE", 0xFFFFFF},
    };
    const std::string u = upper(trim(text));
    for (const auto& n : kNames)
        if (u == n.name)
            return n.value;
    std::string_view hex = u;
    if (!hex.empty() && (hex.front() == '#' || hex.front() == '$'))
        hex.remove_prefix(1);
    if (hex.empty() || hex.size() > 6)
        return std::nullopt;
    RuleColor v = 0;
    for (char c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        v = v * 16 + RuleColor(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : c - 'A' + 10);
    }
    return v;
}

std::vector<ColorRule::Keyword> ColorRule::keywords() const
{
    std::vector<Keyword> out;
    for (const std::string& entry : Keywords) {
        const auto f = fields(entry);
        const std::string_view word = trim(f[0]);
        if (word.empty())
            continue;
        Keyword k;
        k.word = KeyCase ? std::string(word) : upper(word);
        k.color = f.size() > 1 ? ParseRuleColor(f[1]).value_or(DefKeyColor) : DefKeyColor;
        out.push_back(std::move(k));
    }
    return out;
}

std::vector<ColorRule::Marker> ColorRule::markers() const
{
    std::vector<Marker> out;
    const bool pairs = KeyDrawingType == dtBeginEnd;
    for (const std::string& entry : pairs ? KeyBegEndLst : KeyLineEndLst) {
        if (out.size() >= kMaxEntries)
            break;
        const auto f = fields(entry);
        Marker m;
        m.begin = std::string(f[0].substr(0, kMaxMarker));
        size_t colorField = 1;
        if (pairs) {
            if (f.size() < 2)
                continue;
            m.end = std::string(f[1].substr(0, kMaxMarker));
            colorField = 2;
        }
        if (m.begin.empty() || (pairs && m.end.empty()))
            continue;
        m.color = f.size() > colorField ? ParseRuleColor(f[colorField]).value_or(DefKeyColor)
                                        : DefKeyColor;
        out.push_back(std::move(m));
    }
    return out;
}

std::vector<ColorSpan> ColorRule::FindSpans(std::string_view text, size_t start, size_t limit) const
{
    limit = std::min(limit, text.size());
    if (!Enabled || start >= limit)
        return {};
    switch (KeyDrawingType) {
    case dtKeyShow:
        return keywordSpans(text, start, limit);
    case dtBeginEnd:
        return markerSpans(text, start, limit, false);
    case dtBeginLineEnd:
        return markerSpans(text, start, limit, true);
    case dtEventDraw:
        break;
    }
    return {};
}

std::vector<ColorSpan> ColorRule::keywordSpans(std::string_view text, size_t start, size_t limit) const
{
    std::vector<ColorSpan> out;
    const std::string folded = KeyCase ? std::string(text) : upper(text);
    for (const Keyword& k : keywords()) {
        for (size_t at = folded.find(k.word, start);
             at != std::string::npos && at + k.word.size() <= limit;
             at = folded.find(k.word, at + 1)) {
            const size_t end = at + k.word.size();
            if (!PartWord && ((at > 0 && isLetter(folded[at - 1]))
                              || (end < folded.size() && isLetter(folded[end]))))
                continue;
            out.push_back({at, k.word.size(), k.color});
        }
    }
    return out;
}

// Begin/end pairs, or a begin marker that runs to the end of its line: the earliest
// marker wins, and the search goes on after the span it starts.
std::vector<ColorSpan> ColorRule::markerSpans(std::string_view text, size_t start, size_t limit,
                                              bool toLineEnd) const
{
    std::vector<ColorSpan> out;
    const std::vector<Marker> ms = markers();
    size_t pos = start;
    for (;;) {
        size_t best = std::string_view::npos;
        const Marker* m = nullptr;
        for (const Marker& c : ms) {
            const size_t at = text.find(c.begin, pos);
            if (at < best) {
                best = at;
                m = &c;
            }
        }
        if (!m || best >= limit)
            break;
        size_t stop;
        if (toLineEnd) {
            stop = std::max(lineEnd(text, best), best + m->begin.size());
        } else {
            const size_t end = text.find(m->end, best + m->begin.size());
            if (end == std::string_view::npos)
                break;
            stop = end + m->end.size();
        }
        out.push_back({best, stop - best, m->color});
        pos = stop;
    }
    return out;
}

std::vector<ColorSpan> ApplyColorRules(const std::vector<ColorRule>& rules, std::string_view text)
{
    // The marker rules, read together from left to right.
    struct Source {
        const ColorRule* rule;
        size_t index;
        std::vector<ColorRule::Marker> markers;
        std::vector<size_t> next; // next occurrence of each begin marker at or after pos
        bool finished = false;
    };
    std::vector<Source> sources;
    for (size_t i = 0; i < rules.size(); ++i) {
        const ColorRule& r = rules[i];
        if (!r.Enabled || (r.KeyDrawingType != dtBeginEnd && r.KeyDrawingType != dtBeginLineEnd))
            continue;
        Source s{&r, i, r.markers(), {}, false};
        s.next.assign(s.markers.size(), 0);
        for (size_t k = 0; k < s.markers.size(); ++k)
            s.next[k] = text.find(s.markers[k].begin);
        if (!s.markers.empty())
            sources.push_back(std::move(s));
    }

    std::vector<ColorSpan> markerSpans;
    size_t pos = 0;
    for (;;) {
        Source* bestSource = nullptr;
        size_t bestMarker = 0;
        size_t best = std::string_view::npos;
        for (Source& s : sources) {
            if (s.finished)
                continue;
            for (size_t k = 0; k < s.markers.size(); ++k) {
                if (s.next[k] != std::string_view::npos && s.next[k] < pos)
                    s.next[k] = text.find(s.markers[k].begin, pos);
                const size_t at = s.next[k];
                if (at == std::string_view::npos)
                    continue;
                const bool better = at < best
                    || (at == best && bestSource && s.rule->ZOrder > bestSource->rule->ZOrder);
                if (better) {
                    best = at;
                    bestSource = &s;
                    bestMarker = k;
                }
            }
        }
        if (!bestSource)
            break;
        const ColorRule::Marker& m = bestSource->markers[bestMarker];
        size_t stop;
        if (bestSource->rule->KeyDrawingType == dtBeginEnd) {
            const size_t end = text.find(m.end, best + m.begin.size());
            if (end == std::string_view::npos) {
                // This rule's search ends here; the others go on.
                bestSource->finished = true;
                continue;
            }
            stop = end + m.end.size();
        } else {
            stop = std::max(lineEnd(text, best), best + m.begin.size());
        }
        markerSpans.push_back({best, stop - best, m.color});
        pos = stop;
    }

    std::vector<ColorSpan> keywordSpans;
    for (const ColorRule& r : rules)
        if (r.Enabled && r.KeyDrawingType == dtKeyShow) {
            auto found = r.FindSpans(text);
            keywordSpans.insert(keywordSpans.end(), found.begin(), found.end());
        }
    std::sort(keywordSpans.begin(), keywordSpans.end(),
              [](const ColorSpan& a, const ColorSpan& b) { return a.start < b.start; });

    std::vector<ColorSpan> out = markerSpans;
    size_t m = 0;
    size_t keptEnd = 0;
    for (const ColorSpan& k : keywordSpans) {
        while (m < markerSpans.size() && markerSpans[m].start + markerSpans[m].length <= k.start)
            ++m;
        const bool inMarker = m < markerSpans.size() && markerSpans[m].start < k.start + k.length;
        if (inMarker || k.start < keptEnd)
            continue;
        out.push_back(k);
        keptEnd = k.start + k.length;
    }
    std::sort(out.begin(), out.end(),
              [](const ColorSpan& a, const ColorSpan& b) { return a.start < b.start; });
    return out;
}

std::vector<ColorRule> ScriptColorRules()
{
    std::vector<ColorRule> rules(3);
    ColorRule& keywords = rules[0];
    keywords.KeyDrawingType = dtKeyShow;
    keywords.Keywords = {"break", "continue", "do", "for", "if", "var", "void", "while"};
    keywords.KeyLineEndLst = {"//"};
    ColorRule& pairs = rules[1];
    pairs.KeyDrawingType = dtBeginEnd;
    pairs.KeyBegEndLst = {"/*;*/;teal", "\";\";olive", "';';blue"};
    pairs.DefKeyColor = kBlue;
    ColorRule& lineComments = rules[2];
    lineComments.KeyDrawingType = dtBeginLineEnd;
    lineComments.KeyLineEndLst = {"//"};
    lineComments.DefKeyColor = kTeal;
    return rules;
}

} // namespace zelvo::script_host
