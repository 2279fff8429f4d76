#include "app/main_form_logic.h"
#include "app/paste_queue.h"
#include "app/port_options_logic.h"

#include <gtest/gtest.h>

using namespace zelvo::app;

TEST(MainFormLogic, StatusPanelOfADirectPort)
{
    EXPECT_EQ(PortStatusText(2, 8, 0, 1, 57600), " COM2  8N1  57600");
    EXPECT_EQ(PortStatusText(12, 7, 2, 2, 300), " COM12  7E2  300");
    EXPECT_EQ(PortStatusText(1, 8, 4, 1, 115200), " COM1  8S1  115200");
}

TEST(MainFormLogic, LineMarkerAndTitleNameTheLineAndTheSession)
{
    EXPECT_EQ(LineMarkerText("", 37, "exec:/bin/bash -l", 57600, 8, 0, 1), "[COM37 exec:/bin/bash -l 57600 8N1]");
    EXPECT_EQ(LineMarkerText("lab", 5, "/dev/ttyUSB0", 9600, 7, 2, 2), "[lab: COM5 /dev/ttyUSB0 9600 7E2]");
    EXPECT_EQ(WindowTitleText(""), "Zelvo32");
    EXPECT_EQ(WindowTitleText("office"), "office - Zelvo32");
    EXPECT_EQ(WindowTitleText("office", "tester@box: ~"), "tester@box: ~ - office - Zelvo32");
    EXPECT_EQ(WindowTitleText("", "tester@box: ~"), "tester@box: ~ - Zelvo32");
}

TEST(MainFormLogic, WindowPlacement)
{
    // Either negative coordinate centres.
    EXPECT_EQ(PlaceWindow(-1, 200, 1000, 800, 600, 400), (Point{200, 200}));
    EXPECT_EQ(PlaceWindow(100, -1, 1000, 800, 600, 400), (Point{200, 200}));
    EXPECT_EQ(PlaceWindow(30, 40, 1000, 800, 600, 400), (Point{30, 40}));
    // A window larger than the screen goes to the corner, not off it.
    EXPECT_EQ(PlaceWindow(-1, -1, 500, 300, 600, 400), (Point{0, 0}));
    // A place on a monitor that is gone centres the window.
    EXPECT_EQ(PlaceWindow(3000, 40, 1000, 800, 600, 400), (Point{200, 200}));
}

TEST(MainFormLogic, LineListEntries)
{
    EXPECT_EQ(LineEntryText(5, "/dev/ttyUSB0"), "Direct to COM5 (/dev/ttyUSB0)");
    EXPECT_EQ(LineEntryText(37, ""), "Direct to COM37");
    EXPECT_EQ(LineEntryNumber("Direct to COM12"), 12);
    EXPECT_EQ(LineEntryNumber("Direct to COM3 (exec:/bin/bash -l)"), 3);
    EXPECT_EQ(LineEntryNumber("Hayes modem"), std::nullopt);
    EXPECT_EQ(LineEntryNumber("Direct to COM"), std::nullopt);
}

TEST(PortOptions, BaudRatesThatTheListLacks)
{
    PortOptionValues v;
    v.ComNumber = 2;
    // A rate the driver may set is shown and kept as an "Other:" rate.
    v.Baud = 14400;
    PortOptionControls c = ControlsFor(v);
    EXPECT_EQ(c.baudItem, kOtherBaudItem);
    EXPECT_EQ(c.otherBaudText, "14400");
    EXPECT_EQ(ApplyControls(v, c).Baud, 14400u);
    // One no line can run at shows 19200, which OK then stores.
    v.Baud = 5000000;
    c = ControlsFor(v);
    EXPECT_EQ(c.baudItem, 6);
    EXPECT_EQ(ApplyControls(v, c).Baud, 19200u);
    v.Baud = 115200;
    EXPECT_EQ(ControlsFor(v).baudItem, 9);
    // Typed rates: whole numbers from 50 to 4000000; anything else keeps the rate.
    c.baudItem = kOtherBaudItem;
    for (const char* text : {"921600", " 250000 ", "50", "4000000"}) {
        c.otherBaudText = text;
        EXPECT_EQ(ApplyControls(v, c).Baud, *ParseBaud(text)) << text;
    }
    for (const char* text : {"", "49", "4000001", "96OO", "-9600", "1e6", "99999999999"}) {
        c.otherBaudText = text;
        EXPECT_FALSE(ParseBaud(text)) << text;
        EXPECT_EQ(ApplyControls(v, c).Baud, 115200u) << text;
    }
    EXPECT_EQ(OtherBaudRates().front(), 230400u);
    EXPECT_EQ(OtherBaudRates().back(), 4000000u);
}

TEST(PortOptions, ControlsMapOntoTheSettings)
{
    PortOptionValues v;
    v.ComNumber = 1;
    PortOptionControls c = ControlsFor(v);
    c.parityItem = 3;
    c.dataBitsItem = 1;
    c.stopBitsItem = 1;
    c.dtrDsr = true;
    c.softwareReceive = true;
    c.xonText = "abc";
    c.xoffText = " 20 ";
    PortOptionValues r = ApplyControls(v, c);
    EXPECT_EQ(r.Parity, 3);
    EXPECT_EQ(r.DataBits, 7);
    EXPECT_EQ(r.StopBits, 2);
    EXPECT_TRUE(r.hwfUseDTR && r.hwfRequireDSR);
    EXPECT_FALSE(r.hwfUseRTS || r.hwfRequireCTS);
    EXPECT_EQ(r.SWFlowOptions, 1);
    EXPECT_EQ(r.XOnChar, 17);
    EXPECT_EQ(r.XOffChar, 20);
    c.softwareTransmit = true;
    c.xonText = "300";
    r = ApplyControls(v, c);
    EXPECT_EQ(r.SWFlowOptions, 3);
    EXPECT_EQ(r.XOnChar, 17);
    EXPECT_TRUE(ControlsFor(r).softwareTransmit && ControlsFor(r).softwareReceive);
    // The reconnect switch is on unless switched off, and taken as it is.
    EXPECT_TRUE(ControlsFor(v).reconnect);
    c.reconnect = false;
    EXPECT_FALSE(ApplyControls(v, c).Reconnect);
}

TEST(PortOptions, ChoosingALine)
{
    PortOptionValues v;
    v.Baud = 9600;
    ChooseLine(v, "Direct to COM12 (/dev/ttyUSB7)");
    EXPECT_EQ(v.TapiMode, 3u);
    EXPECT_EQ(v.ComNumber, 12);
    ChooseLine(v, "Office modem");
    EXPECT_EQ(v.TapiMode, 1u);
    EXPECT_EQ(v.ComNumber, 0);
    EXPECT_EQ(v.Device, "Office modem");
    PortOptionControls c = ControlsFor(v);
    c.baudItem = 0;
    EXPECT_EQ(ApplyControls(v, c).Baud, 9600u);
}

TEST(PasteQueue, LineBreaksGoOutAsEnterAndStretchesFollowTheRoom)
{
    EXPECT_EQ(PasteQueue::AsTyped("a\r\nb\nc\rd\r\n\n"), "a\rb\rc\rd\r\r");
    EXPECT_EQ(PasteQueue::AsTyped("no break"), "no break");

    PasteQueue q;
    q.add("abcdef");
    EXPECT_EQ(q.next(4), "abcd");
    q.advance(4);
    q.add("gh"); // a second paste follows the first
    EXPECT_EQ(q.next(100), "efgh");
    q.advance(2);
    EXPECT_EQ(q.sent(), 6u);
    q.cancel();
    EXPECT_FALSE(q.pending());
    EXPECT_EQ(q.next(10), "");
}

TEST(PasteQueue, StoppingABracketedPasteStillClosesIt)
{
    // Stopped inside the text: the end marker alone still goes out.
    PasteQueue q;
    q.add("\x1b[200~ls\rrm\r\x1b[201~");
    q.advance(9);
    q.cancel();
    EXPECT_EQ(q.next(100), "\x1b[201~");
    // Stopped inside the start marker: it is finished and closed at once.
    PasteQueue cut;
    cut.add("\x1b[200~ls\x1b[201~");
    cut.advance(3);
    cut.cancel();
    EXPECT_EQ(cut.next(100), "00~\x1b[201~");
    // Stopped inside the end marker: only its rest.
    PasteQueue end;
    end.add("\x1b[200~ls\x1b[201~");
    end.advance(11);
    end.cancel();
    EXPECT_EQ(end.next(100), "01~");
    // Not started, or plain text: nothing is left.
    PasteQueue idle;
    idle.add("\x1b[200~ls\x1b[201~");
    idle.cancel();
    EXPECT_FALSE(idle.pending());
    PasteQueue plain;
    plain.add("ls\r");
    plain.advance(1);
    plain.cancel();
    EXPECT_FALSE(plain.pending());
}

TEST(PortOptions, ControlsThatCannotBeUsedAreNamed)
{
    PortOptionControls c;
    EXPECT_TRUE(CheckControls(c).empty());
    c.xonText = "256";
    c.xoffText = "";
    auto problems = CheckControls(c);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].field, ControlProblem::XonChar);
    EXPECT_EQ(problems[1].field, ControlProblem::XoffChar);
    c.xonText = c.xoffText = "19";
    EXPECT_TRUE(CheckControls(c).empty());
    c.softwareTransmit = true;
    ASSERT_EQ(CheckControls(c).size(), 1u);
}
