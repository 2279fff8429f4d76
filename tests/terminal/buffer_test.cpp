// Screen buffer behaviour: writing and wrapping, the page moving through the buffer and
// the ring at its end, margins, clearing, tab stops, marking, blinking, notifications
// and capture.

#include "screen_fixture.h"
#include "terminal/terminal_errors.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <filesystem>
#include <unistd.h>

namespace zelvo::terminal::test {
namespace {

namespace fs = std::filesystem;

Screen rawScreen(int cols = 10, int pageRows = 3, int rows = 6)
{
    return Screen(etNone, cols, pageRows, rows);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A fresh directory per test, removed afterwards.
class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/zelvo-term-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

TEST(TermBufferShape, LimitsOfNewBuffer)
{
    Buffer b;
    EXPECT_EQ(b.bNewBuffer(200, 133, 25), 0);
    EXPECT_EQ(b.bNewBuffer(200, 134, 25), kErrBufferSize);
    EXPECT_EQ(b.Cols(), 133) << "a refused shape leaves the old buffer in place";
    EXPECT_EQ(b.bNewBuffer(500, 132, 25), kErrBufferSize);
    EXPECT_EQ(b.bNewBuffer(10, 80, 25), kErrBufferSize) << "fewer rows than the page";
    EXPECT_EQ(b.bNewBuffer(25, 0, 25), kErrBufferSize);
    EXPECT_EQ(b.bNewBuffer(819, 80, 25), 0) << "65520 cells fit";
    EXPECT_EQ(b.Rows(), 819);
}

TEST(TermBufferShape, FirstPageTakesCurrentColoursRestStartsAtZero)
{
    Buffer b;
    b.bSetColors(2, 1);
    ASSERT_EQ(b.bNewBuffer(10, 4, 3), 0);
    EXPECT_EQ(b.colorAt(0, 0), makeColor(2, 1));
    EXPECT_EQ(b.colorAt(2, 3), makeColor(2, 1));
    EXPECT_EQ(b.colorAt(3, 0), 0);
    EXPECT_EQ(b.charAt(9, 3), ' ');
}

TEST(TermBufferWriting, LastColumnWrapsAtOnce)
{
    Screen s = rawScreen(5, 3, 6);
    s.feed("abcde");
    EXPECT_EQ(s.cursor(), std::make_pair(1, 0)) << "the fifth character wraps immediately";
    s.feed("f");
    EXPECT_EQ(s.page(), (Page{"abcde", "f", ""}));
}

TEST(TermBufferWriting, BackspaceBlanksAndStopsAtColumnZero)
{
    Screen s = rawScreen();
    s.feed("\b");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 0));
    s.feed("hello\b");
    EXPECT_EQ(s.cursor(), std::make_pair(0, 4));
    EXPECT_EQ(s.line(0), "hell");
}

TEST(TermBufferWriting, ControlBytesAreGlyphsExceptMovements)
{
    Screen s = rawScreen();
    s.feed("\x07" "a\x1b\t");
    EXPECT_EQ(s.line(0), std::string("\x07" "a\x1b\t"));
    EXPECT_EQ(s.cursor(), std::make_pair(0, 4));
    s.feed("\rX\ny");
    EXPECT_EQ(s.page(), (Page{std::string("Xa\x1b\t"), " y", ""}));
}

TEST(TermBufferScrolling, PageMovesDownIntoScrollback)
{
    Screen s = rawScreen(10, 3, 6);
    s.feed("one\r\ntwo\r\nthree\r\nfour");
    EXPECT_EQ(s.buffer.ViewRow(), 1);
    EXPECT_EQ(s.page(), (Page{"two", "three", "four"}));
    EXPECT_EQ(s.buffer.rowText(0), "one") << "the top line went into the scrollback";
}

TEST(TermBufferScrolling, RingTurnsAtEndOfBufferAndLosesOldestRow)
{
    Screen s = rawScreen(10, 3, 6);
    for (int i = 0; i < 10; ++i)
        s.feed("line" + std::to_string(i) + "\r\n");
    s.feed("last");
    EXPECT_EQ(s.buffer.ViewRow(), 3) << "the page sits at the end of the buffer";
    EXPECT_EQ(s.page(), (Page{"line8", "line9", "last"}));
    EXPECT_EQ(s.buffer.rowText(0), "line5");
    EXPECT_EQ(s.buffer.rowText(2), "line7");
    EXPECT_EQ(s.cursor(), std::make_pair(2, 4));
}

TEST(TermBufferScrolling, NewLineRowTakesCurrentColoursAndAttribute)
{
    Screen s = rawScreen(4, 2, 2);
    s.buffer.bSetAttr(3, 4, atUnderline);
    s.feed("\n\n");
    EXPECT_EQ(s.color(1, 0), makeColor(3, 4));
    EXPECT_EQ(s.attr(1, 3), atUnderline);
}

TEST(TermBufferScrolling, RegionBelowPageTopScrollsInPlace)
{
    Screen s = rawScreen(10, 5, 10);
    s.feed("top\r\na\r\nb\r\nc\r\nbottom");
    ASSERT_TRUE(s.buffer.setMargins(2, 4));
    s.buffer.moveTo(3, 0);
    s.feed("\nnew");
    EXPECT_EQ(s.page(), (Page{"top", "b", "c", "new", "bottom"}));
    EXPECT_EQ(s.buffer.ViewRow(), 0) << "nothing entered the scrollback";
}

TEST(TermBufferScrolling, RegionAtPageTopKeepsRowsBelowInPlace)
{
    Screen s = rawScreen(10, 4, 6);
    s.feed("a\r\nb\r\nc\r\nstatus");
    ASSERT_TRUE(s.buffer.setMargins(1, 3));
    for (int i = 0; i < 5; ++i) {
        s.buffer.moveTo(2, 0);
        s.feed("\nn" + std::to_string(i));
    }
    EXPECT_EQ(s.page(), (Page{"n2", "n3", "n4", "status"}));
    EXPECT_EQ(s.buffer.rowText(s.buffer.ViewRow() - 1), "n1") << "scrolled lines are kept";
}

TEST(TermBufferScrolling, CursorBelowBottomMarginStaysOnLastRow)
{
    Screen s = rawScreen(10, 4, 6);
    ASSERT_TRUE(s.buffer.setMargins(1, 2));
    s.buffer.moveTo(3, 0);
    s.feed("x\n\n\ny");
    EXPECT_EQ(s.cursor(), std::make_pair(3, 2));
    EXPECT_EQ(s.buffer.ViewRow(), 0);
}

TEST(TermBufferClear, OldPageStaysReadableInScrollback)
{
    Screen s = rawScreen(10, 3, 12);
    s.feed("first\r\nsecond");
    s.buffer.bClearScreen();
    EXPECT_EQ(s.buffer.ViewRow(), 3);
    EXPECT_EQ(s.page(), (Page{"", "", ""}));
    EXPECT_EQ(s.cursor(), std::make_pair(0, 0));
    EXPECT_EQ(s.buffer.rowText(0), "first");
    EXPECT_EQ(s.buffer.rowText(1), "second");
}

TEST(TermBufferClear, NearEndOfBufferOldPageEndsRightAboveNewOne)
{
    Screen s = rawScreen(10, 3, 8);
    s.feed("a\r\nb\r\nc\r\nd\r\ne"); // page rows 2..4
    s.buffer.bClearScreen();
    EXPECT_EQ(s.buffer.ViewRow(), 5);
    EXPECT_EQ(s.buffer.rowText(2), "c");
    EXPECT_EQ(s.buffer.rowText(4), "e");
    s.buffer.bClearScreen();
    EXPECT_EQ(s.buffer.ViewRow(), 5);
    EXPECT_EQ(s.buffer.rowText(4), "") << "the cleared page is now the scrollback";
}

TEST(TermBufferClear, BufferWithoutScrollbackStillClears)
{
    Screen s = rawScreen(4, 3, 3);
    s.feed("abc\r\ndef");
    s.buffer.bClearScreen();
    EXPECT_EQ(s.buffer.ViewRow(), 0);
    EXPECT_EQ(s.page(), (Page{"", "", ""}));
}

TEST(TermBufferTabs, DefaultStopsAndSearches)
{
    Buffer b;
    ASSERT_EQ(b.bNewBuffer(25, 80, 25), 0);
    EXPECT_EQ(b.bGetNextTabStop(0, 1), 8);
    EXPECT_EQ(b.bGetNextTabStop(8, 1), 16);
    EXPECT_EQ(b.bGetNextTabStop(3, 2), 16);
    EXPECT_EQ(b.bGetNextTabStop(70, 5), 72) << "the last one found when fewer exist";
    EXPECT_EQ(b.bGetNextTabStop(75, 1), 75) << "stop 80 is not below Cols";
    EXPECT_EQ(b.bGetPrevTabStop(20, 1), 16);
    EXPECT_EQ(b.bGetPrevTabStop(20, 9), 8);
    EXPECT_EQ(b.bGetPrevTabStop(5, 1), 5);
}

TEST(TermBufferTabs, SetAndClearKeepSlotsSortedWithoutDuplicates)
{
    Buffer b;
    ASSERT_EQ(b.bNewBuffer(25, 80, 25), 0);
    b.bSetHorizontalTabStop(3);
    b.bSetHorizontalTabStop(3);
    b.bSetHorizontalTabStop(12);
    EXPECT_EQ(b.bGetNextTabStop(0, 1), 3);
    EXPECT_EQ(b.bGetNextTabStop(8, 1), 12);
    b.bClearHorizontalTabStop(8);
    EXPECT_EQ(b.bGetNextTabStop(3, 1), 12);
    const auto& tabs = b.horizontalTabs();
    EXPECT_TRUE(std::is_sorted(tabs.begin(), tabs.begin() + 11));
    EXPECT_EQ(tabs[11], 0);
    for (int v = 100; v < 140; ++v)
        b.bSetHorizontalTabStop(v); // more than the 25 slots hold
    EXPECT_EQ(tabs.size(), 25u);
}

TEST(TermBufferMarking, MarkedTextSpansRowsWithCrLf)
{
    Screen s = rawScreen(10, 3, 6);
    s.feed("abcdef\r\nghij\r\nklmnop");
    s.buffer.bStartMark(2, 2);
    s.buffer.bUpdateMarks(0, 3); // dragged upwards
    s.buffer.bFixMarking();
    EXPECT_TRUE(s.buffer.isMarked(1, 9));
    EXPECT_FALSE(s.buffer.isMarked(0, 2));
    EXPECT_EQ(s.buffer.markedText(), "def\r\nghij\r\nklm\r\n");
}

TEST(TermBufferMarking, OutputClearsMarkUnlessPersistent)
{
    Screen s = rawScreen();
    s.buffer.bStartMark(0, 0);
    s.feed("x");
    EXPECT_TRUE(s.buffer.hasMark());
    s.buffer.setPersistentMark(false);
    s.feed("y");
    EXPECT_FALSE(s.buffer.hasMark());
}

TEST(TermBufferBlink, OffPhaseShowsBackgroundAndOnPhaseRestores)
{
    Screen s = rawScreen();
    s.buffer.bSetAttr(2, 5, atBlink);
    s.feed("b");
    s.buffer.bSetAttr(2, 5, 0);
    s.feed("n");
    s.buffer.bSetBlinkPhase(false);
    EXPECT_EQ(s.color(0, 0), makeColor(5, 5));
    EXPECT_EQ(s.color(0, 1), makeColor(2, 5));
    s.buffer.bSetAttr(2, 5, atBlink);
    s.feed("c"); // written during the off phase
    EXPECT_EQ(s.color(0, 2), makeColor(5, 5));
    s.buffer.bSetBlinkPhase(true);
    EXPECT_EQ(s.color(0, 0), makeColor(2, 5));
    EXPECT_EQ(s.color(0, 2), makeColor(2, 5));
    EXPECT_EQ(s.buffer.storedColorAt(0, 0), makeColor(2, 5));
}

TEST(TermBufferNotifications, PaintReportsChangedCellsAndCursorStatus)
{
    Screen s = rawScreen(10, 3, 6);
    s.buffer.bNeedPaint();
    s.client.rects.clear();
    s.client.viewChanges = 0;
    s.client.status.clear();
    s.feed("ab");
    s.buffer.bNeedPaint();
    ASSERT_EQ(s.client.rects.size(), 1u);
    EXPECT_EQ(s.client.rects[0].top, 0);
    EXPECT_EQ(s.client.rects[0].left, 0);
    EXPECT_EQ(s.client.rects[0].right, 1);
    ASSERT_EQ(s.client.status.size(), 1u);
    EXPECT_EQ(s.client.status[0].row, 1);
    EXPECT_EQ(s.client.status[0].column, 3);
    EXPECT_EQ(s.client.status[0].viewRow, 1);
    s.buffer.bNeedPaint();
    EXPECT_EQ(s.client.status.size(), 1u) << "an unmoved cursor is not reported again";
    s.feed("\n\n\n");
    s.buffer.bNeedPaint();
    EXPECT_EQ(s.client.viewChanges, 1) << "the page moved";
    EXPECT_EQ(s.client.status.back().viewRow, 2);
}

TEST(TermBufferNotifications, ScrollbackModeReportsZeroAndRestoresDisplay)
{
    Screen s = rawScreen(10, 3, 12);
    for (int i = 0; i < 8; ++i)
        s.feed("l" + std::to_string(i) + "\r\n");
    s.buffer.bNeedPaint();
    const int top = s.buffer.displayTop();
    s.buffer.bSetScrollMode(true);
    EXPECT_EQ(s.client.status.back().row, 0);
    EXPECT_EQ(s.client.status.back().column, 0);
    s.buffer.bGotoTop();
    EXPECT_EQ(s.buffer.displayTop(), 0);
    s.buffer.bScroll(100, 0);
    EXPECT_EQ(s.buffer.displayTop(), top) << "not past the written part";
    s.buffer.bGotoTop();
    s.buffer.bSetScrollMode(false);
    EXPECT_EQ(s.buffer.displayTop(), top);
}

TEST(TermBufferNotifications, SmallDisplayFollowsCursorWithinPage)
{
    Screen s = rawScreen(10, 6, 12);
    s.buffer.setDisplaySize(2, 4);
    s.feed("\n\n\n1234567");
    s.buffer.bNeedPaint();
    EXPECT_EQ(s.buffer.displayTop(), 2);
    EXPECT_EQ(s.buffer.ViewCol(), 4);
    s.buffer.bClearScreen();
    s.buffer.bNeedPaint();
    EXPECT_EQ(s.buffer.displayTop(), s.buffer.ViewRow());
    EXPECT_EQ(s.buffer.ViewCol(), 0);
}

TEST(TermBufferCapture, RecordsEverythingWrittenAsTextLines)
{
    TempDir dir;
    Screen s = rawScreen();
    ASSERT_EQ(s.buffer.bSetCapture(true, false, dir.file("log.cap")), 0);
    s.feed("ab\bc\r\n\x07");
    EXPECT_EQ(readFile(dir.file("log.cap")), "") << "held in the 8192-byte buffer";
    ASSERT_EQ(s.buffer.bSetCapture(false, false, ""), 0);
    EXPECT_EQ(readFile(dir.file("log.cap")), "ab\bc\n\x07");
    ASSERT_EQ(s.buffer.bSetCapture(true, true, dir.file("log.cap")), 0);
    s.feed("more");
    ASSERT_EQ(s.buffer.bSetCapture(false, false, ""), 0);
    EXPECT_EQ(readFile(dir.file("log.cap")), "ab\bc\n\x07more");
    ASSERT_EQ(s.buffer.bSetCapture(true, false, dir.file("log.cap")), 0);
    s.feed("new");
    s.buffer.bFlushCapture();
    EXPECT_EQ(readFile(dir.file("log.cap")), "new") << "without Append the file starts again";
}

TEST(TermBufferCapture, OneLineBreakPerLineAndTabsAsTheirSpaces)
{
    TempDir dir;
    Screen s; // ANSI: the emulator moves the cursor for a tab
    // CR LF from a host, the CR CR LF a pseudo-terminal makes of it, and a lone CR that
    // starts a prompt: one line break each, no CR left in the file.
    ASSERT_EQ(s.buffer.bSetCapture(true, false, dir.file("lf.cap")), 0);
    s.feed("one\r\ntwo\r\r\n\r$ a\tb\t\tc\n");
    ASSERT_EQ(s.buffer.bSetCapture(false, false, ""), 0);
    EXPECT_EQ(readFile(dir.file("lf.cap")), "one\ntwo\n$ a     b       c\n");

    s.buffer.setCaptureLineEnds(true);
    ASSERT_EQ(s.buffer.bSetCapture(true, false, dir.file("crlf.cap")), 0);
    s.feed("x\r\r\ny\n");
    ASSERT_EQ(s.buffer.bSetCapture(false, false, ""), 0);
    EXPECT_EQ(readFile(dir.file("crlf.cap")), "x\r\ny\r\n");
}

TEST(TermBufferCapture, WritesInBlocksOf8192)
{
    TempDir dir;
    Screen s = rawScreen();
    ASSERT_EQ(s.buffer.bSetCapture(true, false, dir.file("big.cap")), 0);
    const std::string text(10000, 'x');
    s.feed(text);
    EXPECT_EQ(readFile(dir.file("big.cap")).size(), 8192u);
    s.buffer.bSetCapture(false, false, "");
    EXPECT_EQ(readFile(dir.file("big.cap")), text);
}

TEST(TermBufferCapture, EmptyNameMeansCaptureCap)
{
    TempDir dir;
    const fs::path old = fs::current_path();
    fs::current_path(dir.path);
    {
        Screen s = rawScreen();
        ASSERT_EQ(s.buffer.bSetCapture(true, false, ""), 0);
        s.feed("hi");
    } // closing the buffer flushes
    fs::current_path(old);
    EXPECT_EQ(readFile(dir.file("CAPTURE.CAP")), "hi");
}

TEST(TermBufferCapture, AppendCreatesMissingFileAndBadPathFails)
{
    TempDir dir;
    Screen s = rawScreen();
    EXPECT_EQ(s.buffer.bSetCapture(true, true, dir.file("new.cap")), 0);
    EXPECT_TRUE(s.buffer.capturing());
    s.buffer.bSetCapture(false, false, "");
    EXPECT_EQ(s.buffer.bSetCapture(true, false, dir.file("no/such/dir.cap")), -ENOENT);
    EXPECT_FALSE(s.buffer.capturing());
}

TEST(TermBufferCapture, DiskFullTurnsCaptureOffAndTellsTheWindow)
{
    if (::access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "/dev/full is not available";
    Screen s = rawScreen();
    ASSERT_EQ(s.buffer.bSetCapture(true, true, "/dev/full"), 0);
    s.feed(std::string(9000, 'z'));
    EXPECT_FALSE(s.buffer.capturing());
    ASSERT_EQ(s.client.captureErrors.size(), 1u);
    EXPECT_EQ(s.client.captureErrors[0], kErrDiskFull);
    EXPECT_EQ(s.line(0), std::string(10, 'z')) << "the display goes on";
    s.feed("more");
    EXPECT_EQ(s.client.captureErrors.size(), 1u);

    ASSERT_EQ(s.buffer.bSetCapture(true, true, "/dev/full"), 0);
    s.feed("short");
    EXPECT_EQ(s.buffer.bSetCapture(false, false, ""), kErrDiskFull)
        << "a failed last flush is returned as well as reported";
    EXPECT_EQ(s.client.captureErrors.size(), 2u);
}

} // namespace
} // namespace zelvo::terminal::test
