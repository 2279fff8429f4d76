// Emulations: what each recognises, what it ignores and what it writes, the graphic
// rendition, erase colours, save/restore, replies to the line and reports to the window.

#include "screen_fixture.h"
#include "terminal/escape_parser.h"

#include <gtest/gtest.h>

namespace zelvo::terminal::test {
namespace {

const std::string ESC = "\x1b";
const std::string CSI = "\x1b[";

TEST(TermEmulatorErase, AnsiEraseDisplayAndLine)
{
    Screen s(etANSI, 10, 3, 12);
    s.feed("aaaa\r\nbbbb\r\ncccc");
    s.feed(CSI + "2;3H" + CSI + "K");
    EXPECT_EQ(s.page(), (Page{"aaaa", "bb", "cccc"})) << "K erases to the end of the row only";
    s.feed(CSI + "1;2H" + CSI + "J");
    EXPECT_EQ(s.page(), (Page{"a", "", ""})) << "J erases from the cursor to the end";
    s.feed("x" + CSI + "2J");
    EXPECT_EQ(s.page(), (Page{"", "", ""}));
    EXPECT_EQ(s.buffer.rowText(0), "ax") << "2J keeps the old page in the scrollback";
}

TEST(TermEmulatorErase, LineModesOneAndTwo)
{
    Screen s(etVT100, 10, 3, 6);
    s.feed("abcdef" + CSI + "1;3H" + CSI + "1K");
    EXPECT_EQ(s.line(0), "   def");
    s.feed(CSI + "2K");
    EXPECT_EQ(s.line(0), "");
    s.feed("\rab\r\ncd\r\nef" + CSI + "2;2H" + CSI + "1J");
    EXPECT_EQ(s.page(), (Page{"", "", "ef"}));
}

TEST(TermEmulatorSgr, BoldBrightensAndStaysBright)
{
    Screen s(etANSI);
    s.feed(CSI + "1;31mA" + CSI + "22mB");
    EXPECT_EQ(s.color(0, 0), makeColor(9, 0));
    EXPECT_EQ(s.attr(0, 0), atBold);
    EXPECT_EQ(s.color(0, 1), makeColor(9, 0)) << "22 clears bold but not the bright colour";
    EXPECT_EQ(s.attr(0, 1), 0);
    s.feed(CSI + "32mC" + CSI + "0mD");
    EXPECT_EQ(s.color(0, 2), makeColor(2, 0));
    EXPECT_EQ(s.color(0, 3), makeColor(7, 0));
}

TEST(TermEmulatorSgr, ColoursAttributesAndUnknownValues)
{
    Screen s(etVT100);
    s.feed(CSI + "33;44;4;5;8mA" + CSI + "24;25;28;39m" + CSI + "49;99mB" + CSI + ";mC");
    EXPECT_EQ(s.buffer.storedColorAt(0, 0), makeColor(3, 4));
    EXPECT_EQ(s.attr(0, 0), atUnderline | atBlink | atInvisible);
    EXPECT_EQ(s.color(0, 1), makeColor(7, 0));
    EXPECT_EQ(s.attr(0, 1), 0);
    EXPECT_EQ(s.color(0, 2), makeColor(7, 0)) << "empty parameters count as 0";
}

TEST(TermEmulatorSgr, ReverseExchangesColoursOnWrite)
{
    Screen s(etANSI);
    s.feed(CSI + "31;42;7mR");
    EXPECT_EQ(s.color(0, 0), makeColor(2, 1));
    EXPECT_EQ(s.attr(0, 0), atReverse);
    s.feed(CSI + "27mN");
    EXPECT_EQ(s.color(0, 1), makeColor(1, 2));
}

TEST(TermEmulatorSgr, FirstByteResetsToDefaultRendition)
{
    Screen s(etANSI);
    s.buffer.bSetAttr(4, 6, atBold);
    s.feed("x");
    EXPECT_EQ(s.color(0, 0), makeColor(7, 0));
    EXPECT_EQ(s.attr(0, 0), 0);
}

TEST(TermEmulatorErase, ReverseEraseColoursDependOnEmulationAndCommand)
{
    const uint8_t reversed = makeColor(2, 1); // 31;42;7
    const uint8_t plain = makeColor(1, 2);
    {
        Screen s(etVT100, 10, 3, 12);
        s.feed(CSI + "31;42;7m" + CSI + "J");
        EXPECT_EQ(s.color(0, 0), plain) << "VT100 J uses the colours as chosen";
        s.feed(CSI + "K");
        EXPECT_EQ(s.color(0, 0), reversed) << "VT100 K uses the reversed colours";
        s.feed(CSI + "2J");
        EXPECT_EQ(s.color(2, 9), plain);
    }
    {
        Screen s(etANSI, 10, 3, 12);
        s.feed(CSI + "31;42;7m" + CSI + "K");
        EXPECT_EQ(s.color(0, 5), plain) << "ANSI K uses the colours as chosen";
        s.feed(CSI + "J");
        EXPECT_EQ(s.color(0, 5), reversed) << "ANSI J uses the reversed colours";
    }
    {
        Screen s(etANSI, 10, 3, 12);
        s.feed(CSI + "41m" + CSI + "X");
        EXPECT_EQ(s.color(0, 0), makeColor(7, 1));
        EXPECT_EQ(s.attr(0, 0), 0);
    }
}

TEST(TermEmulatorCursor, MovesStayInsideThePage)
{
    Screen s(etANSI, 80, 25, 200);
    s.feed(CSI + "1;79H" + CSI + "5C");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 78)) << "a move past the row does not happen";
    s.feed(CSI + "1C");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 79));
    s.feed(CSI + "99D");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 0));
    s.feed(CSI + "999;999H");
    EXPECT_EQ(s.cursor(), std::make_pair(24, 79));
    s.feed(CSI + "6n");
    EXPECT_EQ(s.output.sent, CSI + "25;80R") << "screen size probes see the page";
    s.feed(CSI + "99999A");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 79));
    s.feed(CSI + "99999B");
    EXPECT_EQ(s.cursor(), std::make_pair(24, 79));
    s.feed(CSI + "3;0H");
    EXPECT_EQ(s.cursor(), std::make_pair(2, 79)) << "a 0 leaves that coordinate";
    s.feed(CSI + "0;5f");
    EXPECT_EQ(s.cursor(), std::make_pair(2, 4));
    s.feed(CSI + "H");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 0));
}

TEST(TermEmulatorCursor, AnsiOnlyMoves)
{
    Screen s(etANSI, 20, 5, 10);
    s.feed(CSI + "3;5H" + CSI + "E");
    EXPECT_EQ(s.cursor(), std::make_pair(3, 0));
    s.feed("ab" + CSI + "2F");
    EXPECT_EQ(s.cursor(), std::make_pair(1, 0));
    s.feed(CSI + "7G");
    EXPECT_EQ(s.cursor(), std::make_pair(1, 6));
    s.feed(CSI + "3`");
    EXPECT_EQ(s.cursor(), std::make_pair(1, 2));
    s.feed(CSI + "4d");
    EXPECT_EQ(s.cursor(), std::make_pair(3, 2));
    s.feed(CSI + "2a" + CSI + "1e");
    EXPECT_EQ(s.cursor(), std::make_pair(4, 4));
    s.feed(CSI + "50G");
    EXPECT_EQ(s.cursor(), std::make_pair(4, 19));
}

TEST(TermEmulatorCursor, MovesRespectScrollingRegion)
{
    Screen s(etVT100, 20, 10, 20);
    s.feed(CSI + "3;6r");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 0)) << "margins home the cursor";
    s.feed(CSI + "4;1H" + CSI + "9A");
    EXPECT_EQ(s.cursor(), std::make_pair(2, 0)) << "not above the top margin";
    s.feed(CSI + "9B");
    EXPECT_EQ(s.cursor(), std::make_pair(5, 0)) << "not below the bottom margin";
    s.feed(CSI + "8;1H" + CSI + "9A");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 0)) << "outside the region only the page limits";
}

TEST(TermEmulatorMargins, OutOfRangeMarginsAreClampedOrRefused)
{
    Screen s(etVT100, 10, 5, 10);
    s.feed(CSI + "0;99r");
    EXPECT_EQ(s.buffer.TopMargin(), 1);
    EXPECT_EQ(s.buffer.BottomMargin(), 5);
    s.feed(CSI + "4;2r");
    EXPECT_EQ(s.buffer.TopMargin(), 1) << "a top below the bottom is refused";
    s.feed(CSI + "2;4r" + CSI + "r");
    EXPECT_EQ(s.buffer.TopMargin(), 1) << "ESC [ r resets the region";
    EXPECT_EQ(s.buffer.BottomMargin(), 5);
    s.feed(CSI + "99999;99999r" + CSI + "5;1H\n\n\nx");
    EXPECT_EQ(s.buffer.TopMargin(), 5);
    EXPECT_EQ(s.page()[4], "x");
}

TEST(TermEmulatorMargins, ScrollInsideRegionWithLineFeeds)
{
    Screen s(etVT100, 10, 5, 10);
    s.feed("head\r\n1\r\n2\r\n3\r\nfoot");
    s.feed(CSI + "2;4r" + CSI + "4;1H\nA\r\nB");
    EXPECT_EQ(s.page(), (Page{"head", "3", "A", "B", "foot"}));
}

TEST(TermEmulatorLines, InsertAndDeleteWithinMargins)
{
    Screen s(etANSI, 10, 5, 10);
    s.feed("a\r\nb\r\nc\r\nd\r\ne");
    s.feed(CSI + "2;1H" + CSI + "2L");
    EXPECT_EQ(s.page(), (Page{"a", "", "", "b", "c"}));
    s.feed(CSI + "3M");
    EXPECT_EQ(s.page(), (Page{"a", "c", "", "", ""}));
    s.feed(CSI + "99L");
    EXPECT_EQ(s.page(), (Page{"a", "", "", "", ""}));
}

TEST(TermEmulatorChars, InsertDeleteAndEraseCharacters)
{
    Screen s(etANSI, 10, 3, 6);
    s.feed("abcdefghi" + CSI + "1;3H" + CSI + "2@");
    EXPECT_EQ(s.line(0), "ab  cdefgh") << "cells pushed past the end are lost";
    s.feed(CSI + "3P");
    EXPECT_EQ(s.line(0), "abdefgh");
    s.feed(CSI + "2X");
    EXPECT_EQ(s.line(0), "ab  fgh");
    s.feed(CSI + "99P");
    EXPECT_EQ(s.line(0), "ab");
}

TEST(TermEmulatorPrivate, Vt100SwallowsPrivateModesAnsiWritesThem)
{
    Screen vt(etVT100);
    vt.feed("a" + CSI + "?25l" + CSI + "?1049h" + CSI + "?1;7hb" + CSI + "4l");
    EXPECT_EQ(vt.line(0), "ab");
    Screen ansi(etANSI);
    ansi.feed(CSI + "?25l");
    EXPECT_EQ(ansi.line(0), "25l");
    Screen vt2(etVT100);
    vt2.feed(CSI + "?25x");
    EXPECT_EQ(vt2.line(0), "x") << "an unknown private final is written";
}

TEST(TermEmulatorParser, SixParametersAreDroppedWithoutOutput)
{
    Screen s(etANSI);
    s.feed("a" + CSI + "1;2;3;4;5;6H" + "b");
    EXPECT_EQ(s.line(0), "ab");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 2));
    s.feed(CSI + "1;2;3;4;5m");
    EXPECT_EQ(s.buffer.currentAttr(), atBold | atUnderline | atBlink) << "five are fine";
}

TEST(TermEmulatorParser, UnknownFinalsAndEscapesAreWritten)
{
    Screen ansi(etANSI);
    ansi.feed(CSI + "5q" + ESC + "Y" + ESC + "M" + CSI + "r");
    EXPECT_EQ(ansi.line(0), "qYr") << "q and r are VT100 only; ESC M is ANSI no-op";
    Screen vt(etVT100);
    vt.feed(CSI + "2@" + ESC + "F" + ESC + "M" + ESC + "=" + CSI + "5s");
    EXPECT_EQ(vt.line(0), "@Fs");
}

TEST(TermEmulatorParser, CharsetDesignationIsSwallowedForKnownSets)
{
    Screen vt(etVT100);
    vt.feed(ESC + "(0a" + ESC + ")Bb" + ESC + "(Zc" + "\x0e\x0f");
    EXPECT_EQ(vt.line(0), "abZc");
    Screen ansi(etANSI);
    ansi.feed(ESC + "(B");
    EXPECT_EQ(ansi.line(0), "(B");
}

TEST(TermEmulatorParser, ByteByByteEqualsBlock)
{
    const std::string stream = "ab" + CSI + "1;3" + "1mred" + CSI + "2;5Hx" + ESC + "7" + CSI
                               + "10C" + ESC + "8y\r\n" + CSI + "?25l\tq" + CSI + "K";
    for (EmulatorType t : {etANSI, etVT100, etVT52, etANSIBBS, etNone}) {
        Screen a(t), b(t);
        a.feed(stream);
        b.feedBytewise(stream);
        EXPECT_EQ(a.page(), b.page()) << "type " << t;
        EXPECT_EQ(a.cursor(), b.cursor());
        for (int c = 0; c < 20; ++c)
            EXPECT_EQ(a.color(0, c), b.color(0, c));
    }
}

TEST(TermEmulatorNone, EscapeAndTabAreGlyphs)
{
    Screen s(etNone);
    EXPECT_EQ(s.buffer.emulator(), nullptr);
    s.feed(ESC + "[2J\t\x0c");
    EXPECT_EQ(s.line(0), "\x1b[2J\t\x0c");
}

TEST(TermEmulatorControls, TabFormFeedAndShifts)
{
    Screen s(etANSI, 40, 3, 12);
    s.feed("a\tb\x0e\x0f\tc");
    EXPECT_EQ(s.line(0), "a       b       c");
    s.feed("\t\t\t\t\t");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 32)) << "no stop past the last one below Cols";
    s.feed("\x0c");
    EXPECT_EQ(s.page(), (Page{"", "", ""}));
    EXPECT_EQ(s.buffer.ViewRow(), 3);
}

TEST(TermEmulatorSaveRestore, AnsiSavesCursorColoursAndAttribute)
{
    Screen s(etANSI);
    s.feed(CSI + "2;3H" + CSI + "1;32m" + CSI + "s" + CSI + "0m" + CSI + "4;9H" + CSI + "u" + "x");
    EXPECT_EQ(s.line(1), "  x");
    EXPECT_EQ(s.color(1, 2), makeColor(10, 0));
    EXPECT_EQ(s.attr(1, 2), atBold);
    s.feed(CSI + "31m" + CSI + "3;3H" + CSI + "u" + "y");
    EXPECT_EQ(s.line(0), "y") << "restoring without a save homes the cursor";
    EXPECT_EQ(s.color(0, 0), makeColor(7, 0));
}

TEST(TermEmulatorSaveRestore, Vt100RestoreWithoutSaveChangesNothing)
{
    Screen s(etVT100);
    s.feed(CSI + "3;4H" + CSI + "36m" + ESC + "7" + CSI + "H" + CSI + "0m" + ESC + "8" + "a");
    EXPECT_EQ(s.line(2), "   a");
    EXPECT_EQ(s.color(2, 3), makeColor(6, 0));
    s.feed(CSI + "H" + ESC + "8" + "b");
    EXPECT_EQ(s.line(0), "b");
    EXPECT_EQ(s.color(0, 0), makeColor(6, 0)) << "the colours stay too";
}

TEST(TermEmulatorReplies, DeviceAttributesAndPositionReports)
{
    Screen vt(etVT100, 80, 25, 100);
    vt.feed(CSI + "c" + ESC + "Z");
    EXPECT_EQ(vt.output.sent, CSI + "?1;0c" + CSI + "?1;0c");
    vt.output.sent.clear();
    vt.feed(CSI + "3;10H" + CSI + "6n" + CSI + "5n");
    EXPECT_EQ(vt.output.sent, CSI + "3;10R");

    Screen ansi(etANSI);
    ansi.feed(CSI + "c");
    EXPECT_EQ(ansi.output.sent, "") << "a missing parameter counts as 1";
    ansi.feed(CSI + "0c");
    EXPECT_EQ(ansi.output.sent, CSI + "?1;0c");

    Screen vt52(etVT52);
    vt52.feed(ESC + "Z");
    EXPECT_EQ(vt52.output.sent, "");
    EXPECT_EQ(vt52.line(0), "Z");
}

TEST(TermEmulatorReplies, PositionReportAfterPageMovedCountsFromPageTop)
{
    Screen s(etVT100, 10, 3, 20);
    s.feed("1\r\n2\r\n3\r\n4\r\n5" + CSI + "6n");
    EXPECT_EQ(s.output.sent, CSI + "3;2R");
}

TEST(TermEmulatorReplies, ReceivedPositionReportGoesToTheWindow)
{
    Screen s(etANSI);
    s.feed(CSI + "12;40R");
    ASSERT_EQ(s.client.reports.size(), 1u);
    EXPECT_EQ(s.client.reports[0], std::make_pair(40, 12));
    EXPECT_EQ(s.line(0), "");
}

TEST(TermEmulatorReplies, NoLineBoundDropsReplies)
{
    Screen s(etVT100);
    s.buffer.setLineOutput(nullptr);
    s.feed(CSI + "c" + CSI + "6n");
    EXPECT_EQ(s.line(0), "");
}

TEST(TermEmulatorTabs, AnsiTabControlAndClear)
{
    Screen s(etANSI, 40, 3, 6);
    s.feed(CSI + "1;4H" + ESC + "H" + CSI + "1;1H\t");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 4)) << "ESC H sets cursor column + 1";
    s.feed(CSI + "1;4H" + CSI + "0g" + CSI + "1;1H\t");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 8));
    s.feed(CSI + "3g" + CSI + "1;1H\t");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 8)) << "2/3 restore the default stops";
    s.feed(CSI + "1;11H" + CSI + "0W" + CSI + "1;9H" + CSI + "1I");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 11));
    s.feed(CSI + "2Z");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 8));
    s.feed(CSI + "1;11H" + CSI + "2W" + CSI + "1;9H\t");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 16));
    s.feed(CSI + "5W" + CSI + "1;1H" + CSI + "3I");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 24));
}

TEST(TermEmulatorTabs, VerticalStops)
{
    Screen s(etANSI, 20, 6, 12);
    s.feed(CSI + "4;1H" + ESC + "J" + CSI + "6;1H" + CSI + "1W" + CSI + "H" + CSI + "Y");
    EXPECT_EQ(s.cursor().first, 3);
    s.feed(CSI + "Y");
    EXPECT_EQ(s.cursor().first, 5);
    s.feed(CSI + "Y");
    EXPECT_EQ(s.cursor().first, 5) << "no further stop";
    s.feed(CSI + "6W" + CSI + "H" + CSI + "Y");
    EXPECT_EQ(s.cursor().first, 0);
}

TEST(TermEmulatorAnsiEscapes, IndexNextLineAndTabMove)
{
    Screen s(etANSI, 20, 3, 6);
    s.feed("ab" + ESC + "D" + "c" + ESC + "E" + "d");
    EXPECT_EQ(s.page(), (Page{"ab", "  c", "d"}));
    s.feed(ESC + "D" + ESC + "D");
    EXPECT_EQ(s.buffer.ViewRow(), 0) << "index moves like CUD and does not scroll";
    s.feed(CSI + "1;3H" + ESC + "I");
    EXPECT_EQ(s.line(0), "ab");
    s.feed(CSI + "2;2H" + ESC + "I");
    EXPECT_EQ(s.line(1), std::string(9, ' ') + "c") << "text moved to the next stop";
    s.feed(ESC + "c" + ESC + "\\" + ESC + "!");
    EXPECT_EQ(s.line(1), " !" + std::string(7, ' ') + "c");
}

TEST(TermEmulatorVt52, SingleByteEscapes)
{
    Screen s(etVT52, 10, 3, 12);
    s.feed("abc" + ESC + "D" + ESC + "D" + "X" + ESC + "B" + ESC + "C" + "Y" + ESC + "A" + "Z");
    EXPECT_EQ(s.page(), (Page{"aXc Z", "   Y", ""}));
    s.feed(ESC + "H" + ESC + "K");
    EXPECT_EQ(s.line(0), "");
    s.feed(ESC + "[" + ESC + "c" + "q");
    EXPECT_EQ(s.line(0), "[q");
    s.feed(ESC + "J");
    EXPECT_EQ(s.page(), (Page{"", "", ""}));
    EXPECT_EQ(s.buffer.ViewRow(), 3);
}

TEST(TermEmulatorComponent, ChangingTypeRebindsAndNoneUnbinds)
{
    Screen s(etANSI);
    s.emulator.setEmulatorType(etNone);
    EXPECT_EQ(s.buffer.emulator(), nullptr);
    s.feed(CSI + "1m");
    EXPECT_EQ(s.line(0), "\x1b[1m");
    s.emulator.setEmulatorType(etVT100);
    ASSERT_NE(s.buffer.emulator(), nullptr);
    EXPECT_EQ(s.emulator.core()->type(), etVT100);
    int seen = 0;
    s.emulator.setOnProcessChar([&](uint8_t) { ++seen; });
    s.feed("\r\n" + CSI + "?25l");
    EXPECT_EQ(seen, 8);
    EXPECT_EQ(s.line(1), "");
    s.emulator.setBuffer(nullptr);
    EXPECT_EQ(s.buffer.emulator(), nullptr);
}

TEST(TermEmulatorParserState, StatesAreNamedAndEndInGround)
{
    Screen s(etVT100);
    auto state = [&] { return s.emulator.core()->parserState(); };
    s.feed(ESC);
    EXPECT_EQ(state(), EscapeParser::State::Escape);
    s.feed("[1;2");
    EXPECT_EQ(state(), EscapeParser::State::CsiParam);
    s.feed(";3;4;5;6");
    EXPECT_EQ(state(), EscapeParser::State::CsiIgnore);
    s.feed("H" + ESC + "(");
    EXPECT_EQ(state(), EscapeParser::State::CharsetDesignate);
    s.feed("B" + CSI + "?");
    EXPECT_EQ(state(), EscapeParser::State::PrivateParam);
    s.feed("1h");
    EXPECT_EQ(state(), EscapeParser::State::Ground);
}

} // namespace
} // namespace zelvo::terminal::test
