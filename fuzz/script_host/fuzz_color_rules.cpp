// Any text under the script language's rules and under rules made from the input: the
// spans to paint stay inside the text, in order, without overlapping.
//
// Input: the part before the first NUL gives rule entries (one per line, the first
// character of a line choosing the list), the rest is the text.

#include "script_host/color_rule.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace zelvo::script_host;

namespace {

void check(const std::vector<ColorSpan>& spans, size_t length)
{
    size_t end = 0;
    for (const ColorSpan& s : spans) {
        if (s.length == 0 || s.start < end || s.start + s.length > length)
            std::abort();
        end = s.start + s.length;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t nul = input.find('\0');
    const std::string_view entries = nul == std::string_view::npos ? std::string_view() : input.substr(0, nul);
    const std::string_view text = nul == std::string_view::npos ? input : input.substr(nul + 1);

    check(ApplyColorRules(ScriptColorRules(), text), text.size());

    std::vector<ColorRule> rules(3);
    rules[0].KeyDrawingType = dtKeyShow;
    rules[1].KeyDrawingType = dtBeginEnd;
    rules[2].KeyDrawingType = dtBeginLineEnd;
    size_t at = 0;
    while (at < entries.size()) {
        size_t eol = entries.find('\n', at);
        if (eol == std::string_view::npos)
            eol = entries.size();
        const std::string_view line = entries.substr(at, eol - at);
        at = eol + 1;
        if (line.empty())
            continue;
        const std::string entry(line.substr(1));
        switch (static_cast<unsigned char>(line[0]) % 4) {
        case 0: rules[0].Keywords.push_back(entry); break;
        case 1: rules[1].KeyBegEndLst.push_back(entry); break;
        case 2: rules[2].KeyLineEndLst.push_back(entry); break;
        default: rules[0].PartWord = !rules[0].PartWord; break;
        }
    }
    check(ApplyColorRules(rules, text), text.size());
    for (const ColorRule& r : rules)
        for (const ColorSpan& s : r.FindSpans(text))
            if (s.start + s.length > text.size())
                std::abort();
    return 0;
}
