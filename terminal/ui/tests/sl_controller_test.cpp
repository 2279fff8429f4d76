// The status light controller on a port whose far end is a pseudo-terminal peer.

#include "comm/ui/sl_controller.h"

#include "comm/com_port.h"
#include "comm/port_table.h"
#include "comm/ui/qt_ui_bridge.h"
#include "comm/ui/status_light.h"
#include "platform/registry_store.h"
#include "terminal/ui/tests/pty_peer.h"

#include <QImage>
#include <QTest>
#include <gtest/gtest.h>

namespace zelvo::comm {
namespace {

constexpr int kWaitMs = 10000;

struct LightRig {
    terminal::test::PtyPeer peer;
    QtUiBridge bridge;
    platform::RegistryStore store{"/nonexistent/zelvo-test.reg"};
    ComPort port{bridge};
    StatusLight rxd, txd, cts, dsr, dcd, ring, error, brk;
    SLController controller;
    // The main window's own handler: reads every announced byte.
    int availCalls = 0;
    size_t bytesRead = 0;
    bool mainReads = true;

    LightRig()
    {
        SetPortDevice(store, 9, peer.slavePath());
        port.setRegistryStore(&store);
        port.setComNumber(9);
        port.setAutoOpen(false);
        port.setPromptForPort(false);
        port.setOnTriggerAvail([this](ComPort& p, uint16_t count) {
            ++availCalls;
            if (!mainReads) return;
            uint8_t buf[8192];
            bytesRead += p.GetBlock(buf, count);
        });
    }
    ~LightRig()
    {
        controller.setComPort(nullptr);
        port.setOpen(false);
    }
    LightSet all()
    {
        LightSet s;
        s.RXDLight = &rxd;
        s.TXDLight = &txd;
        s.CTSLight = &cts;
        s.DSRLight = &dsr;
        s.DCDLight = &dcd;
        s.RINGLight = &ring;
        s.ERRORLight = &error;
        s.BREAKLight = &brk;
        return s;
    }
    void attach(const LightSet& s)
    {
        controller.setLights(s);
        controller.setComPort(&port);
    }
};

TEST(StatusLight, DefaultsAndPainting)
{
    StatusLight l;
    EXPECT_FALSE(l.Lit());
    EXPECT_EQ(l.LitColor(), QColor(0xFF, 0, 0));
    EXPECT_EQ(l.NotLitColor(), QColor(0, 0x80, 0));
    l.resize(13, 13);
    const QImage off = l.grab().toImage();
    EXPECT_EQ(QColor(off.pixel(7, 8)).green() > QColor(off.pixel(7, 8)).red(), true);
    l.setLit(true);
    const QImage on = l.grab().toImage();
    EXPECT_GT(QColor(on.pixel(7, 8)).red(), QColor(on.pixel(7, 8)).green());
    // A glyph of two halves: the left one while lit, the right one while not.
    QImage g(8, 4, QImage::Format_RGB32);
    g.fill(Qt::blue);
    for (int y = 0; y < 4; ++y)
        for (int x = 4; x < 8; ++x) g.setPixel(x, y, qRgb(255, 255, 0));
    l.setGlyph(QPixmap::fromImage(g));
    EXPECT_EQ(l.sizeHint(), QSize(4, 4));
    l.resize(4, 4);
    EXPECT_EQ(l.grab().toImage().pixel(1, 1) & 0xFFFFFF, 0x0000FFu);
    l.setLit(false);
    EXPECT_EQ(l.grab().toImage().pixel(1, 1) & 0xFFFFFF, 0xFFFF00u);
}

TEST(SLController, DefaultsAndTriggersOnlyForAssignedLights)
{
    LightRig rig;
    EXPECT_EQ(rig.controller.ErrorOffTimeout(), 36u);
    EXPECT_EQ(rig.controller.BreakOffTimeout(), 36u);
    EXPECT_EQ(rig.controller.RXDOffTimeout(), 1u);
    EXPECT_EQ(rig.controller.TXDOffTimeout(), 1u);
    EXPECT_EQ(rig.controller.RingOffTimeout(), 8u);
    rig.port.setOpen(true);

    LightSet noRing = rig.all();
    noRing.RINGLight = nullptr;
    rig.attach(noRing);
    ASSERT_TRUE(rig.controller.Monitoring());
    auto h = rig.controller.TriggerHandles();
    EXPECT_NE(h.modem, 0);
    EXPECT_EQ(h.ringTimer, 0);
    EXPECT_NE(h.error, 0);
    EXPECT_NE(h.brk, 0);
    EXPECT_NE(h.rxTimer, 0);
    EXPECT_NE(h.outSent, 0);

    LightSet rxOnly;
    rxOnly.RXDLight = &rig.rxd;
    rig.controller.setLights(rxOnly);
    h = rig.controller.TriggerHandles();
    EXPECT_EQ(h.modem, 0);
    EXPECT_EQ(h.error, 0);
    EXPECT_EQ(h.outSent, 0);
    EXPECT_NE(h.rxTimer, 0);

    rig.controller.setLights(rig.all());
    EXPECT_NE(rig.controller.TriggerHandles().ringTimer, 0);
}

TEST(SLController, ModemLightsShowTheLineStates)
{
    LightRig rig;
    rig.port.setOpen(true);
    rig.attach(rig.all());
    // A pseudo-terminal has no modem lines and reports CTS, DSR and DCD on.
    EXPECT_TRUE(rig.cts.Lit());
    EXPECT_TRUE(rig.dsr.Lit());
    EXPECT_TRUE(rig.dcd.Lit());
    EXPECT_FALSE(rig.ring.Lit());
    EXPECT_FALSE(rig.rxd.Lit());
}

TEST(SLController, ReceiveLightGoesOnWithDataAndOffWhenTheInputIsEmpty)
{
    LightRig rig;
    rig.port.setOpen(true);
    rig.attach(rig.all());
    rig.peer.write("data");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.rxd.Lit(); }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.rxd.Lit(); }, kWaitMs));
    EXPECT_EQ(rig.bytesRead, 4u);

    // Bytes that nobody reads keep it on; reading them lets it go out.
    rig.mainReads = false;
    rig.peer.write("waiting");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.rxd.Lit(); }, kWaitMs));
    QTest::qWait(400); // several hold times
    EXPECT_TRUE(rig.rxd.Lit());
    uint8_t buf[16];
    EXPECT_EQ(rig.port.GetBlock(buf, sizeof buf), 7u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.rxd.Lit(); }, kWaitMs));
}

TEST(SLController, MainWindowAvailHandlerStillRunsOncePerNotification)
{
    LightRig rig;
    int notifications = 0;
    rig.port.setOnTrigger([&](ComPort&, uint16_t msg, uint16_t, uint16_t) {
        if (msg == MsgTriggerAvail) ++notifications;
    });
    rig.port.setOpen(true);
    rig.attach(rig.all());
    std::string sent;
    for (int i = 0; i < 20; ++i) {
        const std::string chunk = "chunk " + std::to_string(i) + "\r\n";
        sent += chunk;
        rig.peer.write(chunk);
        QTest::qWait(5);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.bytesRead == sent.size(); }, kWaitMs));
    QTest::qWait(100);
    EXPECT_GT(notifications, 0);
    EXPECT_EQ(rig.availCalls, notifications);
    EXPECT_EQ(rig.bytesRead, sent.size());
}

TEST(SLController, TransmitLightFollowsOutput)
{
    LightRig rig;
    rig.port.setOpen(true);
    rig.attach(rig.all());
    rig.port.PutText("ATZ\r");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.txd.Lit(); }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.txd.Lit(); }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        rig.peer.poll();
        return rig.peer.received() == "ATZ\r";
    }, kWaitMs));
    // The output-sent trigger was armed again: the next output lights it again.
    rig.port.PutText("x");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.txd.Lit(); }, kWaitMs));
}

TEST(SLController, MonitoringSurvivesCloseAndReopen)
{
    LightRig rig;
    rig.attach(rig.all()); // bound while closed: starts at the open
    EXPECT_FALSE(rig.controller.Monitoring());
    rig.port.setOpen(true);
    EXPECT_TRUE(rig.controller.Monitoring());
    EXPECT_TRUE(rig.dcd.Lit());
    rig.port.PutText("x");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.txd.Lit(); }, kWaitMs));
    rig.port.setOpen(false);
    EXPECT_FALSE(rig.controller.Monitoring());
    EXPECT_EQ(rig.controller.TriggerHandles().rxTimer, 0);
    // A closed line shows no states.
    for (StatusLight* l : {&rig.cts, &rig.dsr, &rig.dcd, &rig.txd, &rig.rxd})
        EXPECT_FALSE(l->Lit());
    // The close may finish after a notification in flight; the open follows it then.
    rig.port.setOpen(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.controller.Monitoring(); }, kWaitMs));
    rig.peer.write("again");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.rxd.Lit(); }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.bytesRead == 5; }, kWaitMs));
}

TEST(SLController, SwitchingMonitoringOffGivesThePortItsHandlersBack)
{
    LightRig rig;
    rig.port.setOpen(true);
    rig.attach(rig.all());
    rig.controller.setMonitoring(false);
    EXPECT_FALSE(rig.controller.Monitoring());
    rig.peer.write("plain");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.bytesRead == 5; }, kWaitMs));
    EXPECT_FALSE(rig.rxd.Lit());
    rig.controller.setMonitoring(true);
    rig.peer.write("lit");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.rxd.Lit(); }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.bytesRead == 8; }, kWaitMs));
}

} // namespace
} // namespace zelvo::comm
