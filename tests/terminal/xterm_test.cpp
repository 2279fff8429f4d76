// The xterm emulation, one behaviour per group: UTF-8, the screen model, rendition,
// replies, titles and bells, unknown sequences, keys and the page following the window.
// That real programs render as libvterm renders them is xterm_golden_test's business.

#include "screen_fixture.h"

#include "terminal/char_width.h"
#include "terminal/terminal_errors.h"
#include "terminal/xterm_emulator.h"
#include "terminal/xterm_keyboard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace zelvo::terminal::test {
namespace {

class TitleClient : public RecordingClient {
public:
    void bell() override { ++bells; }
    void titleChanged(const std::string& t) override { titles.push_back(t); }
    int bells = 0;
    std::vector<std::string> titles;
};

struct Xterm : Screen {
    explicit Xterm(int cols = 10, int rows = 4, int scrollback = 6)
        : Screen(etXterm, cols, rows, rows + scrollback)
    {
        buffer.setClient(&titles);
    }
    ~Xterm() { buffer.setClient(nullptr); }
    XtermEmulator& xterm() { return *static_cast<XtermEmulator*>(emulator.emulation()); }
    std::u32string cell(int row, int col) const
    {
        std::u32string s;
        buffer.cellCodePoints(buffer.ViewRow() + row, col, s);
        return s;
    }
    uint32_t fore(int row, int col) const { return buffer.foreAt(buffer.ViewRow() + row, col); }
    uint32_t back(int row, int col) const { return buffer.backAt(buffer.ViewRow() + row, col); }
    std::string utf8(int row) const { return buffer.rowUtf8(buffer.ViewRow() + row); }
    TitleClient titles;
};

TEST(XtermText, Utf8DecodingKeepsEveryFollowingByte)
{
    Xterm s(20);
    // Split in the middle of a character, as reads from a line split it.
    s.feed("a\xc3");
    s.feed("\xa9\xe2\x82\xac\xf0\x9f\x98\x80" "b");
    EXPECT_EQ(s.cell(0, 1), U"\u00e9");
    EXPECT_EQ(s.cell(0, 2), U"\u20ac");
    EXPECT_EQ(s.cell(0, 3), U"\U0001F600"); // a wide emoji: two cells
    EXPECT_EQ(s.cell(0, 5), U"b");

    // Malformed input: a lone continuation byte, a sequence cut by ASCII or a control,
    // an overlong form and an encoded surrogate each become one U+FFFD, and nothing
    // after them is lost.
    Xterm bad(20);
    bad.feed("ab\xc3\rX");
    EXPECT_EQ(bad.utf8(0), "Xb\xef\xbf\xbd");
    Xterm bad2(20);
    bad2.feed("\x80x\xe2\x82y");
    EXPECT_EQ(bad2.utf8(0), "\xef\xbf\xbdx\xef\xbf\xbdy");
    Xterm bad3(20);
    bad3.feed("\xe0\x80\x80q\xed\xa0\x80z\xf8w");
    EXPECT_EQ(bad3.utf8(0), "\xef\xbf\xbdq\xef\xbf\xbdz\xef\xbf\xbdw");
    EXPECT_EQ(bad3.xterm().parserState(), XtermParser::State::Ground);
}

TEST(XtermText, WideCharactersAndCombiningMarks)
{
    Xterm s(6);
    s.feed("ab\u4e2d\u6587"); // 2 + 2 + 2 cells: the page is full
    EXPECT_EQ(s.utf8(0), "ab\u4e2d\u6587");
    EXPECT_TRUE(s.buffer.codeAt(s.buffer.ViewRow(), 2) & cellWide);
    EXPECT_TRUE(s.buffer.codeAt(s.buffer.ViewRow(), 3) & cellContinuation);
    EXPECT_TRUE(s.xterm().wrapPending());
    // A wide character that does not fit in the last column goes to the next line.
    Xterm t(5);
    t.feed("abcd\u4e2d");
    EXPECT_EQ(t.utf8(0), "abcd");
    EXPECT_EQ(t.utf8(1), "\u4e2d");
    // Overwriting half of a wide character blanks the other half.
    t.feed("\x1b[2;2Hx");
    EXPECT_EQ(t.utf8(1), " x");
    // A combining mark joins the character before it.
    Xterm c(10);
    c.feed("e\u0301x");
    EXPECT_EQ(c.cell(0, 0), U"e\u0301");
    EXPECT_EQ(c.cell(0, 1), U"x");
    EXPECT_EQ(c.utf8(0), "e\u0301x");

    EXPECT_EQ(charWidth(U'a'), 1);
    EXPECT_EQ(charWidth(0x0301), 0);
    EXPECT_EQ(charWidth(0x4e2d), 2);
    EXPECT_EQ(charWidth(0xFF21), 2); // fullwidth A
    EXPECT_EQ(charWidth(0x2500), 1);
}

TEST(XtermScreen, DelayedWrap)
{
    Xterm s(5);
    s.feed("abcde");
    // The cursor stays on the last column until the next character.
    EXPECT_EQ(s.cursor(), std::make_pair(0, 4));
    EXPECT_TRUE(s.xterm().wrapPending());
    // A full line followed by CR LF leaves no empty line behind.
    s.feed("\r\nx");
    EXPECT_EQ(s.page(), (Page{"abcde", "x", "", ""}));
    // The next character wraps; a cursor move in between cancels that.
    Xterm t(5);
    t.feed("abcdefg");
    EXPECT_EQ(t.page(), (Page{"abcde", "fg", "", ""}));
    Xterm u(5);
    u.feed("abcde\x1b[D\x1b[Cz");
    EXPECT_EQ(u.page(), (Page{"abcdz", "", "", ""}));
    // Without auto-wrap the last column is overwritten.
    Xterm v(5);
    v.feed("\x1b[?7labcdefg");
    EXPECT_EQ(v.page(), (Page{"abcdg", "", "", ""}));
}

TEST(XtermScreen, RegionsIndexAndReverseIndex)
{
    Xterm s(4, 4);
    s.feed("1\r\n2\r\n3\r\n4");
    // Region rows 2..3: a line feed on its bottom scrolls only the region.
    s.feed("\x1b[2;3r\x1b[3;1H\n");
    EXPECT_EQ(s.page(), (Page{"1", "3", "", "4"}));
    // Reverse index at the top margin scrolls the region down.
    s.feed("\x1b[2;1H\x1bMx");
    EXPECT_EQ(s.page(), (Page{"1", "x", "3", "4"}));
    // Next line: first column of the next row.
    s.feed("\x1b" "Ey");
    EXPECT_EQ(s.page(), (Page{"1", "x", "y", "4"}));
    // A full-page region sends its top line to the scrollback; the alternate screen
    // keeps none.
    Xterm t(4, 2);
    t.feed("a\r\nb\r\nc");
    EXPECT_EQ(t.page(), (Page{"b", "c"}));
    EXPECT_EQ(t.buffer.rowUtf8(t.buffer.ViewRow() - 1), "a");
    const int viewRow = t.buffer.ViewRow();
    t.feed("\x1b[?1049h1\r\n2\r\n3");
    EXPECT_EQ(t.page(), (Page{"2", "3"}));
    EXPECT_EQ(t.buffer.ViewRow(), viewRow);
    t.feed("\x1b[?1049l");
    EXPECT_EQ(t.page(), (Page{"b", "c"}));
    EXPECT_EQ(t.cursor(), std::make_pair(1, 1));
}

TEST(XtermScreen, EditingAndErasingUseThePenBackground)
{
    Xterm s(8, 3);
    s.feed("abcdefgh\r\n12345678");
    s.feed("\x1b[1;3H\x1b[2@");  // ICH
    EXPECT_EQ(s.utf8(0), "ab  cdef");
    s.feed("\x1b[3P");           // DCH
    EXPECT_EQ(s.utf8(0), "abdef");
    s.feed("\x1b[44m\x1b[2X");   // ECH with a blue background
    EXPECT_EQ(s.utf8(0), "ab  f");
    EXPECT_EQ(s.back(0, 2), indexedColor(4));
    EXPECT_EQ(s.back(0, 4), colorDefault);
    s.feed("\x1b[2;5H\x1b[K");   // EL to the end
    EXPECT_EQ(s.utf8(1), "1234");
    EXPECT_EQ(s.back(1, 7), indexedColor(4));
    s.feed("\x1b[1K");           // EL to the start, cursor included
    EXPECT_EQ(s.utf8(1), "");
    s.feed("\x1b[0m\x1b[1;1H\x1b[L"); // IL
    EXPECT_EQ(s.page(), (Page{"", "ab  f", ""}));
    s.feed("\x1b[M");            // DL
    EXPECT_EQ(s.page(), (Page{"ab  f", "", ""}));
    s.feed("\x1b[2J");           // ED 2 erases in place
    EXPECT_EQ(s.page(), (Page{"", "", ""}));
    EXPECT_EQ(s.cursor(), std::make_pair(0, 0));
    // ED 3 throws the scrollback away.
    s.feed("1\r\n2\r\n3\r\n4\r\n5");
    ASSERT_GT(s.buffer.ViewRow(), 0);
    s.feed("\x1b[3J");
    EXPECT_EQ(s.buffer.ViewRow(), 0);
    EXPECT_EQ(s.page(), (Page{"3", "4", "5"}));
}

TEST(XtermScreen, CursorSaveTabsOriginInsertAndCharsets)
{
    Xterm s(20, 4);
    // Save and restore bring back position and rendition.
    s.feed("\x1b[2;3H\x1b[31m\x1b" "7\x1b[0m\x1b[4;1H\x1b" "8x");
    EXPECT_EQ(s.cursor(), std::make_pair(1, 3));
    EXPECT_EQ(s.fore(1, 2), indexedColor(1));
    // Tab stops: default every eight columns, set, cleared, forward and back.
    s.feed("\r\t");
    EXPECT_EQ(s.cursor().second, 8);
    s.feed("\x1b[3G\x1bH\r\t");
    EXPECT_EQ(s.cursor().second, 2);
    s.feed("\x1b[g\r\t\x1b[2I");
    EXPECT_EQ(s.cursor().second, 19);
    s.feed("\x1b[Z");
    EXPECT_EQ(s.cursor().second, 16);
    s.feed("\x1b[3g\r\t");
    EXPECT_EQ(s.cursor().second, 19);
    // Origin mode: positions count from the top margin and stay in the region.
    s.feed("\x1b[2;3r\x1b[?6h\x1b[1;1Ho\x1b[9;1Hp\x1b[?6l");
    EXPECT_EQ(s.utf8(1).substr(0, 1), "o");
    EXPECT_EQ(s.utf8(2).substr(0, 1), "p");
    // Insert mode shifts the rest of the row.
    Xterm i(6, 1, 0);
    i.feed("abc\r\x1b[4hXY\x1b[4lZ");
    EXPECT_EQ(i.utf8(0), "XYZbc");
    // DEC special graphics through G0 and shifted in from G1.
    Xterm g(10, 1, 0);
    g.feed("\x1b(0lqk\x1b(B-\x1b)0\x0ex\x0fx");
    EXPECT_EQ(g.utf8(0), "\u250c\u2500\u2510-\u2502x");
}

TEST(XtermRendition, SgrAttributesAndColours)
{
    Xterm s(20, 1, 0);
    s.feed("\x1b[1;2;3;4;5;7;8;9mA\x1b[22;23;24;25;27;28;29mB");
    EXPECT_EQ(s.attr(0, 0), atBold | atFaint | atItalic | atUnderline | atBlink | atReverse | atInvisible | atStrike);
    EXPECT_EQ(s.attr(0, 1), 0);
    s.feed("\x1b[31;42mC\x1b[95;104mD\x1b[39;49mE");
    EXPECT_EQ(s.fore(0, 2), indexedColor(1));
    EXPECT_EQ(s.back(0, 2), indexedColor(2));
    EXPECT_EQ(s.fore(0, 3), indexedColor(13));
    EXPECT_EQ(s.back(0, 3), indexedColor(12));
    EXPECT_EQ(s.fore(0, 4), colorDefault);
    EXPECT_EQ(s.back(0, 4), colorDefault);
    // 256 colours and true colour, with ';' and with ':'.
    s.feed("\x1b[38;5;208;48;2;1;2;3mF\x1b[38:2::10:20:30;48:5:17mG\x1b[0mH");
    EXPECT_EQ(s.fore(0, 5), indexedColor(208));
    EXPECT_EQ(s.back(0, 5), rgbColor(1, 2, 3));
    EXPECT_EQ(s.fore(0, 6), rgbColor(10, 20, 30));
    EXPECT_EQ(s.back(0, 6), indexedColor(17));
    EXPECT_EQ(s.fore(0, 7), colorDefault);
    // Bold does not change the colour chosen (the window brightens it when drawing);
    // a broken colour ends the list without touching the pen.
    s.feed("\x1b[1;34mI\x1b[38;5mJ\x1b[38;2;1m");
    EXPECT_EQ(s.fore(0, 8), indexedColor(4));
    EXPECT_EQ(s.fore(0, 9), indexedColor(4));
    // The byte planes get the nearest palette colours, for whatever reads them.
    EXPECT_EQ(Buffer::paletteIndexOf(rgbColor(250, 0, 0), 7), 9);
    EXPECT_EQ(Buffer::paletteIndexOf(indexedColor(231), 7), 15);
    EXPECT_EQ(Buffer::paletteIndexOf(colorDefault, 7), 7);
}

TEST(XtermReplies, AttributesStatusAndSizeReports)
{
    Xterm s(30, 5);
    s.feed("\x1b[c\x1b[>c\x1b[5n\x1b[3;7H\x1b[6n\x1b[18t");
    EXPECT_EQ(s.output.sent, "\x1b[?62;22c\x1b[>1;10;0c\x1b[0n\x1b[3;7R\x1b[8;5;30t");
    s.output.sent.clear();
    // Positions in origin mode count from the top margin.
    s.feed("\x1b[2;4r\x1b[?6h\x1b[2;2H\x1b[6n");
    EXPECT_EQ(s.output.sent, "\x1b[2;2R");
    s.output.sent.clear();
    // Mode reports and colour queries, ended as the query was.
    s.feed("\x1b[?2004h\x1b[?2004$p\x1b[?1$p\x1b[?9999$p\x1b]11;?\x07\x1b]10;?\x1b\\");
    EXPECT_EQ(s.output.sent, "\x1b[?2004;1$y\x1b[?1;2$y\x1b[?9999;0$y"
                             "\x1b]11;rgb:0000/0000/0000\x07\x1b]10;rgb:c0c0/c0c0/c0c0\x1b\\");
}

TEST(XtermReplies, TitleAndBell)
{
    Xterm s(20, 2);
    s.feed("\x1b]0;first\x07\x1b]2;second \xc3\xa9\x1b\\\x1b]1;icon only\x07");
    EXPECT_EQ(s.titles.titles, (std::vector<std::string>{"first", "second \xc3\xa9"}));
    // Control characters never reach the caption; the title stack brings titles back.
    s.feed("\x1b[22;0t\x1b]2;vim\tfile\x07\x1b[23;0t");
    EXPECT_EQ(s.titles.titles.back(), "second \xc3\xa9");
    EXPECT_EQ(s.titles.titles[2], "vimfile");
    // BEL rings and is never drawn, in text or ending a title.
    s.feed("a\x07" "b");
    EXPECT_EQ(s.titles.bells, 1);
    EXPECT_EQ(s.utf8(0), "ab");
}

TEST(XtermParserTest, UnknownSequencesNeverReachTheScreen)
{
    Xterm s(40, 2);
    const std::string junk =
        "\x1b[1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;19;20;21;22;23;24;25;26;27;28;29;30;31;32;33;34z"
        "\x1b[?1000;1006h\x1b[>4;2m\x1b[=c\x1b[ q\x1b[!!!p\x1b[1:2:3;4$}"
        "\x1bP+q544e\x1b\\\x1bPzz\x07still dcs\x1b\\\x1b_apc\x1b\\\x1b^pm\x1b\\\x1bXsos\x1b\\"
        "\x1b]52;c;aGVsbG8=\x07\x1b]8;;http://x\x1b\\\x1b#3\x1b%G\x1b Fok";
    s.feed(junk);
    EXPECT_EQ(s.utf8(0), "ok");
    EXPECT_EQ(s.xterm().parserState(), XtermParser::State::Ground);
    // CAN abandons a sequence; an overlong OSC is dropped whole.
    s.feed("\x1b[12\x18" "A\x1b]2;" + std::string(5000, 't') + "\x07" "B");
    EXPECT_EQ(s.utf8(0), "okAB");
    EXPECT_TRUE(s.titles.titles.empty());
    // The same bytes one at a time give the same page.
    Xterm t(40, 2);
    t.feedBytewise(junk);
    EXPECT_EQ(t.utf8(0), "ok");
}

TEST(XtermKeys, ModesAndModifiers)
{
    Xterm s;
    KeyboardModes m = s.emulator.emulation()->keyboardModes();
    EXPECT_TRUE(m.utf8 && m.xtermKeys);
    EXPECT_FALSE(m.applicationCursor || m.bracketedPaste);
    s.feed("\x1b[?1h\x1b=\x1b[?2004h");
    m = s.emulator.emulation()->keyboardModes();
    EXPECT_TRUE(m.applicationCursor && m.applicationKeypad && m.bracketedPaste);

    XtermKeyboard keys; // the built-in record
    std::string out;
    KeyboardModes normal;
    normal.xtermKeys = true;
    ASSERT_TRUE(keys.translate(vkUp, false, false, false, normal, out));
    EXPECT_EQ(out, "\x1b[A");
    ASSERT_TRUE(keys.translate(vkUp, false, false, false, m, out));
    EXPECT_EQ(out, "\x1bOA");
    ASSERT_TRUE(keys.translate(vkUp, true, true, false, m, out)); // Ctrl+Shift
    EXPECT_EQ(out, "\x1b[1;6A");
    ASSERT_TRUE(keys.translate(vkF1, false, false, false, m, out));
    EXPECT_EQ(out, "\x1bOP");
    ASSERT_TRUE(keys.translate(vkF1, true, false, false, m, out));
    EXPECT_EQ(out, "\x1b[1;2P");
    ASSERT_TRUE(keys.translate(vkF1 + 4, false, false, true, m, out)); // Alt+F5
    EXPECT_EQ(out, "\x1b[15;3~");
    ASSERT_TRUE(keys.translate(vkDelete, false, true, false, m, out));
    EXPECT_EQ(out, "\x1b[3;5~");
    ASSERT_TRUE(keys.translate(9, true, false, false, m, out)); // Shift+Tab
    EXPECT_EQ(out, "\x1b[Z");
    EXPECT_FALSE(keys.translate('A', true, false, false, m, out));
}

TEST(XtermKeys, TheKeyMapGainsAndServesTheXtermRecord)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("zelvo-xkeys-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "old.kbd").string();
    {
        // A map from before the xterm emulation, with one record.
        KeyboardEmulator k;
        k.setMapFileName(path);
        k.setEnabled(true);
        k.newRecord();
        k.setMapping(vkUp, 14, "\x1b[A");
        k.saveRecord("ANSI");
    }
    XtermKeyboard keys;
    keys.load(path);
    EXPECT_TRUE(keys.loaded());
    {
        // The record is there now, editable like any other; an edit is what goes out.
        KeyboardEmulator k;
        k.setMapFileName(path);
        k.setEnabled(true);
        k.setEmulatorType(XtermKeyboard::kRecordName);
        EXPECT_EQ(k.mapping(vkF1 + 11, 14), "\x1b[24~");
        k.setMapping(vkF1 + 11, 14, "\x1b[99~");
        k.setMapping(vkF1 + 11, 12, "ctrl-f12");
        k.saveRecord(XtermKeyboard::kRecordName);
    }
    keys.load(path);
    std::string out;
    KeyboardModes m;
    ASSERT_TRUE(keys.translate(vkF1 + 11, false, false, false, m, out));
    EXPECT_EQ(out, "\x1b[99~");
    ASSERT_TRUE(keys.translate(vkF1 + 11, true, false, false, m, out));
    EXPECT_EQ(out, "\x1b[99;2~");
    ASSERT_TRUE(keys.translate(vkF1 + 11, false, true, false, m, out));
    EXPECT_EQ(out, "ctrl-f12");

    // The map shipped with the program holds the built-in record.
    XtermKeyboard shipped;
    shipped.load(std::string(ZELVO_SOURCE_DIR) + "/terminal/zelvo32.kbd");
    for (const KeyMapEntry& e : XtermKeyboard::defaultEntries()) {
        ASSERT_TRUE(shipped.translate(e.virtualKey, e.shiftCode == 6, false, false, m, out)) << e.virtualKey;
        EXPECT_EQ(out, e.mapping) << e.virtualKey;
    }
    fs::remove_all(dir);
}

TEST(EmulationTable, NamesAndTerminalTypes)
{
    // What a program on a local line is told, and what the tools are told, per emulation.
    const std::pair<EmulatorType, std::string_view> term[] = {
        {etNone, "dumb"}, {etANSI, "ansi"}, {etANSIBBS, "ansi"}, {etVT52, "vt52"}, {etVT100, "vt100"},
        {etXterm, "xterm-256color"}};
    for (const auto& [type, name] : term)
        EXPECT_EQ(terminalTypeName(type), name) << type;
    EXPECT_EQ(terminalTypeName(99), "dumb");
    EmulatorType t = etNone;
    EXPECT_TRUE(emulatorTypeFromName("xterm", t));
    EXPECT_EQ(t, etXterm);
    EXPECT_FALSE(emulatorTypeFromName("xterm-256color", t));
    EXPECT_EQ(t, etXterm);
}

TEST(XtermPage, ResizeKeepsTextAndWiderPagesAreAllowed)
{
    Xterm s(10, 4, 20);
    s.feed("1\r\n2\r\n3\r\n4");
    // Fewer rows: the rows above the cursor go into the scrollback.
    ASSERT_EQ(s.buffer.bResize(22, 10, 2), 0);
    EXPECT_EQ(s.page(), (Page{"3", "4"}));
    EXPECT_EQ(s.cursor(), std::make_pair(1, 1));
    // More rows take them back; the page may be wider than the byte planes allow.
    ASSERT_EQ(s.buffer.bResize(24, 200, 4), 0);
    EXPECT_EQ(s.page(), (Page{"1", "2", "3", "4"}));
    s.feed("\x1b[1;190H\t\t\x1b[18t");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 199));
    EXPECT_EQ(s.output.sent, "\x1b[8;4;200t");
    EXPECT_EQ(s.buffer.bResize(20000, 200, 4), kErrBufferSize);
    // Back to an emulation of the fixed page: the byte planes kept the text, within
    // their limits.
    s.emulator.setEmulatorType(etANSI);
    EXPECT_FALSE(s.buffer.unicode());
    EXPECT_EQ(s.buffer.Cols(), Buffer::kMaxCols);
    EXPECT_EQ(s.buffer.rowText(s.buffer.ViewRow()), "1");
    EXPECT_EQ(s.buffer.bResize(24, 200, 4), kErrBufferSize);
}

} // namespace
} // namespace zelvo::terminal::test
