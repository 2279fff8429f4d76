// The status window and the options dialog, offscreen.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "protocols/ui/meter.h"
#include "protocols/ui/protocol_options.h"
#include "protocols/ui/protocol_status.h"
#include "protocols/ui/standard_display.h"

using namespace zelvo::protocols;

namespace {
QApplication& app()
{
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    static QApplication a(argc, argv);
    return a;
}
} // namespace

TEST(ProtocolOptionsDialog, RoundTripAndNonNumericFields)
{
    app();
    Protocol main;
    main.setProtocolType(ptZmodem);
    main.setZmodemFileOption(zfoWriteClobber);
    main.setKermitMaxLen(90);
    main.setWriteFailAction(wfWriteFail);
    ProtocolOptions dlg;
    EXPECT_EQ(dlg.windowTitle(), "Protocol Options");
    dlg.Load(main, true);
    EXPECT_EQ(dlg.zFileManagment->currentIndex(), 4);
    EXPECT_EQ(dlg.zFileManagment->currentText(), "overwrite");
    EXPECT_EQ(dlg.gWriteFail->currentText(), "reject ");
    EXPECT_EQ(dlg.kBlockLen->text(), "90");
    EXPECT_TRUE(dlg.ZmodemAutoDetect());

    dlg.kBlockLen->setText("abc");
    dlg.z8K->setChecked(true);
    dlg.zFileManagment->setCurrentIndex(2); // "CRC different" is not taken
    dlg.sEOFTimeout->setText("99");
    dlg.Save(main);
    EXPECT_EQ(main.KermitMaxLen(), 0u);
    EXPECT_TRUE(main.Zmodem8K());
    EXPECT_EQ(main.ZmodemFileOption(), zfoWriteClobber);
    EXPECT_EQ(main.AsciiEOFTimeout(), 99u);
    // Kermit keeps at most 1024-byte packets and 27 window slots.
    dlg.kBlockLen->setText("2000");
    dlg.kWindows->setText("40");
    dlg.kTimeout->setText("9");
    dlg.Save(main);
    EXPECT_EQ(main.KermitMaxLen(), 1024u);
    EXPECT_EQ(main.KermitMaxWindows(), 27u);
    EXPECT_EQ(main.KermitTimeoutSecs(), 9u);
    EXPECT_EQ(ProtocolOptions::NumberFromText(" 12 "), 12u);
    EXPECT_EQ(ProtocolOptions::NumberFromText("-3"), 0u);

    // Resume is kept as it is, and not offered where it was not set.
    main.setWriteFailAction(wfWriteResume);
    dlg.Load(main, false);
    EXPECT_EQ(dlg.gWriteFail->currentText(), "resume ");
    dlg.Save(main);
    EXPECT_EQ(main.WriteFailAction(), wfWriteResume);
    main.setWriteFailAction(wfWriteAnyway);
    dlg.Load(main, false);
    EXPECT_EQ(dlg.gWriteFail->count(), 4);
    EXPECT_EQ(dlg.gWriteFail->currentText(), "overwrite ");
}

TEST(StatusWindow, ShownOnFirstRefreshedAndHiddenOnLast)
{
    app();
    Protocol p;
    p.setProtocolType(ptZmodem);
    ProtocolStatus status(p);
    p.setStatusDisplay(&status);
    status.UpdateDisplay(true, false);
    ASSERT_NE(status.Display(), nullptr);
    EXPECT_TRUE(status.Display()->isVisible());
    EXPECT_EQ(status.Display()->windowTitle(), "Protocol Status");
    EXPECT_EQ(status.Display()->psProtocol->text(), "Zmodem");
    EXPECT_EQ(status.Display()->psCancel->text(), "Cancel");
    status.UpdateDisplay(false, false);
    status.UpdateDisplay(false, true);
    EXPECT_FALSE(status.Display()->isVisible());

    Meter m;
    EXPECT_EQ(m.Min(), 0);
    EXPECT_EQ(m.Max(), 100);
    EXPECT_EQ(m.Step(), 8);
    m.setPosition(150);
    EXPECT_EQ(m.Position(), 100);
}
