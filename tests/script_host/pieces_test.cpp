// The plain pieces of the script host: the console's cell grid, the colouring rules, the
// text matcher, the plain-text view of the terminal, names and settings.

#include "protocols/protocol.h"
#include "script_host/color_rule.h"
#include "script_host/console_grid.h"
#include "script_host/file_names.h"
#include "script_host/plain_text_filter.h"
#include "script_host/protocol_property.h"
#include "script_host/script_list.h"
#include "script_host/text_matcher.h"

#include <gtest/gtest.h>

using namespace zelvo;
using namespace zelvo::script_host;

namespace {

std::string rtrim(std::string s)
{
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

TEST(ConsoleGridTest, WritesWrapsAndScrolls)
{
    ConsoleGrid g(80, 25);
    g.Write(std::string(81, 'x'));
    EXPECT_EQ(g.rowText(0), std::string(80, 'x'));
    EXPECT_EQ(rtrim(g.rowText(1)), "x");
    EXPECT_EQ(g.cursorCol(), 1);

    // With line break mode LF a carriage return only goes back to column 0.
    g.Clear();
    g.Write("a\rb");
    EXPECT_EQ(rtrim(g.rowText(0)), "b");
    g.setLineBreak(CRLF);
    g.Write("\nc");
    EXPECT_EQ(rtrim(g.rowText(1)), " c");
    g.setLineBreak(CR);
    g.Write("\rd");
    EXPECT_EQ(rtrim(g.rowText(2)), "d");

    // The 25th line feed from the top row scrolls the first line out.
    g.Clear();
    g.setLineBreak(LF);
    g.Write("first");
    for (int i = 0; i < 24; ++i)
        g.Write("\n");
    EXPECT_EQ(rtrim(g.rowText(0)), "first");
    g.Write("\nlast");
    EXPECT_EQ(rtrim(g.rowText(0)), "");
    EXPECT_EQ(rtrim(g.rowText(24)), "last");
    EXPECT_EQ(g.cursorRow(), 24);
    EXPECT_EQ(g.scrolled(), 1u);
}

TEST(ConsoleGridTest, ControlCharactersAndKeys)
{
    ConsoleGrid g(10, 3);
    int bells = 0;
    g.onBell = [&] { ++bells; };
    g.Write("\bab\b\tc\x07");
    // A backspace in column 0 does nothing; the tab is ignored.
    EXPECT_EQ(rtrim(g.rowText(0)), "ac");
    EXPECT_EQ(bells, 1);
    g.Write("\x0c");
    EXPECT_EQ(rtrim(g.rowText(0)), "");
    EXPECT_EQ(g.cursorCol(), 0);

    for (int i = 0; i < 70; ++i)
        g.PushKey(char('A' + i % 26));
    EXPECT_EQ(g.keysWaiting(), 64u);
    EXPECT_EQ(g.TakeKey(), 'A');
    for (int i = 1; i < 64; ++i)
        g.TakeKey();
    EXPECT_FALSE(g.KeyPressed());
    EXPECT_EQ(g.TakeKey(), -1);
}

// The colour of every character of a text, '.' for none.
std::string paint(const std::vector<ColorSpan>& spans, size_t length)
{
    std::string s(length, '.');
    for (const ColorSpan& sp : spans) {
        char c = '?';
        switch (sp.color) {
        case kRed: c = 'r'; break;
        case kTeal: c = 't'; break;
        case kOlive: c = 'o'; break;
        case kBlue: c = 'b'; break;
        default: break;
        }
        for (size_t i = sp.start; i < sp.start + sp.length && i < length; ++i)
            s[i] = c;
    }
    return s;
}

TEST(ColorRuleTest, TheScriptLanguagesRulesOnASample)
{
    const std::string text = "for(i) format for_x FOR @for\n"
                             "x = \"a // b\"; /* if 'q' */ c = 'z'; // while \"s\"\n"
                             "while";
    // "@" counts as a letter, "_" does not; a comment marker inside a string and a quote
    // inside a comment are plain text.
    const std::string expect = "rrr...........rrr...rrr......"
                               "....oooooooo..tttttttttttt.....bbb..tttttttttttt."
                               "rrrrr";
    EXPECT_EQ(paint(ApplyColorRules(ScriptColorRules(), text), text.size()), expect);

    // Each rule alone finds what it finds, overlaps and all.
    const std::vector<ColorRule> rules = ScriptColorRules();
    const auto lineComments = rules[2].FindSpans(text);
    ASSERT_EQ(lineComments.size(), 1u);
    EXPECT_EQ(lineComments[0].start, text.find("//"));
    const std::string open = "a /* never closed \"s\" 'c'";
    EXPECT_TRUE(rules[1].FindSpans(open).empty());
    // That rule's search ends at the open comment; the others go on.
    EXPECT_EQ(paint(ApplyColorRules(rules, "/* x\nfor"), 8), ".....rrr");
}

TEST(ColorRuleTest, RuleTextsColoursAndOptions)
{
    EXPECT_EQ(ParseRuleColor(" teal "), kTeal);
    EXPECT_EQ(ParseRuleColor("Fuchsia"), 0xFF00FFu);
    EXPECT_EQ(ParseRuleColor("#102030"), 0x102030u);
    EXPECT_EQ(ParseRuleColor("$0a0B0c"), 0x0A0B0Cu);
    EXPECT_FALSE(ParseRuleColor("purplish"));
    EXPECT_FALSE(ParseRuleColor("#1234567"));

    ColorRule r;
    r.KeyDrawingType = dtKeyShow;
    r.Keywords = {"Go;#00ff00", "stop;nonsense", ";blue", "x"};
    r.KeyCase = true;
    auto k = r.keywords();
    ASSERT_EQ(k.size(), 3u);
    EXPECT_EQ(k[0].color, 0x00FF00u);
    EXPECT_EQ(k[1].color, kRed); // a colour that is neither name nor number: the default
    EXPECT_EQ(r.FindSpans("go Go").size(), 1u);
    r.PartWord = true;
    EXPECT_EQ(r.FindSpans("xyGox").size(), 3u);

    ColorRule pairs;
    pairs.Keywords.clear();
    pairs.KeyBegEndLst = {"BEGINNING;END;navy", "nothing", "<;>"};
    auto m = pairs.markers();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].begin, "BEGINN"); // markers hold six characters
    EXPECT_EQ(m[0].color, 0x000080u);
    EXPECT_EQ(pairs.FindSpans("a <b> c <d").size(), 1u);
}

TEST(TextMatcherTest, FindsTextsSplitAcrossRuns)
{
    TextMatcher m("abab c");
    const std::string parts[] = {"xxaba", "bab", " cyy"};
    EXPECT_EQ(m.feed(reinterpret_cast<const uint8_t*>(parts[0].data()), parts[0].size()), TextMatcher::npos);
    EXPECT_EQ(m.feed(reinterpret_cast<const uint8_t*>(parts[1].data()), parts[1].size()), TextMatcher::npos);
    EXPECT_EQ(m.feed(reinterpret_cast<const uint8_t*>(parts[2].data()), parts[2].size()), 2u);
    TextMatcher ab("ab");
    const std::string aab = "aab";
    EXPECT_EQ(ab.feed(reinterpret_cast<const uint8_t*>(aab.data()), 3), 3u);
    TextMatcher empty("");
    EXPECT_EQ(empty.feed(reinterpret_cast<const uint8_t*>(aab.data()), 3), TextMatcher::npos);
}

TEST(PlainTextFilterTest, KeepsTheTextOfATerminalStream)
{
    PlainTextFilter f;
    std::string out;
    const std::string in1 = "\x1b[1;31mred\x1b[0m\r\nnext\tcol\x07\x1b]0;title\x07 \x1b(Bx\x1b[";
    const std::string in2 = "2Jafter\x1b]2;t\x1b\\end\x1b[1\x18" "cancelled";
    f.feed(reinterpret_cast<const uint8_t*>(in1.data()), in1.size(), out);
    f.feed(reinterpret_cast<const uint8_t*>(in2.data()), in2.size(), out);
    EXPECT_EQ(out, "red\nnext\tcol xafterendcancelled");
}

TEST(NamesTest, ScriptListProtocolNamesAndMessageLines)
{
    ScriptList list;
    list.AddScript("/home/a/login.vm");
    list.AddScript("/home/b/login.vm");
    EXPECT_EQ(ScriptList::Caption(0, list.paths()[0]), "&0 login.vm");
    EXPECT_EQ(ScriptList::Caption(1, list.paths()[1]), "&1 login.vm");
    EXPECT_EQ(*list.byTag(2), "/home/b/login.vm");
    EXPECT_EQ(list.byTag(0), nullptr);
    EXPECT_EQ(list.byTag(3), nullptr);

    EXPECT_EQ(MessageLine("Line 12 - Syntax error"), 12);
    EXPECT_EQ(MessageLine("Runtime error: line 7 - Illegal protocol name."), 7);
    EXPECT_EQ(MessageLine("Error: Line 0 - Symbol 'print' allready defined !"), 0);
    EXPECT_EQ(MessageLine("no digits"), 1);
    EXPECT_EQ(MessageLine("Line 99999999999999"), 2147483647);

    EXPECT_EQ(ProtocolByName("zmodem"), protocols::ptZmodem);
    EXPECT_EQ(ProtocolByName("Xmodem1kG"), protocols::ptXmodem1KG);
    EXPECT_EQ(ProtocolByName("ascii"), protocols::ptAscii);
    EXPECT_EQ(ProtocolByName("XMODEM-1K"), protocols::ptNoProtocol);
    EXPECT_EQ(ProtocolByName(""), protocols::ptNoProtocol);
}

TEST(ProtocolPropertyTest, SetsSettingsByName)
{
    protocols::Protocol p;
    std::string error;
    EXPECT_TRUE(SetProtocolProperty(p, "AsciiEOFTimeout=36", error)) << error;
    EXPECT_EQ(p.AsciiEOFTimeout(), 36u);
    EXPECT_TRUE(SetProtocolProperty(p, "upcasefilenames=no", error));
    EXPECT_FALSE(p.UpcaseFileNames());
    EXPECT_TRUE(SetProtocolProperty(p, "ZmodemFileOption=zfoWriteClobber", error));
    EXPECT_EQ(p.ZmodemFileOption(), protocols::zfoWriteClobber);
    EXPECT_TRUE(SetProtocolProperty(p, "WriteFailAction=1", error));
    EXPECT_EQ(p.WriteFailAction(), protocols::wfWriteFail);
    EXPECT_TRUE(SetProtocolProperty(p, "KermitCtlPrefix=!", error));
    EXPECT_EQ(p.KermitCtlPrefix(), '!');
    EXPECT_TRUE(SetProtocolProperty(p, "DestinationDirectory=/a=b", error));
    EXPECT_EQ(p.DestinationDirectory(), "/a=b");

    EXPECT_FALSE(SetProtocolProperty(p, "HandshakeWait=-1", error));
    EXPECT_EQ(error, "bad value \"-1\" for HandshakeWait");
    EXPECT_FALSE(SetProtocolProperty(p, "WriteFailAction=9", error));
    EXPECT_FALSE(SetProtocolProperty(p, "Bogus=1", error));
    EXPECT_FALSE(SetProtocolProperty(p, "=1", error));
    EXPECT_FALSE(SetProtocolProperty(p, "HandshakeWait", error));
    EXPECT_EQ(p.HandshakeWait(), 182u);
}

} // namespace
