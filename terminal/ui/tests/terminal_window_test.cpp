// The terminal window against a pseudo-terminal peer: the port opens the slave side of a
// pty pair (mapped to a port number in a private port table), the test plays the far end
// on the master side.

#include "terminal/ui/terminal_window.h"

#include "comm/com_port.h"
#include "comm/port_table.h"
#include "comm/ui/qt_ui_bridge.h"
#include "platform/registry_store.h"
#include "terminal/emulator.h"
#include "terminal/keyboard_emulator.h"
#include "terminal/ui/tests/pty_peer.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QScreen>
#include <QWheelEvent>
#include <QTest>
#include <gtest/gtest.h>

namespace zelvo::terminal {
namespace {

using test::PtyPeer;

constexpr int kComNumber = 7;
constexpr int kWaitMs = 10000;

// A window bound to an open port whose far end is `peer`.
struct Rig {
    PtyPeer peer;
    comm::QtUiBridge bridge;
    platform::RegistryStore store{"/nonexistent/zelvo-test.reg"};
    comm::ComPort port{bridge};
    Emulator emulator{etANSI};
    TerminalWindow term;

    Rig()
    {
        comm::SetPortDevice(store, kComNumber, peer.slavePath());
        port.setRegistryStore(&store);
        port.setComNumber(kComNumber);
        port.setAutoOpen(false);
        port.setPromptForPort(false);
        term.setComPort(&port);
        term.setEmulator(&emulator);
        term.setDisplayRows(25);
        term.setDisplayColumns(80);
        port.setOpen(true);
    }
    ~Rig()
    {
        term.setComPort(nullptr);
        port.setOpen(false);
    }

    std::string row(int r) const { return term.buffer().rowText(term.buffer().ViewRow() + r); }

    bool waitForRow(int r, const std::string& text)
    {
        return QTest::qWaitFor([&] { return row(r) == text; }, kWaitMs);
    }
    // Waits until the peer has received `n` bytes (or the time is up).
    bool waitForPeer(size_t n)
    {
        return QTest::qWaitFor([&] {
            peer.poll();
            return peer.received().size() >= n;
        }, kWaitMs);
    }
};

TEST(TerminalWindow, PublishedDefaults)
{
    TerminalWindow t;
    EXPECT_TRUE(t.Active());
    EXPECT_EQ(t.ScrollBars(), TerminalWindow::ssNone);
    EXPECT_EQ(t.AutoScroll(), TerminalWindow::asNone);
    EXPECT_EQ(t.IntegralSize(), TerminalWindow::isBoth);
    EXPECT_FALSE(t.Scrollback());
    EXPECT_EQ(t.Rows(), 200);
    EXPECT_EQ(t.Columns(), 80);
    EXPECT_EQ(t.PageHeight(), 25);
    EXPECT_EQ(t.DisplayRows(), 15);
    EXPECT_EQ(t.DisplayColumns(), 40);
    EXPECT_EQ(t.CaptureFile(), "QARN.CAP");
    EXPECT_EQ(t.Capture(), TerminalWindow::cmOff);
    EXPECT_TRUE(t.WantTabs());
    EXPECT_EQ(t.BlinkTime(), 550);
    EXPECT_TRUE(t.PersistentMark());
    EXPECT_FALSE(t.HalfDuplex());
    EXPECT_EQ(t.ComPort(), nullptr);
    EXPECT_EQ(t.GetEmulator(), nullptr);
    EXPECT_EQ(t.KeyBoardEmu(), nullptr);
}

TEST(TerminalWindow, TextFromThePeerAppearsInTheBuffer)
{
    Rig rig;
    ASSERT_TRUE(rig.port.Open());
    rig.peer.write("hello\r\nworld \x1b[1;31mred\x1b[0m");
    ASSERT_TRUE(rig.waitForRow(1, "world red"));
    EXPECT_EQ(rig.row(0), "hello");
    const Buffer& b = rig.term.buffer();
    EXPECT_EQ(b.colorAt(b.ViewRow() + 1, 6) & 0x0F, 9); // bright red
    EXPECT_EQ(rig.term.bytesShown(), 27u);
}

TEST(TerminalWindow, PaintsRunsInThePaletteColours)
{
    Rig rig;
    rig.term.show();
    rig.peer.write("\x1b[44m    \x1b[0m\x1b[42mXXXX");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.term.bytesShown() == 22; }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.term.paintPending(); }, kWaitMs));
    const QImage img = rig.term.viewport()->grab().toImage();
    const int cw = rig.term.renderer().cellWidth(), ch = rig.term.renderer().cellHeight();
    // A cell of the blue run, and the top-left pixel of the green run (background only).
    EXPECT_EQ(img.pixel(cw / 2, 1) & 0xFFFFFF, 0x000080u);
    EXPECT_EQ(img.pixel(4 * cw, 0) & 0xFFFFFF, 0x008000u);
    // Black default background after the text.
    EXPECT_EQ(img.pixel(20 * cw, ch * 3) & 0xFFFFFF, 0x000000u);
}

// A window with the xterm emulation.
struct XtermRig : Rig {
    XtermRig() { emulator.setEmulatorType(etXterm); }
    // Types a key and returns what the peer got, once it has as many bytes as `want`.
    std::string sent(const std::string& want, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier,
                     const QString& text = {})
    {
        peer.clear();
        if (text.isEmpty())
            QTest::keyClick(&term, key, mods);
        else
            QTest::sendKeyEvent(QTest::Click, &term, key, text, mods);
        waitForPeer(want.size());
        return peer.received();
    }
};

// Sends text and checks that what the window has on the screen, after its moved rows and
// partial repaints, is exactly what a fresh paint of the buffer gives.
void sendAndCompareScreen(Rig& rig, std::string& sent, const std::string& text, int step)
{
    sent += text;
    rig.peer.write(text);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.term.bytesShown() == sent.size(); }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.term.paintPending(); }, kWaitMs));
    QTest::qWait(20); // the paint that the last flush asked for
    QWidget* vp = rig.term.viewport();
    const QRect area(vp->mapTo(&rig.term, QPoint(0, 0)), vp->size());
    const QImage onScreen = rig.term.screen()->grabWindow(rig.term.winId()).toImage()
                                .copy(area).convertToFormat(QImage::Format_RGB32);
    const QImage fresh = vp->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(onScreen.size(), fresh.size());
    // The edge of a glyph that reaches into the next cell may differ where cells were
    // drawn one at a time, so the two outer pixel columns on each side of a cell are
    // left out; a wrong or misplaced row differs in the middle of its cells too.
    const int ch = rig.term.renderer().cellHeight(), cw = rig.term.renderer().cellWidth();
    auto strong = [](QRgb a, QRgb b) {
        return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                         std::abs(qBlue(a) - qBlue(b))}) > 0xA0;
    };
    for (int y = 0; y < fresh.height(); ++y)
        for (int x = 0; x < fresh.width(); ++x) {
            if (x % cw < 2 || x % cw >= cw - 2)
                continue;
            ASSERT_FALSE(strong(onScreen.pixel(x, y), fresh.pixel(x, y))) << "row " << y / ch << " after step " << step;
        }
}

// While text scrolls the window moves pixels up instead of drawing rows again. `letters`
// are the characters the lines are made of.
void checkScrollingMatchesTheBuffer(Rig& rig, const std::vector<std::string>& letters)
{
    // A steady caret: a blink between the last paint and the grabs would differ.
    rig.term.setBlinkTime(0);
    rig.term.move(0, 0);
    rig.term.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&rig.term));
    std::string sent;
    for (int burst = 0; burst < 12; ++burst) {
        // Lines of short runs in changing colours (a long run of text may drift from the
        // cell grid by the font's fractional advance, which is not what this is about).
        std::string text;
        for (int i = 0; i < 3 + burst % 4; ++i) {
            for (int j = 0; j <= (burst * 3 + i) % 9; ++j)
                text += "\x1b[3" + std::to_string(1 + (burst + i + j) % 6) + "m" + std::to_string(burst)
                        + letters[size_t(j) % letters.size()];
            text += "\x1b[0m\r\n";
        }
        // A status line kept on the last row, as full-screen programs draw one.
        text += "\x1b[s\x1b[25;1H\x1b[7m" + std::to_string(burst) + "\x1b[0m\x1b[u";
        sendAndCompareScreen(rig, sent, text, burst);
        if (testing::Test::HasFatalFailure())
            return;
    }
    // A row rewritten in place with other letters as the page moves on.
    sendAndCompareScreen(rig, sent, "\x1b[2;1H" + letters[0] + letters[0] + "\x1b[999;1H", 12);
    if (testing::Test::HasFatalFailure())
        return;
    sendAndCompareScreen(rig, sent, "\x1b[2;1H" + letters[1] + letters[1] + "\x1b[999;1H\r\n", 13);
}

TEST(TerminalWindow, ScrollingTextOnScreenMatchesTheBuffer)
{
    Rig rig;
    checkScrollingMatchesTheBuffer(rig, {"a", "b", "c", "d", "e", "f", "g", "h", "i"});
}

TEST(TerminalWindow, EmulatorRepliesGoToThePeer)
{
    Rig rig;
    rig.peer.write("\r\n\r\n  \x1b[6n");
    ASSERT_TRUE(rig.waitForPeer(6));
    EXPECT_EQ(rig.peer.received(), "\x1b[3;3R");
}

TEST(TerminalWindow, TypedKeysReachThePeer)
{
    Rig rig;
    rig.term.setFocus();
    QTest::keyClicks(&rig.term, "ls");
    QTest::keyClick(&rig.term, Qt::Key_Return);
    QTest::keyClick(&rig.term, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(&rig.term, Qt::Key_Backspace);
    QTest::keyClick(&rig.term, Qt::Key_Tab);
    QTest::keyClick(&rig.term, Qt::Key_Up); // no key map: sends nothing
    ASSERT_TRUE(rig.waitForPeer(6));
    QTest::qWait(50);
    rig.peer.poll();
    EXPECT_EQ(rig.peer.received(), "ls\r\x03\b\t");
    // Without half duplex nothing typed is shown until the far end echoes it.
    EXPECT_EQ(rig.row(0), "");
}

TEST(TerminalWindow, InactiveWindowSendsNoTypedKeys)
{
    Rig rig;
    rig.term.setFocus();
    rig.term.setActive(false);
    QTest::keyClicks(&rig.term, "xy");
    rig.term.SendText("pasted");
    rig.term.setActive(true);
    QTest::keyClick(&rig.term, 'z');
    ASSERT_TRUE(rig.waitForPeer(1));
    QTest::qWait(50);
    rig.peer.poll();
    EXPECT_EQ(rig.peer.received(), "z");
}

TEST(TerminalWindow, HalfDuplexShowsTypedKeysOnce)
{
    Rig rig;
    rig.term.setHalfDuplex(true);
    QTest::keyClick(&rig.term, 'A');
    ASSERT_TRUE(rig.waitForPeer(1));
    QTest::qWait(50);
    rig.peer.poll();
    EXPECT_EQ(rig.peer.received(), "A");
    EXPECT_EQ(rig.row(0), "A");
    EXPECT_EQ(rig.term.buffer().column(), 1);
}

// A key map of its own in a scratch directory, with F1, Delete and the letter A mapped.
struct KeyMapRig : Rig {
    KeyboardEmulator keyboard;
    KeyMapRig()
    {
        char dir[] = "/tmp/zelvo-kbd-XXXXXX";
        if (!mkdtemp(dir)) return;
        keyboard.setMapFileName(std::string(dir) + "/zelvo32.kbd");
        keyboard.setEnabled(true);
        keyboard.setMapping(112, 14, "\x1bOP");       // F1
        keyboard.setMapping(112, 6, "\x1bO2P");       // Shift+F1
        keyboard.setMapping(46, 14, "\x1b[3~");       // Delete, a key without a character
        keyboard.setMapping('A', 14, "<A>");
        keyboard.saveRecord("VT100");
        term.setKeyBoardEmu(&keyboard);
    }
};

TEST(TerminalWindow, KeyMapTranslationsReplaceKeysAndCharacters)
{
    KeyMapRig rig;
    ASSERT_TRUE(rig.keyboard.Enabled());
    QTest::keyClick(&rig.term, Qt::Key_F1);
    QTest::keyClick(&rig.term, Qt::Key_F1, Qt::ShiftModifier);
    QTest::keyClick(&rig.term, Qt::Key_F2); // no entry: nothing
    QTest::keyClick(&rig.term, Qt::Key_Delete);
    QTest::keyClick(&rig.term, 'a');        // mapped letter: the mapping instead of "a"
    QTest::keyClick(&rig.term, 'b');        // no entry: the character itself
    const std::string want = "\x1bOP\x1bO2P\x1b[3~<A>b";
    ASSERT_TRUE(rig.waitForPeer(want.size()));
    QTest::qWait(50);
    rig.peer.poll();
    EXPECT_EQ(rig.peer.received(), want);

    // With ProcessAllKeys off the letter mapping is not used; with ProcessExtended off
    // function keys are left alone.
    rig.peer.clear();
    rig.keyboard.setProcessAllKeys(false);
    rig.keyboard.setProcessExtended(false);
    QTest::keyClick(&rig.term, 'a');
    QTest::keyClick(&rig.term, Qt::Key_F1);
    ASSERT_TRUE(rig.waitForPeer(1));
    QTest::qWait(50);
    rig.peer.poll();
    EXPECT_EQ(rig.peer.received(), "a");
}

TEST(TerminalWindow, KeyMapTranslationWithHalfDuplexIsShownToo)
{
    KeyMapRig rig;
    rig.term.setHalfDuplex(true);
    QTest::keyClick(&rig.term, 'a');
    ASSERT_TRUE(rig.waitForPeer(3));
    QTest::qWait(50);
    rig.peer.poll();
    EXPECT_EQ(rig.peer.received(), "<A>");
    EXPECT_EQ(rig.row(0), "<A>");
}

TEST(TerminalWindow, WheelAndShiftPageKeysScrollTheHistoryAndComeBack)
{
    Rig rig;
    rig.term.show();
    std::vector<bool> changes;
    rig.term.setOnScrollbackChange([&](TerminalWindow& t, bool on) {
        EXPECT_EQ(t.Scrollback(), on);
        changes.push_back(on);
    });
    std::string lines;
    for (int i = 0; i < 60; ++i)
        lines += "history " + std::to_string(i) + "\r\n";
    rig.peer.write(lines);
    ASSERT_TRUE(rig.waitForRow(24, ""));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.term.bytesShown() == lines.size(); }, kWaitMs));
    const int live = rig.term.buffer().displayTop();
    QWidget* vp = rig.term.viewport();
    auto wheel = [&](int delta) {
        QWheelEvent e(QPointF(10, 10), vp->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(vp, &e);
    };
    // Wheel down on the live page does nothing; a notch up shows three older rows.
    wheel(-120);
    EXPECT_FALSE(rig.term.Scrollback());
    wheel(120);
    EXPECT_TRUE(rig.term.Scrollback());
    EXPECT_EQ(rig.term.buffer().displayTop(), live - 3);
    // What arrives meanwhile waits; back down at the live page it is shown.
    rig.peer.write("while reading\r\n");
    QTest::qWait(100);
    EXPECT_EQ(rig.term.buffer().displayTop(), live - 3);
    wheel(-120);
    EXPECT_FALSE(rig.term.Scrollback());
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.row(23) == "while reading"; }, kWaitMs));

    // Shift+Page Up and Down page through the history; they never reach the line.
    QTest::keyClick(&rig.term, Qt::Key_PageUp, Qt::ShiftModifier);
    EXPECT_TRUE(rig.term.Scrollback());
    EXPECT_LT(rig.term.buffer().displayTop(), live);
    QTest::keyClick(&rig.term, Qt::Key_PageDown, Qt::ShiftModifier);
    EXPECT_FALSE(rig.term.Scrollback());
    EXPECT_EQ(changes, (std::vector<bool>{true, false, true, false}));
    QTest::qWait(50);
    rig.peer.poll();
    EXPECT_EQ(rig.peer.received(), "");
}

TEST(TerminalWindow, LocalLineGetsARowOfItsOwnAndIsNotSent)
{
    Rig rig;
    rig.peer.write("\x1b[31mprompt$ ");
    ASSERT_TRUE(rig.waitForRow(0, "prompt$"));
    rig.term.ShowLocalLine("[COM7 /dev/pts/9 57600 8N1]");
    EXPECT_EQ(rig.row(1), "[COM7 /dev/pts/9 57600 8N1]");
    EXPECT_EQ(rig.term.buffer().column(), 0);
    EXPECT_EQ(rig.term.buffer().row() - rig.term.buffer().ViewRow(), 2);
    rig.peer.write("next");
    ASSERT_TRUE(rig.waitForRow(2, "next"));
    rig.peer.poll();
    EXPECT_EQ(rig.peer.received(), "");
}

TEST(TerminalWindow, XtermLocalLineIsShownWithoutItsControlCharacters)
{
    XtermRig rig;
    rig.peer.write("prompt$ ");
    ASSERT_TRUE(rig.waitForRow(0, "prompt$"));
    rig.term.ShowLocalLine("[lab\x1b[2J: COM7 /dev/pts/9 57600 8N1]");
    const Buffer& b = rig.term.buffer();
    EXPECT_EQ(b.rowUtf8(b.ViewRow() + 1), "[lab[2J: COM7 /dev/pts/9 57600 8N1]");
    EXPECT_EQ(b.rowUtf8(b.ViewRow()), "prompt$");
    EXPECT_EQ(b.column(), 0);
}

TEST(TerminalWindow, KeyPressHandlerSeesAndCanSwallowCharacters)
{
    Rig rig;
    std::string seen;
    rig.term.setOnKeyPress([&](TerminalWindow&, char& c) {
        seen += c;
        if (c == 'x') c = 0;
        if (c == 'y') c = 'z';
    });
    QTest::keyClicks(&rig.term, "axy");
    QTest::keyClick(&rig.term, Qt::Key_F5); // not a character: the handler is not called
    ASSERT_TRUE(rig.waitForPeer(2));
    QTest::qWait(50);
    rig.peer.poll();
    EXPECT_EQ(seen, "axy");
    EXPECT_EQ(rig.peer.received(), "az");
}

TEST(TerminalWindow, ScrollbackHoldsDataBackAndShowsAllOfItOnLeaving)
{
    Rig rig;
    std::string before;
    for (int i = 0; i < 60; ++i) before += "before " + std::to_string(i) + "\r\n";
    rig.peer.write(before);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.term.bytesShown() == before.size(); }, kWaitMs));
    const Buffer& b = rig.term.buffer();
    rig.term.setScrollback(true);
    ASSERT_TRUE(rig.term.Scrollback());
    std::string lots;
    for (int i = 0; i < 300; ++i) lots += "line " + std::to_string(i) + "\r\n";
    rig.peer.write(lots);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.term.heldBytes() == lots.size(); }, kWaitMs));
    EXPECT_EQ(rig.term.bytesShown(), before.size());
    EXPECT_EQ(b.rowText(b.row() - 1), "before 59");
    // The scroll bar covers the buffer; keys move the view instead of going to the line.
    EXPECT_EQ(rig.term.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    const int top = b.displayTop();
    QTest::keyClick(&rig.term, Qt::Key_PageUp);
    EXPECT_LT(b.displayTop(), top);
    QTest::keyClick(&rig.term, Qt::Key_A);
    QTest::qWait(50);
    rig.peer.poll();
    EXPECT_EQ(rig.peer.received(), "");

    rig.term.setScrollback(false);
    EXPECT_EQ(rig.term.heldBytes(), 0u);
    EXPECT_EQ(rig.term.bytesShown(), before.size() + lots.size());
    EXPECT_EQ(b.rowText(b.row() - 1), "line 299");
    EXPECT_EQ(rig.term.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST(TerminalWindow, KeyPressHandlerEndingScrollbackLetsTheKeyThrough)
{
    Rig rig;
    rig.term.setScrollback(true);
    rig.term.setOnKeyPress([&](TerminalWindow& t, char&) {
        if (t.Scrollback()) t.setScrollback(false);
    });
    QTest::keyClick(&rig.term, Qt::Key_PageUp); // moves the view, not a character
    EXPECT_TRUE(rig.term.Scrollback());
    QTest::keyClick(&rig.term, 'q');
    EXPECT_FALSE(rig.term.Scrollback());
    ASSERT_TRUE(rig.waitForPeer(1));
    EXPECT_EQ(rig.peer.received(), "q");
}

TEST(TerminalWindow, CopyingThreeMarkedRowsGivesThreeLines)
{
    Rig rig;
    rig.term.show();
    rig.peer.write("first row\r\nsecond row\r\nthird row");
    ASSERT_TRUE(rig.waitForRow(2, "third row"));
    const int cw = rig.term.renderer().cellWidth(), ch = rig.term.renderer().cellHeight();
    QWidget* vp = rig.term.viewport();
    QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, QPoint(6 * cw + 1, ch / 2));
    QTest::mouseMove(vp, QPoint(3 * cw, ch + ch / 2));
    QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, QPoint(4 * cw + 1, 2 * ch + ch / 2));
    rig.term.CopyToClipboard();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "row\r\nsecond row\r\nthird\r\n");

    // A plain click clears the mark and marks nothing; Copy then leaves the clipboard.
    QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, QPoint(2 * cw + 1, ch / 2));
    EXPECT_FALSE(rig.term.buffer().hasMark());
    rig.term.CopyToClipboard();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "row\r\nsecond row\r\nthird\r\n");
    // A drag straight from press to release, without moves between, still marks.
    QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, QPoint(0, ch + ch / 2));
    QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, QPoint(5 * cw + 1, ch + ch / 2));
    rig.term.CopyToClipboard();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "second\r\n");
}

TEST(TerminalWindow, CaptureWritesWhatWasShown)
{
    Rig rig;
    char dir[] = "/tmp/zelvo-capture-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/zelvo.log";
    rig.term.setCaptureFile(file);
    rig.term.setCapture(TerminalWindow::cmOn);
    ASSERT_EQ(rig.term.Capture(), TerminalWindow::cmOn);
    rig.peer.write("captured\r\nab\bc");
    ASSERT_TRUE(rig.waitForRow(1, "ac"));
    rig.term.setCapture(TerminalWindow::cmOff);
    auto slurp = [&] {
        std::ifstream in(file, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    };
    EXPECT_EQ(slurp(), "captured\nab\bc");
    // Append continues the file; On starts it afresh.
    rig.term.setCapture(TerminalWindow::cmAppend);
    rig.peer.write("+more");
    ASSERT_TRUE(rig.waitForRow(1, "ac+more"));
    rig.term.setCapture(TerminalWindow::cmOff);
    EXPECT_EQ(slurp(), "captured\nab\bc+more");
    rig.term.setCapture(TerminalWindow::cmOn);
    rig.term.setCapture(TerminalWindow::cmOff);
    EXPECT_EQ(slurp(), "");
}

TEST(TerminalWindow, CaptureToAnUnwritablePlaceReportsAnErrorAndStaysOff)
{
    Rig rig;
    int error = 0;
    rig.term.setOnTerminalError([&](TerminalWindow&, int code) { error = code; });
    rig.term.setCaptureFile("/nonexistent-dir/x/capture.log");
    rig.term.setCapture(TerminalWindow::cmOn);
    EXPECT_EQ(rig.term.Capture(), TerminalWindow::cmOff);
    ASSERT_TRUE(QTest::qWaitFor([&] { return error != 0; }, kWaitMs));
    EXPECT_LT(error, 0);
}

TEST(TerminalWindow, InactiveWindowReadsNothingAndReopeningKeepsItActive)
{
    Rig rig;
    rig.term.setActive(false);
    rig.peer.write("hidden");
    QTest::qWait(200);
    EXPECT_EQ(rig.row(0), "");
    EXPECT_EQ(rig.term.bytesShown(), 0u);
    rig.term.setActive(true);
    rig.peer.write("\r\nshown");
    ASSERT_TRUE(rig.waitForRow(1, "shown"));

    rig.port.setOpen(false);
    EXPECT_FALSE(rig.term.Active());
    rig.port.setOpen(true);
    // A close that met a running notification finishes first; the open follows it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.port.State() == comm::ComPort::psOpen; }, kWaitMs));
    EXPECT_TRUE(rig.term.Active());
    rig.peer.write("\r\nagain");
    ASSERT_TRUE(rig.waitForRow(2, "again"));
    // The content survived the close.
    EXPECT_EQ(rig.row(1), "shown");

    // A window that was inactive at the close stays inactive after the reopen.
    rig.term.setActive(false);
    rig.port.setOpen(false);
    rig.port.setOpen(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.port.State() == comm::ComPort::psOpen; }, kWaitMs));
    EXPECT_FALSE(rig.term.Active());
}

TEST(TerminalWindow, StatusEventReportsTheCursor)
{
    Rig rig;
    int row = -1, col = -1;
    rig.term.setOnTerminalStatus([&](TerminalWindow&, uint8_t r, uint8_t c, uint16_t, uint16_t) {
        row = r;
        col = c;
    });
    rig.peer.write("\r\n\r\nabc");
    ASSERT_TRUE(QTest::qWaitFor([&] { return row == 3 && col == 4; }, kWaitMs));
}

TEST(TerminalWindow, IntegralSizeSnapsToWholeCells)
{
    TerminalWindow t;
    t.setTerminalFont("Terminal", -18);
    const int cw = t.renderer().cellWidth(), ch = t.renderer().cellHeight();
    const QSize s = t.integralSize(QSize(10 * cw + cw / 2 + 1, 5 * ch + ch - 1));
    EXPECT_EQ(s, QSize(10 * cw, 5 * ch));
    t.setIntegralSize(TerminalWindow::isHeight);
    EXPECT_EQ(t.integralSize(QSize(10 * cw + 3, 5 * ch + 3)), QSize(10 * cw + 3, 5 * ch));
    t.setIntegralSize(TerminalWindow::isNone);
    EXPECT_EQ(t.integralSize(QSize(123, 45)), QSize(123, 45));
    // The window shows as many whole cells as fit.
    t.setIntegralSize(TerminalWindow::isBoth);
    t.show();
    t.resize(20 * cw + 5, 7 * ch + 5);
    QTest::qWait(20);
    EXPECT_EQ(t.DisplayColumns(), 20);
    EXPECT_EQ(t.DisplayRows(), 7);
    EXPECT_EQ(t.size(), QSize(20 * cw, 7 * ch));
}

TEST(TerminalWindow, ScrollBarsFollowScrollBarsAndAutoScroll)
{
    TerminalWindow t;
    t.setDisplayRows(25);
    t.setDisplayColumns(80);
    t.ForcePaint();
    EXPECT_EQ(t.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(t.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    t.setScrollBars(TerminalWindow::ssBoth);
    EXPECT_EQ(t.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(t.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    t.setScrollBars(TerminalWindow::ssNone);
    // Automatic bars only where the buffer exceeds the window: 80 columns fit, a page
    // of 25 rows does not fit in 10.
    t.setAutoScroll(TerminalWindow::asBoth);
    EXPECT_EQ(t.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    t.setDisplayRows(10);
    t.ForcePaint();
    EXPECT_EQ(t.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    t.setDisplayColumns(40);
    t.ForcePaint();
    EXPECT_EQ(t.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST(TerminalWindow, UnknownFontFallsBackToAFixedPitchFontOfTheSameHeight)
{
    TerminalWindow t;
    t.setTerminalFont("No Such Font Zelvo", -18);
    const QFont& f = t.renderer().font();
    EXPECT_EQ(f.pixelSize(), 18);
    EXPECT_TRUE(QFontInfo(f).fixedPitch());
    EXPECT_GE(t.renderer().cellHeight(), 18);
}

TEST(TerminalWindow, BlinkingCellsFlipOnTheirOwnAndTheTimerRestsWithoutThem)
{
    // Without focus (no caret to blink) and with nothing blinking, the timer rests with
    // the text shown.
    Rig rig;
    rig.term.setFocusPolicy(Qt::NoFocus);
    rig.term.show();
    rig.term.clearFocus();
    rig.term.setBlinkTime(60);
    rig.peer.write("plain:");
    ASSERT_TRUE(rig.waitForRow(0, "plain:"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.term.blinkRunning(); }, kWaitMs));
    EXPECT_TRUE(rig.term.buffer().blinkOn());
    // Blinking text wakes it; only the blinking cell flips.
    rig.peer.write("\x1b[5mB\x1b[0m");
    ASSERT_TRUE(rig.waitForRow(0, "plain:B"));
    const Buffer& b = rig.term.buffer();
    const int r = b.ViewRow();
    const uint8_t stored = b.storedColorAt(r, 6);
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.colorAt(r, 6) != stored; }, kWaitMs));
    EXPECT_EQ(b.colorAt(r, 6) & 0x0F, (b.colorAt(r, 6) >> 4) & 0x0F); // foreground hidden
    EXPECT_EQ(b.colorAt(r, 2), b.storedColorAt(r, 2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.colorAt(r, 6) == stored; }, kWaitMs));
    EXPECT_TRUE(rig.term.blinkRunning());
}

// ---- The xterm emulation in the window ------------------------------------------------

TEST(TerminalWindow, XtermScrollingTextOnScreenMatchesTheBuffer)
{
    // Greek letters all stand as '?' in the byte planes: rows that differ only in them
    // must still be told apart when the page moves.
    XtermRig rig;
    checkScrollingMatchesTheBuffer(rig, {"\xce\xb1", "\xce\xb2", "\xce\xb3", "\xce\xb4", "\xce\xb5"});
}

TEST(TerminalWindow, XtermPageFollowsTheWindowAndGoesBackAfterwards)
{
    XtermRig rig;
    const Buffer& b = rig.term.buffer();
    EXPECT_TRUE(b.unicode());
    EXPECT_EQ(b.PageHeight(), 25);
    EXPECT_EQ(b.Cols(), 80);
    rig.peer.write("top line\r\n");
    ASSERT_TRUE(rig.waitForRow(0, "top line"));
    // A larger window: more rows and columns, the scrollback of 175 rows kept, the text
    // kept, and the far side told the size it asks for.
    rig.term.show();
    rig.term.resize(rig.term.width() + 70 * rig.term.renderer().cellWidth(),
                    rig.term.height() + 5 * rig.term.renderer().cellHeight());
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.Cols() == 150; }, kWaitMs));
    EXPECT_EQ(b.PageHeight(), 30);
    EXPECT_EQ(b.Rows(), 205);
    EXPECT_EQ(rig.row(0), "top line");
    rig.peer.write("\x1b[18t");
    ASSERT_TRUE(rig.waitForPeer(10));
    EXPECT_EQ(rig.peer.received(), "\x1b[8;30;150t");
    // Another emulation takes the configured page again.
    rig.emulator.setEmulatorType(etANSI);
    EXPECT_FALSE(b.unicode());
    EXPECT_EQ(b.Cols(), 80);
    EXPECT_EQ(b.PageHeight(), 25);
    EXPECT_EQ(b.Rows(), 200);
}

TEST(TerminalWindow, XtermKeysFollowTheModes)
{
    XtermRig rig;
    rig.term.setFocus();
    EXPECT_EQ(rig.sent("\x1b[A", Qt::Key_Up), "\x1b[A");
    EXPECT_EQ(rig.sent("\x1b[1;5A", Qt::Key_Up, Qt::ControlModifier), "\x1b[1;5A");
    EXPECT_EQ(rig.sent("\x1b[15;2~", Qt::Key_F5, Qt::ShiftModifier), "\x1b[15;2~");
    EXPECT_EQ(rig.sent("\x7f", Qt::Key_Backspace), "\x7f");
    EXPECT_EQ(rig.sent("\x1bx", Qt::Key_X, Qt::AltModifier, "x"), "\x1bx");
    EXPECT_EQ(rig.sent("\xc3\xa9", Qt::Key_Eacute, Qt::NoModifier, QStringLiteral("\u00e9")), "\xc3\xa9");
    EXPECT_EQ(rig.sent("\xe2\x82\xac", Qt::Key_unknown, Qt::NoModifier, QStringLiteral("\u20ac")), "\xe2\x82\xac");
    // Application cursor keys once the far side asks for them.
    rig.peer.write("\x1b[?1h");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.term.bytesShown() == 5; }, kWaitMs));
    EXPECT_EQ(rig.sent("\x1bOA", Qt::Key_Up), "\x1bOA");
    EXPECT_EQ(rig.sent("\x1bOH", Qt::Key_Home), "\x1bOH");
}

TEST(TerminalWindow, XtermTitleBellPasteAndCopy)
{
    std::vector<std::string> titles;
    XtermRig rig;
    rig.term.setOnTitle([&](TerminalWindow&, const std::string& t) { titles.push_back(t); });
    rig.term.setBellStyle(TerminalWindow::bsVisual);
    rig.peer.write("\x1b]0;host: ~\x07\xe4\xb8\xad\xc3\xa9\x07\x07\x07");
    const Buffer& shown = rig.term.buffer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.rowUtf8(shown.ViewRow()) == "\xe4\xb8\xad\xc3\xa9"; }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.term.bellCount() > 0; }, kWaitMs));
    EXPECT_EQ(titles, (std::vector<std::string>{"host: ~"}));
    // Three bells at once ring once; the page flashes and comes back.
    EXPECT_EQ(rig.term.bellCount(), 1u);
    EXPECT_TRUE(rig.term.flashing());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !rig.term.flashing(); }, kWaitMs));
    // Pastes are UTF-8, bracketed once asked for, and cannot end the bracket early.
    EXPECT_EQ(rig.term.pasteBytes(QStringLiteral("a\u00e9")), "a\xc3\xa9");
    rig.peer.write("\x1b[?2004h");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.term.pasteBytes("x").size() > 1; }, kWaitMs));
    EXPECT_EQ(rig.term.pasteBytes(QStringLiteral("ls\x1b[201~rm")), "\x1b[200~lsrm\x1b[201~");
    // Copying gives the characters back.
    Buffer& b = rig.term.buffer();
    b.bStartMark(b.ViewRow(), 0);
    b.bUpdateMarks(b.ViewRow(), 5);
    rig.term.CopyToClipboard();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("\u4e2d\u00e9\r\n"));
    // Leaving the emulation takes the title away.
    rig.emulator.setEmulatorType(etVT100);
    EXPECT_EQ(titles.back(), "");
}

TEST(TerminalWindow, AnsiBbsDrawsCodePage437)
{
    EXPECT_EQ(ScreenRenderer::cp437Glyph(0xC4).unicode(), 0x2500);  // box drawing
    EXPECT_EQ(ScreenRenderer::cp437Glyph(0xDB).unicode(), 0x2588);  // full block
    EXPECT_EQ(ScreenRenderer::cp437Glyph(0x01).unicode(), 0x263A);  // smiling face
    EXPECT_EQ(ScreenRenderer::glyphFor(0xC4).unicode(), 0x00C4);    // other emulations: Latin-1
    Rig rig;
    rig.emulator.setEmulatorType(etANSIBBS);
    rig.term.show();
    rig.peer.write("\xdb\xdb\xdb");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.term.bytesShown() == 3; }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.term.paintPending(); }, kWaitMs));
    const QImage img = rig.term.viewport()->grab().toImage();
    const int cw = rig.term.renderer().cellWidth(), ch = rig.term.renderer().cellHeight();
    // The middle of a full block shows the text colour, not the background.
    EXPECT_EQ(img.pixel(cw + cw / 2, ch / 2) & 0xFFFFFF, 0xC0C0C0u);
}

} // namespace
} // namespace zelvo::terminal
