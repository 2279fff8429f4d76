#include "test_home.h"
#include "app/ui/key_map_editor.h"
#include "app/ui/main_form.h"
#include "app/ui/port_options_dialog.h"
#include "app/paste_queue.h"
#include "app/transfer_line.h"
#include "app/ui/paste_controller.h"
#include "app/ui/rfs_statistic.h"
#include "app/ui/user_prompts.h"
#include "app/ui/terminal_window_access.h"
#include "terminal/emulator.h"
#include "terminal/keyboard_emulator.h"
#include "terminal/ui/terminal_window.h"
#include "protocols/protocol.h"
#include "ui_fakes.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFontDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabBar>
#include <QMenu>
#include <QStatusBar>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace zelvo::app;
using namespace zelvo::app::testing;
using zelvo::platform::RegistryStore;
namespace fs = std::filesystem;

namespace {

// A file server that answers every packet of four bytes "REQ?" with "ANS?", refuses a
// packet whose first byte is 'X', and counts what it saw.
struct TinyServer {
    static inline uint32_t counters[10];
    static int32_t receive(uint8_t* buf, int32_t pos, int32_t byte)
    {
        ++counters[2];
        buf[pos] = uint8_t(byte);
        if (buf[0] == 'X')
            return -1;
        return pos == 3 ? 0 : pos + 1;
    }
    static int32_t dispatch(uint8_t* buf)
    {
        ++counters[7];
        buf[0] = 'A';
        buf[1] = 'N';
        buf[2] = 'S';
        return 4;
    }
    static uint32_t* statistic(uint32_t* rec)
    {
        for (int i = 0; i < 10; ++i)
            rec[i] = counters[i];
        rec[0] = 1;
        rec[1] = 0;
        return rec;
    }
};

// A line on which every transfer starts and runs until its finish event is raised.
struct PendingTransfer : TransferLine {
    int beginTransmit(zelvo::protocols::Protocol&) override { return 0; }
    int beginReceive(zelvo::protocols::Protocol&) override { return 0; }
    void flushInput() override {}
};

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = testConfigHome("zelvo-app-ui");
        store_ = RegistryStore::defaultPath();
        std::fill(std::begin(TinyServer::counters), std::end(TinyServer::counters), 0u);
        QApplication::clipboard()->clear();
    }
    void TearDown() override
    {
        form_.reset();
        fs::remove_all(dir_);
    }

    MainForm& start(bool withServer = true)
    {
        FileServerFunctions fns;
        if (withServer)
            fns = {&TinyServer::receive, &TinyServer::dispatch, &TinyServer::statistic};
        form_ = std::make_unique<MainForm>(port_, terminal_, fns, store_, false);
        form_->setPrompts(&prompts_);
        form_->show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return form_->started(); }, 10000));
        return *form_;
    }

    // Bytes from the line as the main window and then the terminal read them.
    void line(const std::string& bytes)
    {
        port_.receive(bytes);
        terminal_.read(bytes);
    }

    RegistryStore stored()
    {
        RegistryStore s(store_);
        s.load();
        return s;
    }

    void storeDefaultPort(int number)
    {
        RegistryStore s(store_);
        SessionSettings st;
        st.port.ComNumber = uint32_t(number);
        WriteRegistry(s, kDefaultSession, st);
        ASSERT_TRUE(s.save());
    }

    fs::path dir_;
    std::string store_;
    FakePort port_;
    FakeTerminal terminal_;
    FakePrompts prompts_;
    std::unique_ptr<MainForm> form_;
};

} // namespace

TEST_F(MainFormTest, MenusCarryTheirNamesCaptionsAndInitialStates)
{
    storeDefaultPort(2);
    MainForm& f = start();
    struct Item {
        const char* name;
        const char* caption;
        bool enabled;
    };
    for (Item i : {Item{"LogItem", "&Open capture file...", true}, Item{"ExitItem", "&Exit", true},
                   Item{"HangupItem", "&Hangup..", false}, Item{"CopyItem", "&Copy", true},
                   Item{"PasteItem", "&Paste", false}, Item{"ScrollbackItem", "&Scrollback", true},
                   Item{"NoneItem", "&None", true}, Item{"AnsiItem", "&ANSI", true},
                   Item{"VT100Item", "&VT100", true}, Item{"PortItem", "&Port...", true},
                   Item{"FontItem", "&Font...", true}, Item{"SaveSesItem", "&Save / Delete...", true},
                   Item{"ClearScreenItem", "&Clear Screen", true}, Item{"EchoItem", "Local &Echo", true},
                   Item{"LedItem", "&Port Status", true}, Item{"StatusItem", "&Statusbar", true},
                   Item{"RunScriptItem", "&Run...", true}, Item{"StopScriptItem", "&Stop", false},
                   Item{"RfsInfo", "&RFS Info", true}, Item{"Info", "&Info", true}}) {
        QAction* a = f.action(i.name);
        ASSERT_NE(a, nullptr) << i.name;
        EXPECT_EQ(a->text().toStdString(), i.caption) << i.name;
        EXPECT_EQ(a->isEnabled(), i.enabled) << i.name;
    }
    // A direct port hides the telephony items.
    EXPECT_FALSE(f.action("DialItem")->isVisible());
    EXPECT_FALSE(f.action("TapiSep")->isVisible());
    EXPECT_FALSE(f.action("SessionDelim")->isVisible());
    EXPECT_EQ(f.windowTitle(), "Zelvo32");
    EXPECT_TRUE(f.action("AnsiItem")->isChecked());
    EXPECT_FALSE(f.action("LedItem")->isChecked());
    EXPECT_TRUE(f.action("StatusItem")->isChecked());
}

TEST_F(MainFormTest, FirstStartOffersThePortDialogAndSavesTheChoiceAtExit)
{
    prompts_.portAnswers.push_back(direct(37));
    MainForm& f = start();
    // No line was ever chosen: the dialog comes without the error box.
    EXPECT_TRUE(prompts_.errors.empty());
    ASSERT_EQ(prompts_.portPresets.size(), 1u);
    EXPECT_EQ(prompts_.portPresets[0].ComNumber, 0);
    EXPECT_TRUE(port_.opened);
    EXPECT_EQ(f.statusPanel(0), " COM37  8N1  57600");
    EXPECT_FALSE(f.ledBarVisible());
    EXPECT_FALSE(f.action("LedItem")->isChecked());
    EXPECT_FALSE(f.quitRequested());
    // The window sits around an 80 x 25 terminal.
    EXPECT_EQ(terminal_.rows, 25);
    EXPECT_EQ(terminal_.columns, 80);
    EXPECT_EQ(f.centralWidget()->width(), terminal_.view.width() + 6);

    f.close();
    EXPECT_FALSE(port_.opened);
    RegistryStore s = stored();
    EXPECT_EQ(s.readDword(GroupKey(kDefaultSession, "Port"), "Port"), 37u);
    EXPECT_EQ(s.readDword(kSessionsKey, "Count"), 0u);
    EXPECT_EQ(s.readString(GroupKey(kDefaultSession, "window"), "Name"), "Terminal");
}

TEST_F(MainFormTest, FirstStartTakesXtermWhileStoredSessionsKeepTheirEmulation)
{
    prompts_.portAnswers.push_back(direct(37));
    MainForm& f = start();
    EXPECT_EQ(terminal_.emulator, 5);
    EXPECT_TRUE(f.action("XtermItem")->isChecked());
    EXPECT_FALSE(f.action("AnsiItem")->isChecked());
    // The local program learns the terminal type of the emulation.
    EXPECT_EQ(port_.execTerm, "xterm-256color");
    // The remote side's title comes before the program's own text in the caption.
    terminal_.onTitle("tester@box: ~");
    EXPECT_EQ(f.windowTitle().toStdString(), "tester@box: ~ - Zelvo32");
    terminal_.onTitle("");
    EXPECT_EQ(f.windowTitle().toStdString(), "Zelvo32");
    f.VisualBellItemClick();
    EXPECT_TRUE(terminal_.visual);
    EXPECT_TRUE(f.action("VisualBellItem")->isChecked());
    f.close();
    EXPECT_EQ(stored().readDword(GroupKey(kDefaultSession, "Emulator"), "Type"), 5u);
    EXPECT_EQ(stored().readDword(GroupKey(kDefaultSession, "Emulator"), "VisualBell"), 1u);
    form_.reset();

    // A stored session keeps what it has; a change applies at the next open.
    storeDefaultPort(4);
    terminal_.emulator = 5;
    MainForm& g = start();
    EXPECT_EQ(terminal_.emulator, 1);
    EXPECT_EQ(port_.execTerm, "ansi");
    EXPECT_FALSE(terminal_.visual);
    g.VT100ItemClick();
    EXPECT_EQ(port_.execTerm, "ansi");
    prompts_.portAnswers.push_back(direct(4));
    g.PortItemClick();
    EXPECT_EQ(port_.execTerm, "vt100");
    g.XtermItemClick();
    EXPECT_EQ(terminal_.emulator, 5);
}

TEST_F(MainFormTest, DamagedStoreStartsOnDefaultsAndIsKeptAside)
{
    fs::create_directories(fs::path(store_).parent_path());
    const std::string junk = "[software\\brunmo\\zelvo32\\sessions]\n\"Count\"=dword:00000002\n\"S0\"=\"half";
    {
        std::FILE* f = std::fopen(store_.c_str(), "w");
        std::fputs(junk.c_str(), f);
        std::fclose(f);
    }
    prompts_.portAnswers.push_back(direct(2));
    MainForm& f = start();
    EXPECT_TRUE(f.sessions().empty());
    EXPECT_EQ(port_.values.Baud, 57600u);
    f.close();
    RegistryStore s = stored();
    EXPECT_EQ(s.readDword(GroupKey(kDefaultSession, "Port"), "Port"), 2u);
    std::FILE* bad = std::fopen((store_ + ".bad").c_str(), "r");
    ASSERT_NE(bad, nullptr);
    char buf[256] = {};
    size_t n = std::fread(buf, 1, sizeof buf - 1, bad);
    std::fclose(bad);
    EXPECT_EQ(std::string(buf, n), junk);
}

TEST_F(MainFormTest, PortThatCannotBeOpenedLeadsToTheMessageAndTheDialog)
{
    storeDefaultPort(5);
    port_.openResults.push_back(LineOpenError{true, "File access denied"});
    prompts_.portAnswers.push_back(direct(6));
    MainForm& f = start();
    ASSERT_EQ(prompts_.errors.size(), 1u);
    EXPECT_EQ(prompts_.errors[0], "The selected Port is not available\nSelect new port.");
    EXPECT_EQ(prompts_.portPresets.at(0).ComNumber, 5);
    EXPECT_TRUE(port_.opened);
    EXPECT_EQ(port_.values.ComNumber, 6);
    EXPECT_FALSE(f.quitRequested());
}

TEST_F(MainFormTest, CancellingThePortDialogAtStartEndsTheProgram)
{
    storeDefaultPort(5);
    port_.openResults.push_back(LineOpenError{true, "File access denied"});
    MainForm& f = start();
    EXPECT_TRUE(f.quitRequested());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !f.isVisible(); }, 5000));
}

TEST_F(MainFormTest, PortMenuRetriesUntilALineOpens)
{
    storeDefaultPort(2);
    MainForm& f = start();
    port_.openResults.push_back(LineOpenError{true, "ie_BadId - Specified comport doesn't exist"});
    prompts_.portAnswers.push_back(direct(9));
    prompts_.portAnswers.push_back(direct(3));
    f.PortItemClick();
    ASSERT_EQ(prompts_.errors.size(), 1u);
    EXPECT_EQ(prompts_.errors[0], "Port is not available !\nSelect new port.");
    EXPECT_EQ(prompts_.portPresets.back().ComNumber, 9);
    EXPECT_TRUE(port_.opened);
    EXPECT_EQ(f.statusPanel(0), " COM3  8N1  57600");
}

TEST_F(MainFormTest, LineChangingCommandsWaitForATransferAndOkWithoutChangesKeepsTheLine)
{
    {
        RegistryStore st(store_);
        SessionSettings v;
        v.port.ComNumber = 2;
        WriteRegistry(st, kDefaultSession, v);
        WriteSessions(st, {"lab"});
        ASSERT_TRUE(st.save());
    }
    MainForm& f = start();
    zelvo::protocols::Protocol protocol;
    PendingTransfer transfer;
    f.setTransfer(&protocol, &transfer);
    prompts_.directoryAnswer = QString::fromStdString(dir_.string());
    f.ReceiveItemClick(zelvo::protocols::ptZmodem);
    ASSERT_TRUE(f.transferRunning());
    for (const char* n : {"PortItem", "ProtocolItem", "SaveSesItem", "Session0Item"})
        EXPECT_FALSE(f.action(n)->isEnabled()) << n;
    // The protocol options are not offered while the engine reads them.
    const bool autoStart = f.zmodemAutoStart();
    prompts_.protocolOptionsAutoStart = !autoStart;
    f.ProtocolItemClick();
    EXPECT_EQ(f.zmodemAutoStart(), autoStart);
    prompts_.protocolOptionsAutoStart.reset();
    int opens = port_.opens;
    f.PortItemClick();
    f.SessionDelimClick(1);
    EXPECT_TRUE(prompts_.portPresets.empty());
    EXPECT_EQ(port_.opens, opens);
    EXPECT_TRUE(port_.opened);
    protocol.OnProtocolFinish(protocol, 0);
    for (const char* n : {"PortItem", "ProtocolItem", "SaveSesItem", "Session0Item"})
        EXPECT_TRUE(f.action(n)->isEnabled()) << n;

    // OK in the port dialog without a change does not close and reopen the line.
    prompts_.portAnswers.push_back(port_.values);
    f.PortItemClick();
    EXPECT_EQ(prompts_.portPresets.size(), 1u);
    EXPECT_EQ(port_.opens, opens);
    EXPECT_TRUE(port_.opened);
    PortOptionValues faster = port_.values;
    faster.Baud = 115200;
    prompts_.portAnswers.push_back(faster);
    f.PortItemClick();
    EXPECT_EQ(port_.opens, opens + 1);
    EXPECT_EQ(port_.values.Baud, 115200u);
    f.setTransfer(nullptr, nullptr);
}

TEST_F(MainFormTest, SessionIsSavedListedChosenAndDeleted)
{
    storeDefaultPort(2);
    MainForm& f = start();
    port_.values.Baud = 9600;
    terminal_.emulator = 3;
    prompts_.sessionAnswers.push_back({SessionFormResult::Save, "lab\\board", {}});
    f.SaveSessionItemClick();
    EXPECT_EQ(prompts_.sessionPresets.at(0), "Setting0");
    ASSERT_EQ(f.sessions().names(), (std::vector<std::string>{"lab\\board"}));
    QAction* item = f.findChild<QAction*>("Session0Item");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), "&0 lab\\board");
    EXPECT_TRUE(f.action("SessionDelim")->isVisible());
    RegistryStore s = stored();
    EXPECT_EQ(s.readDword(GroupKey(SessionPath("lab\\board"), "Port"), "Baud"), 9600u);
    EXPECT_EQ(s.readDword(GroupKey(SessionPath("lab\\board"), "Emulator"), "Type"), 3u);

    // Saved settings are that session's now: named in the title, the status bar, the menu.
    EXPECT_EQ(f.windowTitle(), "lab\\board - Zelvo32");
    EXPECT_EQ(f.statusPanel(4), "lab\\board");
    EXPECT_TRUE(item->isChecked());

    // Change the live settings, then choose the session: its settings come back, and the
    // terminal shows where the line changed.
    port_.values.Baud = 300;
    terminal_.emulator = 0;
    item->trigger();
    EXPECT_EQ(port_.values.Baud, 9600u);
    EXPECT_EQ(terminal_.emulator, 3);
    EXPECT_TRUE(port_.opened);
    EXPECT_TRUE(f.action("VT100Item")->isChecked());
    EXPECT_EQ(terminal_.localLines, (std::vector<std::string>{"[lab\\board: COM2 /dev/fake2 9600 8N1]"}));
    // So does another port.
    PortOptionValues other = port_.values;
    other.ComNumber = 5;
    prompts_.portAnswers.push_back(other);
    f.PortItemClick();
    EXPECT_EQ(terminal_.localLines.back(), "[lab\\board: COM5 /dev/fake5 9600 8N1]");

    // An unusable name is refused with a message and changes nothing.
    prompts_.sessionAnswers.push_back({SessionFormResult::Save, "\\\\", {}});
    f.SaveSessionItemClick();
    EXPECT_EQ(prompts_.errors.size(), 1u);
    EXPECT_EQ(f.sessions().count(), 1u);

    prompts_.sessionAnswers.push_back({SessionFormResult::Delete, "LAB\\board", {}});
    f.SaveSessionItemClick();
    EXPECT_TRUE(f.sessions().empty());
    EXPECT_FALSE(f.action("SessionDelim")->isVisible());
    EXPECT_EQ(f.findChild<QAction*>("Session0Item"), nullptr);
    // The list reaches the store at exit; the session's settings stay stored.
    f.close();
    s = stored();
    EXPECT_EQ(s.readDword(kSessionsKey, "Count"), 0u);
    EXPECT_TRUE(s.keyExists(GroupKey(SessionPath("lab\\board"), "Port")));
}

TEST_F(MainFormTest, AnArgumentStartsMinimisedAfterTheLineIsOpen)
{
    storeDefaultPort(3);
    form_ = std::make_unique<MainForm>(port_, terminal_, FileServerFunctions{}, store_, true);
    form_->setPrompts(&prompts_);
    bool openAtMinimise = false;
    QObject::connect(form_.get(), &MainForm::startedUp, [&] { openAtMinimise = port_.opened; });
    form_->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form_->started(); }, 10000));
    EXPECT_TRUE(openAtMinimise);
    EXPECT_TRUE(form_->windowState() & Qt::WindowMinimized);
}

TEST_F(MainFormTest, SessionListIsReadAtStart)
{
    {
        RegistryStore s(store_);
        SessionSettings st;
        st.port.ComNumber = 1;
        WriteRegistry(s, kDefaultSession, st);
        WriteSessions(s, {"a", "b&c"});
        ASSERT_TRUE(s.save());
    }
    MainForm& f = start();
    EXPECT_EQ(f.sessions().names(), (std::vector<std::string>{"a", "b&c"}));
    EXPECT_EQ(f.findChild<QAction*>("Session1Item")->text(), "&1 b&&c");
}

TEST_F(MainFormTest, StatusPanelsFollowCaptureAndScrollback)
{
    storeDefaultPort(4);
    MainForm& f = start();
    EXPECT_EQ(f.statusPanel(1), "");
    EXPECT_EQ(f.statusPanel(2), "");

    prompts_.captureAnswer = QString::fromStdString((dir_ / "cap.log").string());
    f.LogItemClick();
    EXPECT_EQ(f.statusPanel(1), "LOG");
    EXPECT_EQ(f.action("LogItem")->text(), "&Close capture file");
    f.LogItemClick();
    EXPECT_EQ(f.statusPanel(1), "");
    EXPECT_EQ(f.action("LogItem")->text(), "&Open capture file...");

    // A capture that cannot start is reported and nothing claims to capture.
    terminal_.captureFails = true;
    f.LogItemClick();
    EXPECT_EQ(f.statusPanel(1), "");
    ASSERT_EQ(prompts_.errors.size(), 1u);
    EXPECT_TRUE(prompts_.errors[0].contains("No space left on device"));
    // A capture that stops by itself (full disk) puts the menu and the panel back.
    terminal_.captureFails = false;
    f.LogItemClick();
    terminal_.capture = false;
    terminal_.onCaptureError("No space left on device");
    EXPECT_EQ(f.statusPanel(1), "");
    EXPECT_EQ(f.action("LogItem")->text(), "&Open capture file...");
    // The line breaks chosen in the dialog reach the terminal and the store; a failing
    // last write is told once.
    prompts_.errors.clear();
    prompts_.captureCrLfAnswer = true;
    f.LogItemClick();
    EXPECT_TRUE(terminal_.crlf);
    terminal_.stopFails = true;
    f.LogItemClick();
    ASSERT_EQ(prompts_.errors.size(), 1u);
    EXPECT_TRUE(prompts_.errors[0].contains("Disk write error"));
    EXPECT_EQ(f.statusPanel(1), "");
    f.writeSettingsNow();
    EXPECT_EQ(stored().readDword(GroupKey(kDefaultSession, "window"), "CaptureCRLF"), 1u);

    f.ScrollbackItemClick();
    EXPECT_EQ(f.statusPanel(2), "OFFLINE");
    EXPECT_TRUE(terminal_.scrollback);
    EXPECT_TRUE(f.action("ScrollbackItem")->isChecked());
    terminal_.onKeyPress();
    EXPECT_EQ(f.statusPanel(2), "");
    EXPECT_TRUE(terminal_.active);
    EXPECT_FALSE(terminal_.scrollback);
    EXPECT_FALSE(f.action("ScrollbackItem")->isChecked());

    // The wheel took the terminal into its history: the menu and the panel follow.
    terminal_.scrollback = true;
    terminal_.onScrollbackChanged();
    EXPECT_TRUE(f.action("ScrollbackItem")->isChecked());
    EXPECT_EQ(f.statusPanel(2), "OFFLINE");
    terminal_.scrollback = false;
    terminal_.onScrollbackChanged();
    EXPECT_FALSE(f.action("ScrollbackItem")->isChecked());
    EXPECT_EQ(f.statusPanel(2), "");

    // The number of history rows is a setting of the session.
    prompts_.historyAnswer = 600;
    f.action("HistoryItem")->trigger();
    EXPECT_EQ(terminal_.history, 600);
    f.writeSettingsNow();
    EXPECT_EQ(stored().readDword(GroupKey(kDefaultSession, "window"), "HistoryRows"), 600u);
}

TEST_F(MainFormTest, ScrollbackNeverChangesWhoOwnsTheLine)
{
    storeDefaultPort(4);
    MainForm& f = start();
    // A file server request while the user reads the scrollback.
    f.ScrollbackItemClick();
    line("\x1b[#REQ1");
    EXPECT_EQ(port_.sent, "\x1b[#ANS1");
    f.ScrollbackItemClick();
    EXPECT_FALSE(terminal_.scrollback);
    EXPECT_TRUE(terminal_.active);
    EXPECT_FALSE(terminal_.typingHeld);

    // A transfer owns the line: scrollback in and out does not hand it back, and the end
    // of the transfer during scrollback leaves the terminal active afterwards.
    zelvo::protocols::Protocol protocol;
    PendingTransfer transfer;
    f.setTransfer(&protocol, &transfer);
    prompts_.directoryAnswer = QString::fromStdString(dir_.string());
    f.ReceiveItemClick(zelvo::protocols::ptZmodem);
    ASSERT_TRUE(f.transferRunning());
    EXPECT_FALSE(terminal_.active);
    f.ScrollbackItemClick();
    f.ScrollbackItemClick();
    EXPECT_FALSE(terminal_.active);
    f.ScrollbackItemClick();
    protocol.OnProtocolFinish(protocol, 0);
    terminal_.onKeyPress();
    EXPECT_FALSE(terminal_.scrollback);
    EXPECT_TRUE(terminal_.active);
    f.setTransfer(nullptr, nullptr);
}

TEST_F(MainFormTest, ViewCommandsResizeTheWindow)
{
    storeDefaultPort(4);
    MainForm& f = start();
    int h = f.height();
    f.LedItemClick();
    EXPECT_TRUE(f.ledBarVisible());
    EXPECT_TRUE(f.action("LedItem")->isChecked());
    EXPECT_GT(f.height(), h);
    f.StatusItemClick();
    EXPECT_FALSE(f.action("StatusItem")->isChecked());
    EXPECT_TRUE(f.statusBar()->isHidden());

    // A bigger font makes a bigger terminal and the window grows around it.
    int w = f.width();
    prompts_.fontAnswer = QFont(QStringLiteral("Monospace"));
    prompts_.fontAnswer->setPixelSize(24);
    prompts_.colorAnswer = 0x00FF00;
    f.FontItemClick();
    EXPECT_EQ(terminal_.fontValues.height, -24);
    EXPECT_EQ(terminal_.fontValues.color, 0x00FF00u);
    EXPECT_GT(f.width(), w);

    // The window can be made larger, smaller and maximised: the terminal keeps its size,
    // centred, with scroll bars where the window is smaller.
    EXPECT_TRUE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
    const QSize term = terminal_.view.size();
    auto* area = f.findChild<QScrollArea*>("TerminalArea");
    ASSERT_NE(area, nullptr);
    f.resize(f.width() + 200, f.height() + 120);
    QTest::qWait(20);
    EXPECT_EQ(terminal_.view.size(), term);
    const QPoint at = terminal_.view.mapTo(area->viewport(), QPoint(0, 0));
    EXPECT_NEAR(at.x(), (area->viewport()->width() - term.width()) / 2, 4);
    EXPECT_NEAR(at.y(), (area->viewport()->height() - term.height()) / 2, 4);
    f.resize(300, 200);
    QTest::qWait(20);
    EXPECT_LT(f.width(), term.width());
    EXPECT_TRUE(area->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(area->verticalScrollBar()->isVisible());
    EXPECT_EQ(terminal_.view.size(), term);
    // A new font fits the window around the terminal again.
    f.FontItemClick();
    EXPECT_EQ(f.centralWidget()->width(), terminal_.view.width() + 6);

    f.EchoItemClick();
    EXPECT_TRUE(terminal_.echo);
    EXPECT_TRUE(f.action("EchoItem")->isChecked());
    f.NoneItemClick();
    EXPECT_TRUE(f.action("NoneItem")->isChecked());
    EXPECT_FALSE(f.action("AnsiItem")->isChecked());
    f.ClearScreenItemClick();
    EXPECT_EQ(terminal_.clears, 1);
    f.close();
    RegistryStore s = stored();
    EXPECT_EQ(s.readDword(GroupKey(kDefaultSession, "window"), "LED"), 1u);
    EXPECT_EQ(s.readDword(GroupKey(kDefaultSession, "window"), "Status"), 0u);
    EXPECT_EQ(s.readDword(GroupKey(kDefaultSession, "window"), "Height"), uint32_t(-24));
    EXPECT_EQ(s.readDword(GroupKey(kDefaultSession, "Emulator"), "Type"), 0u);
}

TEST_F(MainFormTest, PasteSendsLineBreaksAsTheEnterKey)
{
    storeDefaultPort(4);
    MainForm& f = start();
    f.PasteItemClick();
    EXPECT_EQ(port_.sent, "");
    QApplication::clipboard()->setText(QStringLiteral("show ver\r\nexit\n"));
    QTest::qWait(10);
    f.UpdateMenu();
    EXPECT_TRUE(f.action("PasteItem")->isEnabled());
    f.PasteItemClick();
    EXPECT_EQ(port_.sent, "show ver\rexit\r");
    terminal_.marked = QStringLiteral("copied");
    f.CopyItemClick();
    EXPECT_EQ(QApplication::clipboard()->text(), "copied");

    // The keys of Linux terminals, typed into the terminal, and shown in the menu.
    EXPECT_EQ(f.action("CopyItem")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+C")));
    EXPECT_EQ(f.action("PasteItem")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+V")));
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    terminal_.marked = QStringLiteral("by keys");
    QTest::keyClick(&terminal_.view, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "by keys");
    QTest::qWait(10);
    port_.sent.clear();
    QTest::keyClick(&terminal_.view, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(&terminal_.view, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(port_.sent, "by keysby keys");
}

TEST_F(MainFormTest, PasteLargerThanTheOutputBufferGoesOutAsItDrains)
{
    storeDefaultPort(4);
    MainForm& f = start();
    std::string text;
    for (int i = 0; text.size() < 10000; ++i)
        text += "line " + std::to_string(i) + "\n";
    const std::string typed = PasteQueue::AsTyped(text);
    QApplication::clipboard()->setText(QString::fromStdString(text));
    port_.outputRoom = 4096;
    f.PasteItemClick();
    EXPECT_EQ(port_.sent, typed.substr(0, 4096));
    EXPECT_TRUE(f.paste().pasting());
    port_.drain(4096);
    EXPECT_TRUE(QTest::qWaitFor([&] { return port_.sent.size() == 8192; }, 5000));

    // A transfer that takes the line holds the rest back until it ends.
    zelvo::protocols::Protocol protocol;
    PendingTransfer transfer;
    f.setTransfer(&protocol, &transfer);
    prompts_.directoryAnswer = QString::fromStdString(dir_.string());
    f.ReceiveItemClick(zelvo::protocols::ptZmodem);
    ASSERT_TRUE(f.transferRunning());
    port_.drain(4096);
    QTest::qWait(300);
    EXPECT_EQ(port_.sent.size(), 8192u);
    protocol.OnProtocolFinish(protocol, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return port_.sent == typed; }, 5000));
    EXPECT_FALSE(f.paste().pasting());
    f.setTransfer(nullptr, nullptr);

    // Cancel drops what has not gone out.
    port_.sent.clear();
    port_.outputRoom = 100;
    f.PasteItemClick();
    EXPECT_EQ(port_.sent.size(), 100u);
    auto* progress = f.findChild<QProgressDialog*>("PasteProgress");
    ASSERT_NE(progress, nullptr);
    auto* cancel = progress->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    cancel->click();
    EXPECT_FALSE(f.paste().pasting());
    port_.drain(8192);
    QTest::qWait(50);
    EXPECT_EQ(port_.sent.size(), 100u);
}

TEST_F(MainFormTest, FileServerRequestIsAnsweredAndTheDriveLightGoesOut)
{
    storeDefaultPort(4);
    MainForm& f = start();
    f.LedItemClick();
    line("login: \x1b[#");
    EXPECT_EQ(port_.sent, "\x1b[#");
    EXPECT_TRUE(terminal_.typingHeld);
    line("RE");
    EXPECT_TRUE(f.driveLightLit());
    EXPECT_TRUE(f.statusTimerActive());
    line("Q1");
    EXPECT_EQ(port_.sent, "\x1b[#ANS1");
    EXPECT_FALSE(terminal_.typingHeld);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !f.driveLightLit(); }, 5000));
    EXPECT_FALSE(f.statusTimerActive());

    // Without a new start sequence a request is only text; a refused one gets nothing.
    line("REQ2");
    line("\x1b[#X123");
    EXPECT_EQ(port_.sent, "\x1b[#ANS1\x1b[#");
    EXPECT_EQ(TinyServer::counters[7], 1u);
    // The terminal showed everything but the start sequences and the packets.
    EXPECT_EQ(terminal_.shown, "login: REQ2123");
    EXPECT_TRUE(terminal_.active);
}

TEST_F(MainFormTest, TextAroundARequestInOneReadReachesTheTerminal)
{
    storeDefaultPort(4);
    MainForm& f = start();
    line("before\x1b[#REQ1after");
    EXPECT_EQ(port_.sent, "\x1b[#ANS1");
    EXPECT_EQ(terminal_.shown, "beforeafter");
    EXPECT_FALSE(terminal_.typingHeld);
    EXPECT_FALSE(f.router().serverActive());
}

TEST_F(MainFormTest, ZmodemTriggerIsArmedOnlyWithAutoStartAndDisarmedDuringAPacket)
{
    {
        RegistryStore s(store_);
        SessionSettings st;
        st.port.ComNumber = 4;
        st.protocol.ZmodemAutoStart = true;
        WriteRegistry(s, kDefaultSession, st);
        ASSERT_TRUE(s.save());
    }
    int starts = 0;
    form_ = std::make_unique<MainForm>(port_, terminal_,
                                       FileServerFunctions{&TinyServer::receive, &TinyServer::dispatch,
                                                           &TinyServer::statistic},
                                       store_, false);
    form_->setPrompts(&prompts_);
    form_->setZmodemStarter([&] { ++starts; });
    form_->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form_->started(); }, 10000));
    uint16_t h = form_->zmodemTriggerHandle();
    ASSERT_NE(h, 0);
    EXPECT_EQ(port_.triggers[h], "B00000000000000");
    port_.onDataTrigger(uint16_t(h + 8));
    QTest::qWait(20);
    EXPECT_EQ(starts, 0);
    port_.onDataTrigger(h);
    EXPECT_TRUE(QTest::qWaitFor([&] { return starts == 1; }, 5000));
    port_.receive("\x1b[#R");
    EXPECT_EQ(form_->zmodemTriggerHandle(), 0);
    EXPECT_TRUE(port_.triggers.empty());
    port_.receive("EQ1");
    EXPECT_NE(form_->zmodemTriggerHandle(), 0);
    EXPECT_EQ(port_.triggers.size(), 1u);
}

TEST_F(MainFormTest, LostLineIsReportedAndCanBeReopened)
{
    storeDefaultPort(5);
    MainForm& f = start();
    port_.receive("\x1b[#RE");
    port_.opened = false;
    port_.onLineLost("the device was removed");
    ASSERT_EQ(prompts_.errors.size(), 1u);
    EXPECT_TRUE(prompts_.errors[0].contains("COM5 (/dev/fake5) was lost"));
    EXPECT_TRUE(prompts_.errors[0].contains("the device was removed"));
    EXPECT_TRUE(terminal_.active);
    EXPECT_EQ(f.router().state(), 0);
    EXPECT_TRUE(f.statusPanel(0).endsWith("lost"));
    prompts_.portAnswers.push_back(direct(5));
    f.PortItemClick();
    EXPECT_TRUE(port_.opened);
    EXPECT_EQ(f.statusPanel(0), " COM5  8N1  57600");
}

TEST_F(MainFormTest, StatisticsWindowRefreshesOnlyWhileShown)
{
    storeDefaultPort(5);
    MainForm& f = start();
    TinyServer::counters[8] = 0x80000000u;
    TinyServer::counters[6] = 12;
    f.RfsInfoClick();
    auto* w = f.findChild<RfsStatistic*>();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->windowTitle(), "Remote File Sytem Info");
    EXPECT_GE(w->width(), 347);
    EXPECT_EQ(w->height(), 181);
    EXPECT_EQ(w->value("CrcLabel"), "-2147483648");
    // Every value label holds the longest counter in its font, inside its panel and
    // clear of the label to its right.
    for (const char* name : {"SPacketsLabel", "SendLabel", "CSendLabel", "RPacketsLabel",
                             "ReceivedLabel", "CReceivedLabel", "CrcLabel", "PacketLabel"}) {
        auto* l = w->findChild<QLabel*>(name);
        ASSERT_NE(l, nullptr) << name;
        EXPECT_GE(l->width(), l->fontMetrics().horizontalAdvance("-2147483648")) << name;
        EXPECT_LE(l->geometry().right(), l->parentWidget()->width()) << name;
        EXPECT_LE(l->parentWidget()->geometry().right(), w->width()) << name;
    }
    // Captions and values do not run into each other.
    for (auto [left, right] : {std::pair{"SendLabel", "Label7"}, std::pair{"Label7", "CSendLabel"},
                               std::pair{"Label9", "PacketLabel"}, std::pair{"Label3", "ReceivedLabel"}}) {
        auto* a = w->findChild<QLabel*>(left);
        auto* b = w->findChild<QLabel*>(right);
        EXPECT_LT(a->x() + std::max(a->width(), a->fontMetrics().horizontalAdvance(a->text())), b->x())
            << left << " / " << right;
    }
    EXPECT_EQ(w->value("RPacketsLabel"), "12");
    EXPECT_TRUE(w->timerActive());
    TinyServer::counters[6] = 13;
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->value("RPacketsLabel") == "13"; }, 5000));
    // Escape closes it.
    QTest::keyClick(w, Qt::Key_Escape);
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->timerActive());
}

TEST_F(MainFormTest, KeyboardCommandTakesTheEditorsChoice)
{
    storeDefaultPort(4);
    MainForm& f = start();
    EXPECT_TRUE(f.action("KeyboardItem")->isEnabled());
    int resets = terminal_.keyboardResets;
    f.KeyboardItemClick();
    EXPECT_EQ(terminal_.keyboardResets, resets + 1);
    prompts_.keyMapAnswer = std::make_pair(std::string("/tmp/other.kbd"), std::string("VT100"));
    f.KeyboardItemClick();
    EXPECT_EQ(terminal_.mapFile, "/tmp/other.kbd");
    EXPECT_EQ(terminal_.keyboard, "VT100");
    f.close();
    EXPECT_EQ(stored().readString(GroupKey(kDefaultSession, "Emulator"), "Keyboard"), "VT100");
}

TEST_F(MainFormTest, KeyMapEditorStoresAMappingTypedWithEsc)
{
    std::string map = (dir_ / "test.kbd").string();
    {
        zelvo::terminal::KeyboardEmulator k;
        k.setMapFileName(map);
        k.setEnabled(true);
        k.newRecord();
        k.saveRecord("ANSI");
        k.newRecord();
        k.saveRecord("VT100");
    }
    KMEditor editor;
    std::string error;
    ASSERT_TRUE(editor.Load(map, "VT100", error)) << error;
    EXPECT_EQ(editor.windowTitle(), "Keymap Editor");
    ASSERT_EQ(editor.tabs()->count(), 2);
    EXPECT_EQ(editor.tabs()->tabText(editor.tabs()->currentIndex()), "VT100");
    editor.keys()->pick(112);
    EXPECT_TRUE(editor.mappingEdit(0)->isEnabled());
    editor.mappingEdit(0)->setText("<ESC>OP");
    editor.EditExit(0);
    editor.mappingEdit(1)->setText("<ESC>[11;5~");
    editor.EditExit(1);
    EXPECT_TRUE(editor.modified());
    // Leaving the record asks first; Cancel stays on it.
    int asked = 0;
    editor.askSave = [&] {
        ++asked;
        return int(QMessageBox::Cancel);
    };
    editor.tabs()->setCurrentIndex(0);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(editor.EmulatorType(), "VT100");
    ASSERT_TRUE(editor.SaveClick());
    EXPECT_FALSE(editor.modified());

    zelvo::terminal::KeyboardEmulator k;
    k.setMapFileName(map);
    k.setEnabled(true);
    k.setEmulatorType("VT100");
    EXPECT_EQ(k.mapping(112, 14), "\x1bOP");
    EXPECT_EQ(k.mapping(112, 12), "\x1b[11;5~");
    editor.keys()->pick(112);
    EXPECT_EQ(editor.mappingEdit(0)->text(), "<ESC>OP");
}

TEST_F(MainFormTest, KeyMapEditorKeepsEditsAcrossAKeyChangeAndOnlyWhatFits)
{
    std::string map = (dir_ / "edit.kbd").string();
    {
        zelvo::terminal::KeyboardEmulator k;
        k.setMapFileName(map);
        k.setEnabled(true);
        k.newRecord();
        k.saveRecord("VT100");
    }
    KMEditor editor;
    std::string error;
    ASSERT_TRUE(editor.Load(map, "VT100", error)) << error;
    editor.show();
    // Typed for F1, then another key clicked: nothing else ended the edit.
    editor.keys()->pick(112);
    QTest::keyClicks(editor.mappingEdit(0), "abc");
    editor.keys()->pick(113);
    EXPECT_EQ(editor.mappingEdit(0)->text(), "");
    editor.keys()->pick(112);
    EXPECT_EQ(editor.mappingEdit(0)->text(), "abc");

    // "112,14," leaves 13 characters; with a one-digit shift code 14.
    EXPECT_EQ(KMEditor::MappingLimit(112, 14), 13);
    EXPECT_EQ(KMEditor::MappingLimit(112, 6), 14);
    QLineEdit* e = editor.mappingEdit(0);
    e->clear();
    QTest::keyClicks(e, std::string(20, 'x').c_str());
    EXPECT_EQ(e->text(), QString(13, 'x'));
    EXPECT_TRUE(editor.hint().contains("13")) << editor.hint().toStdString();
    // <ESC> counts as one: it still fits after twelve characters.
    e->clear();
    QTest::keyClicks(e, (std::string(12, 'y') + "<ESC>").c_str());
    EXPECT_EQ(e->text(), QString(12, 'y') + "<ESC>");
    // A character the 8-bit key map cannot hold is refused, and the hint says so.
    QKeyEvent euro(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(0x20AC)));
    QApplication::sendEvent(e, &euro);
    EXPECT_EQ(e->text(), QString(12, 'y') + "<ESC>");
    EXPECT_TRUE(editor.hint().contains("cannot be stored")) << editor.hint().toStdString();
    ASSERT_TRUE(editor.SaveClick());

    zelvo::terminal::KeyboardEmulator k;
    k.setMapFileName(map);
    k.setEnabled(true);
    k.setEmulatorType("VT100");
    EXPECT_EQ(k.mapping(112, 14), std::string(12, 'y') + "\x1b");
}

TEST(TerminalWindowAccessTest, FontDialogSeesTheFontInUseAndItsColourIsTheDefaultForeground)
{
    zelvo::terminal::Emulator emulator(zelvo::terminal::etANSI);
    zelvo::terminal::KeyboardEmulator keyboard;
    zelvo::terminal::TerminalWindow window;
    window.setEmulator(&emulator);
    TerminalWindowAccess access(window, emulator, keyboard);
    TerminalFontSettings f;
    f.name = "Terminal"; // not a font of this system: a fixed-pitch stand-in is drawn
    f.height = -18;
    f.color = 0x00FF00; // green
    access.setFontSettings(f);

    QFontDialog d;
    d.setOption(QFontDialog::MonospacedFonts);
    d.setCurrentFont(access.font());
    EXPECT_FALSE(d.currentFont().italic()) << d.currentFont().styleName().toStdString();
    EXPECT_EQ(d.currentFont().family(), QFontInfo(window.renderer().font()).family());

    // Text in the default rendition, also after a reset, is in the chosen colour.
    auto& b = window.buffer();
    const std::string text = "a\x1b[31mb\x1b[0mc\x1b[39md";
    b.processBlock(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    const int green = TerminalWindowAccess::nearestPaletteIndex(0x00FF00);
    EXPECT_EQ(b.colorAt(b.ViewRow(), 0) & 0x0F, green);
    EXPECT_EQ(b.colorAt(b.ViewRow(), 1) & 0x0F, 1);
    EXPECT_EQ(b.colorAt(b.ViewRow(), 2) & 0x0F, green);
    EXPECT_EQ(b.colorAt(b.ViewRow(), 3) & 0x0F, green);
    // A colour chosen later holds from the next byte on.
    f.color = 0x00FFFF; // yellow
    access.setFontSettings(f);
    b.processBlock(reinterpret_cast<const uint8_t*>("e"), 1);
    EXPECT_EQ(b.colorAt(b.ViewRow(), 4) & 0x0F, TerminalWindowAccess::nearestPaletteIndex(0x00FFFF));

    // The history rows asked for, up to what the buffer's cells allow.
    EXPECT_EQ(access.historyRows(), 175);
    access.setHistoryRows(100000);
    EXPECT_EQ(access.historyRows(), access.maxHistoryRows());
    EXPECT_LE(window.Rows() * window.Columns(), zelvo::terminal::Buffer::kMaxCells);
    access.setHistoryRows(0);
    EXPECT_EQ(window.Rows(), window.PageHeight());
}

TEST(DialogPromptsTest, FontDialogOffersTheColourAmongItsEffects)
{
    FakeLines lines;
    QWidget parent;
    DialogPrompts prompts(&parent, lines);
    QFont current(QStringLiteral("Monospace"));
    current.setPixelSize(16);
    QTimer::singleShot(0, [] {
        auto* d = qobject_cast<QFontDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        auto* colors = d->findChild<QComboBox*>("ColorBox");
        ASSERT_NE(colors, nullptr);
        EXPECT_EQ(colors->currentText(), "Silver"); // the colour in use
        auto* effects = qobject_cast<QGroupBox*>(colors->parentWidget());
        EXPECT_NE(effects, nullptr);
        colors->setCurrentIndex(colors->findText("Yellow"));
        d->accept();
    });
    auto choice = prompts.chooseFont(current, 0xC0C0C0);
    ASSERT_TRUE(choice.has_value());
    EXPECT_EQ(choice->color, 0x00FFFFu); // 0x00BBGGRR
}

TEST(PortOptionsDialogTest, MachineWithoutSerialPortsIsOfferedALocalShell)
{
    FakeLines lines;
    PortOptionsDialog d(lines);
    d.Load(PortOptionValues{});
    ASSERT_EQ(d.lineEntries().size(), 1);
    EXPECT_TRUE(d.lineEntries()[0].startsWith("Direct to COM37 (exec:"));
    EXPECT_EQ(d.shellNumber(), 37);
    d.accept();
    EXPECT_EQ(d.ResultPort().ComNumber, 37);
    EXPECT_EQ(lines.mapped[37], PortOptionsDialog::shellCommand());

    // Once mapped, the shell is an ordinary line of the list.
    PortOptionsDialog again(lines);
    again.Load(direct(37));
    EXPECT_EQ(again.lineEntries(), QStringList{QString::fromStdString("Direct to COM37 (" + PortOptionsDialog::shellCommand() + ")")});
    EXPECT_EQ(again.shellNumber(), 0);
}

TEST(PortOptionsDialogTest, FirstStartSuggestsTheShellEvenBesideSerialDevices)
{
    FakeLines lines;
    lines.present = {{1, "/dev/ttyS0"}};
    PortOptionsDialog d(lines);
    d.Load(PortOptionValues{});
    ASSERT_EQ(d.lineEntries().size(), 2);
    EXPECT_EQ(d.ResultPort().ComNumber, 37);
    d.chooseEntry(0);
    EXPECT_EQ(d.ResultPort().ComNumber, 1);
    d.accept();
    EXPECT_TRUE(lines.mapped.empty());
}

TEST(PortOptionsDialogTest, ValuesThatCannotBeUsedAreMarkedAndOkSaysWhy)
{
    FakeLines lines;
    lines.present = {{1, "/dev/ttyS0"}};
    PortOptionsDialog d(lines);
    QStringList told;
    d.reportProblems = [&](const QString& text) { told << text; };
    d.Load(direct(1));
    EXPECT_TRUE(d.invalidControls().isEmpty());
    auto* xon = d.findChild<QLineEdit*>("XonEdit");
    auto* xoff = d.findChild<QLineEdit*>("XoffEdit");
    xon->setText("300");
    xoff->setText("x1");
    EXPECT_EQ(d.invalidControls(), (QStringList{"XonEdit", "XoffEdit"}));
    d.accept();
    EXPECT_NE(d.result(), QDialog::Accepted);
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].contains("\"300\"")) << told[0].toStdString();
    EXPECT_TRUE(told[0].contains("\"x1\""));
    // The same character for both under software flow control is no use either.
    xon->setText("19");
    xoff->setText(" 19 ");
    EXPECT_TRUE(d.invalidControls().isEmpty()) << "no software flow yet";
    for (QCheckBox* b : d.findChildren<QCheckBox*>())
        if (b->text() == "Software receive")
            b->setChecked(true);
    EXPECT_EQ(d.invalidControls(), QStringList{"XoffEdit"});
    xon->setText("17");
    EXPECT_TRUE(d.invalidControls().isEmpty());
    d.accept();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.ResultPort().XOnChar, 17);
    EXPECT_EQ(d.ResultPort().XOffChar, 19);
    EXPECT_EQ(d.ResultPort().SWFlowOptions, 1);
}

TEST(PortOptionsDialogTest, ListsPresentPortsAndKeepsSerialValuesOfOtherChoices)
{
    FakeLines lines;
    lines.present = {{1, "/dev/ttyS0"}, {12, "/dev/ttyUSB7"}};
    PortOptionsDialog d(lines);
    PortOptionValues v = direct(1);
    v.Baud = 14400;
    v.XOnChar = 5;
    d.Load(v);
    EXPECT_EQ(d.lineEntries().at(0), "Direct to COM1 (/dev/ttyS0)");
    EXPECT_EQ(d.lineEntries().at(1), "Direct to COM12 (/dev/ttyUSB7)");
    d.chooseEntry(1);
    PortOptionValues r = d.ResultPort();
    EXPECT_EQ(r.ComNumber, 12);
    EXPECT_EQ(r.Baud, 14400u); // kept as an "Other:" rate
    EXPECT_EQ(r.XOnChar, 5);
}

TEST(PortOptionsDialogTest, ListShowsWhatIdentifiesDevicesAndFollowsPlugging)
{
    const fs::path dev = fs::temp_directory_path() / ("zelvo-dialog-dev-" + std::to_string(::getpid()));
    fs::remove_all(dev);
    fs::create_directories(dev);
    FakeLines lines;
    lines.watched = {dev.string()};
    lines.present = {{5, "/dev/ttyUSB0", "FTDI FT232R USB UART, serial A5 (0403:6001, ftdi_sio)",
                      "/dev/serial/by-id/usb-FTDI_A5-if00-port0"}};
    PortOptionsDialog d(lines);
    d.Load(direct(5));
    auto* combo = d.findChild<QComboBox*>(QStringLiteral("PortComboBox"));
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(d.lineEntries().at(0).toStdString(),
              "Direct to COM5 (/dev/ttyUSB0)  FTDI FT232R USB UART, serial A5 (0403:6001, ftdi_sio)");
    EXPECT_EQ(combo->itemData(0, Qt::ToolTipRole).toString().toStdString(),
              "/dev/serial/by-id/usb-FTDI_A5-if00-port0");
    // An adapter is plugged in: the list gains it and the chosen line stays chosen.
    lines.present.push_back({21, "/dev/ttyACM0", "Arduino Uno (2341:0043, cdc_acm)", ""});
    std::ofstream(dev / "ttyACM0").put('\n');
    EXPECT_TRUE(QTest::qWaitFor([&] { return d.lineEntries().size() >= 2 && d.lineEntries()[1].contains("COM21"); },
                                5000));
    EXPECT_EQ(combo->currentData().toInt(), 5);
    // It is pulled out again.
    lines.present.pop_back();
    fs::remove(dev / "ttyACM0");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !d.lineEntries().join(QString()).contains("COM21"); }, 5000));
    EXPECT_EQ(d.ResultPort().ComNumber, 5);
    fs::remove_all(dev);
}

TEST(PortOptionsDialogTest, OtherBaudRatesAreChosenTypedAndChecked)
{
    FakeLines lines;
    lines.present = {{1, "/dev/ttyS0"}};
    PortOptionsDialog d(lines);
    d.Load(direct(1));
    auto* box = d.findChild<QComboBox*>(QStringLiteral("OtherBaudBox"));
    auto* other = d.findChild<QAbstractButton*>(QStringLiteral("OtherBaud"));
    ASSERT_TRUE(box && other);
    EXPECT_FALSE(other->isChecked());
    box->setCurrentIndex(box->findText(QStringLiteral("921600")));
    EXPECT_TRUE(other->isChecked()); // choosing a rate selects its item
    EXPECT_EQ(d.ResultPort().Baud, 921600u);
    box->setEditText(QStringLiteral("250000"));
    EXPECT_EQ(d.ResultPort().Baud, 250000u);
    // A rate out of range keeps the dialog open with a message.
    box->setEditText(QStringLiteral("12"));
    QTimer::singleShot(0, [] {
        if (auto* m = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            m->accept();
    });
    d.accept();
    EXPECT_NE(d.result(), QDialog::Accepted);
}

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
