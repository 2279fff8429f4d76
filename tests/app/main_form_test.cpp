#include "app/ui/key_map_editor.h"
#include "app/ui/main_form.h"
#include "app/ui/port_options_dialog.h"
#include "app/ui/rfs_statistic.h"
#include "ui_fakes.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QTimer>
#include <QLineEdit>
#include <QMessageBox>
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

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("zelvo-app-ui-" + std::to_string(::getpid()) + "-"
                                            + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
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
    // The remote side's title follows the program's own text in the caption.
    terminal_.onTitle("tester@box: ~");
    EXPECT_EQ(f.windowTitle().toStdString(), "Zelvo32 - tester@box: ~");
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

    // Change the live settings, then choose the session: its settings come back.
    port_.values.Baud = 300;
    terminal_.emulator = 0;
    item->trigger();
    EXPECT_EQ(port_.values.Baud, 9600u);
    EXPECT_EQ(terminal_.emulator, 3);
    EXPECT_TRUE(port_.opened);
    EXPECT_TRUE(f.action("VT100Item")->isChecked());

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

    f.ScrollbackItemClick();
    EXPECT_EQ(f.statusPanel(2), "OFFLINE");
    EXPECT_FALSE(terminal_.active);
    EXPECT_TRUE(f.action("ScrollbackItem")->isChecked());
    terminal_.onKeyPress();
    EXPECT_EQ(f.statusPanel(2), "");
    EXPECT_TRUE(terminal_.active);
    EXPECT_FALSE(f.action("ScrollbackItem")->isChecked());
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
    f.FontItemClick();
    EXPECT_EQ(terminal_.fontValues.height, -24);
    EXPECT_GT(f.width(), w);

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

TEST_F(MainFormTest, PasteSendsTheClipboardUnchanged)
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
    EXPECT_EQ(port_.sent, "show ver\r\nexit\n");
    terminal_.marked = QStringLiteral("copied");
    f.CopyItemClick();
    EXPECT_EQ(QApplication::clipboard()->text(), "copied");
}

TEST_F(MainFormTest, FileServerRequestIsAnsweredAndTheDriveLightGoesOut)
{
    storeDefaultPort(4);
    MainForm& f = start();
    f.LedItemClick();
    port_.receive("login: \x1b[#");
    EXPECT_EQ(port_.sent, "\x1b[#");
    EXPECT_FALSE(terminal_.active);
    port_.receive("RE");
    EXPECT_TRUE(f.driveLightLit());
    EXPECT_TRUE(f.statusTimerActive());
    port_.receive("Q1");
    EXPECT_EQ(port_.sent, "\x1b[#ANS1");
    EXPECT_TRUE(terminal_.active);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !f.driveLightLit(); }, 5000));
    EXPECT_FALSE(f.statusTimerActive());

    // Without a new start sequence a request is only text; a refused one gets nothing.
    port_.receive("REQ2");
    port_.receive("\x1b[#X123");
    EXPECT_EQ(port_.sent, "\x1b[#ANS1\x1b[#");
    EXPECT_EQ(TinyServer::counters[7], 1u);
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
    EXPECT_EQ(w->size(), QSize(347, 181));
    EXPECT_EQ(w->value("CrcLabel"), "-2147483648");
    EXPECT_EQ(w->value("RPacketsLabel"), "12");
    EXPECT_TRUE(w->timerActive());
    TinyServer::counters[6] = 13;
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->value("RPacketsLabel") == "13"; }, 5000));
    w->close();
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
