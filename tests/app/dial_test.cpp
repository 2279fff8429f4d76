// Dialling in the main window, on an offscreen window with a fake telephony device:
// the dial, hang-up and reopening sequence with its flags, menu states and status panel,
// the session switch that waits for the modem, and the modem entries of the port dialog.

#include "test_home.h"
#include "app/com_port_access.h"
#include "app/ui/call_progress.h"
#include "app/ui/dial_controller.h"
#include "app/ui/dial_dialog.h"
#include "app/ui/main_form.h"
#include "app/ui/port_options_dialog.h"
#include "comm/telephony/telephony_device.h"
#include "ui_fakes.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QTest>

#include <deque>
#include <filesystem>
#include <unistd.h>

using namespace zelvo::app;
using namespace zelvo::app::testing;
using namespace zelvo::telephony;
using zelvo::platform::RegistryStore;
namespace fs = std::filesystem;

namespace {

class FakeTelephony : public TelephonyDevice {
public:
    std::vector<std::string> calls;
    std::deque<bool> endResults; // answers of the coming EndCall calls; empty: true
    std::string selected;
    uint16_t attempts = 3;
    uint16_t wait = 60;
    uint32_t rate = 0;

    std::vector<std::string> DeviceList() const override { return {"Sim"}; }
    std::string SelectedDevice() const override { return selected; }
    void setSelectedDevice(const std::string& n) override
    {
        selected = n;
        calls.push_back("select " + n);
    }
    uint16_t MaxAttempts() const override { return attempts; }
    void setMaxAttempts(uint16_t n) override { attempts = n; }
    uint16_t RetryWait() const override { return wait; }
    void setRetryWait(uint16_t s) override { wait = s; }
    uint32_t ConnectRate() const override { return rate; }
    void PlaceCall(const std::string& n) override { calls.push_back("PlaceCall " + n); }
    bool EndCall() override
    {
        calls.push_back("EndCall");
        bool r = endResults.empty() || endResults.front();
        if (!endResults.empty())
            endResults.pop_front();
        return r;
    }
    void OpenPassThrough() override { calls.push_back("OpenPassThrough"); }
    void ShowLineConfig() override { calls.push_back("ShowLineConfig"); }

    void status(bool first, uint32_t m, uint32_t s, uint32_t r = 0)
    {
        CallStatus c;
        c.first = first;
        c.message = m;
        c.state = s;
        c.reason = r;
        OnTapiStatus(c);
    }
    void last()
    {
        CallStatus c;
        c.last = true;
        OnTapiStatus(c);
    }
    std::vector<std::string> take()
    {
        std::vector<std::string> c;
        c.swap(calls);
        return c;
    }
};

class DialTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = testConfigHome("zelvo-dial");
        store_ = RegistryStore::defaultPath();
        // The default session is a modem line with a number dialled before; a named
        // session "office" is a direct port.
        RegistryStore s(store_);
        SessionSettings st;
        st.port.TapiMode = 1;
        st.port.Device = "Sim";
        st.script.Dial = "5551234";
        WriteRegistry(s, kDefaultSession, st);
        SessionSettings office;
        office.port.ComNumber = 3;
        WriteRegistry(s, SessionPath("office"), office);
        WriteSessions(s, {"office"});
        ASSERT_TRUE(s.save());
    }
    void TearDown() override
    {
        form_.reset();
        fs::remove_all(dir_);
    }

    MainForm& start()
    {
        form_ = std::make_unique<MainForm>(port_, terminal_, FileServerFunctions{}, store_, false);
        form_->setPrompts(&prompts_);
        form_->setTelephony(&device_);
        form_->dialController()->setDialPrompt([this](const DialRequest& preset) {
            presets_.push_back(preset);
            std::optional<DialRequest> a = answer_;
            return a;
        });
        form_->show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return form_->started(); }, 10000));
        QApplication::processEvents();
        return *form_;
    }
    bool enabled(const char* item) { return form_->action(item)->isEnabled(); }
    DialLogic& logic() { return form_->dialController()->logic(); }
    void dial(const std::string& number)
    {
        answer_ = DialRequest{number, 5, 90};
        form_->action("DialItem")->trigger();
    }

    fs::path dir_;
    std::string store_;
    FakePort port_;
    FakeTerminal terminal_;
    FakePrompts prompts_;
    FakeTelephony device_;
    std::optional<DialRequest> answer_;
    std::vector<DialRequest> presets_;
    std::unique_ptr<MainForm> form_;
};

} // namespace

TEST_F(DialTest, DialConnectHangUpAndExitThroughTheWholeSequence)
{
    MainForm& f = start();
    // The session's modem is opened in pass-through once nothing is in use.
    EXPECT_EQ(device_.take(),
              (std::vector<std::string>{"EndCall", "select Sim", "OpenPassThrough"}));
    for (const char* item : {"DialItem", "HangupItem", "TapiItem", "TapiSep"})
        EXPECT_TRUE(f.action(item)->isVisible()) << item;
    EXPECT_TRUE(enabled("DialItem"));
    EXPECT_FALSE(enabled("HangupItem"));
    EXPECT_EQ(f.statusPanel(0), "Sim");
    device_.OnTapiPortOpen();

    // Dial: the pass-through line cannot end at once; the call waits for its close.
    device_.endResults = {false};
    dial("5550000");
    ASSERT_EQ(presets_.size(), 1u);
    EXPECT_EQ(presets_[0].number, "5551234");
    EXPECT_EQ(presets_[0].attempts, 3);
    EXPECT_EQ(presets_[0].waitSeconds, 60);
    EXPECT_EQ(device_.take(), std::vector<std::string>{"EndCall"});
    EXPECT_EQ(device_.attempts, 5);
    EXPECT_EQ(device_.wait, 90);
    EXPECT_TRUE(logic().dialPending());
    EXPECT_EQ(f.statusPanel(3), "");
    device_.OnTapiPortClose();
    EXPECT_EQ(f.statusPanel(3), "Dialing 5550000");
    EXPECT_TRUE(enabled("HangupItem"));
    EXPECT_FALSE(enabled("DialItem"));
    QApplication::processEvents();
    EXPECT_EQ(device_.take(), std::vector<std::string>{"PlaceCall 5550000"});

    // Progress in panel 3 and in the call progress window.
    device_.status(true, kMsgCallState, kCallDialing);
    EXPECT_EQ(f.statusPanel(3), "Dialing...");
    CallProgress* progress = form_->dialController()->progressWindow();
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(progress->text(), "Dialing...");
    device_.status(false, kMsgDevice, kDeviceRetryWait, 30);
    EXPECT_EQ(f.statusPanel(3), "Waiting for retry in 30 seconds");
    device_.last();
    EXPECT_EQ(f.statusPanel(3), "");
    EXPECT_FALSE(progress->isVisible());

    device_.rate = 33600;
    device_.OnTapiPortOpen();
    device_.OnTapiConnect();
    EXPECT_EQ(f.statusPanel(3), "Connected at 33600 BPS");
    EXPECT_FALSE(logic().dialPending());
    // A menu refresh during the call (Copy) keeps Hangup usable.
    f.CopyItemClick();
    EXPECT_TRUE(enabled("HangupItem"));
    EXPECT_FALSE(enabled("DialItem"));

    // Hang up: the device needs a moment; the modem is reopened when it is done.
    device_.endResults = {false};
    f.action("HangupItem")->trigger();
    EXPECT_TRUE(logic().hangupRequested());
    EXPECT_EQ(device_.take(), std::vector<std::string>{"EndCall"});
    device_.OnTapiPortClose();
    EXPECT_FALSE(enabled("HangupItem"));
    EXPECT_TRUE(enabled("DialItem"));
    QApplication::processEvents();
    EXPECT_EQ(device_.take(), (std::vector<std::string>{"select Sim", "OpenPassThrough"}));

    f.action("TapiItem")->trigger();
    EXPECT_EQ(device_.take(), std::vector<std::string>{"ShowLineConfig"});

    // Exit with the line on the port: the call is ended, and its close changes nothing.
    port_.values.TapiMode = 2;
    f.close();
    EXPECT_EQ(device_.take(), std::vector<std::string>{"EndCall"});
    EXPECT_TRUE(logic().closing());
    device_.OnTapiPortClose();
    QApplication::processEvents();
    EXPECT_TRUE(device_.take().empty());
    RegistryStore s(store_);
    s.load();
    EXPECT_EQ(s.readString(GroupKey(kDefaultSession, "Script"), "Dial"), "5550000");
}

TEST_F(DialTest, FailuresCancelsAndAHangUpDuringTheAttempt)
{
    MainForm& f = start();
    device_.take();

    // The line is free at once: the call is placed at once. It fails.
    dial("777");
    EXPECT_EQ(device_.take(), (std::vector<std::string>{"EndCall", "PlaceCall 777"}));
    EXPECT_EQ(f.statusPanel(3), "Dialing 777");
    device_.status(true, kMsgCallState, kCallBusy);
    device_.last();
    device_.OnTapiFail();
    EXPECT_FALSE(logic().dialPending());
    EXPECT_FALSE(enabled("HangupItem"));
    EXPECT_TRUE(enabled("DialItem"));
    EXPECT_EQ(f.statusPanel(3), "");
    // The user is told why, and the modem comes back in pass-through.
    CallProgress* progress = form_->dialController()->progressWindow();
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(progress->text(), "Called number is busy");
    QApplication::processEvents();
    EXPECT_EQ(device_.take(), std::vector<std::string>{"OpenPassThrough"});

    // A cancelled dialog, or an empty number, leaves the line alone.
    answer_.reset();
    f.action("DialItem")->trigger();
    dial("");
    EXPECT_TRUE(device_.take().empty());

    // Hang up after the redial was queued: pass-through comes back, no call is placed.
    device_.endResults = {false};
    dial("888");
    device_.OnTapiPortClose();
    device_.endResults = {false};
    f.action("HangupItem")->trigger();
    QApplication::processEvents();
    EXPECT_EQ(device_.take(), (std::vector<std::string>{"EndCall", "EndCall", "OpenPassThrough"}));

    // A connection without a rate.
    dial("999");
    device_.rate = 0;
    device_.OnTapiPortOpen();
    device_.OnTapiConnect();
    EXPECT_EQ(f.statusPanel(3), "Connected");
}

TEST_F(DialTest, ChangingSessionOrPortWaitsForTheModemToLetGo)
{
    MainForm& f = start();
    device_.take();
    device_.OnTapiPortOpen();
    const int opens = port_.opens;

    // Choosing the direct-port session ends the modem's use first.
    device_.endResults = {false};
    f.SessionDelimClick(1);
    EXPECT_TRUE(logic().sessionPending());
    EXPECT_EQ(port_.opens, opens);
    device_.OnTapiPortClose();
    EXPECT_FALSE(logic().sessionPending());
    EXPECT_EQ(port_.opens, opens + 1);
    EXPECT_TRUE(port_.opened);
    EXPECT_EQ(port_.values.ComNumber, 3);
    EXPECT_FALSE(f.action("DialItem")->isVisible());
    EXPECT_EQ(device_.take(), (std::vector<std::string>{"EndCall", "EndCall"}));

    // Back to the modem through the port dialog, then to a direct port again while the
    // modem is in use: the port opens when the device reports its port closed.
    PortOptionValues modem;
    modem.TapiMode = 1;
    modem.Device = "Sim";
    prompts_.portAnswers = {modem};
    f.PortItemClick();
    QApplication::processEvents();
    EXPECT_EQ(device_.take(), (std::vector<std::string>{"EndCall", "select Sim", "OpenPassThrough"}));
    EXPECT_TRUE(f.action("DialItem")->isVisible());
    device_.OnTapiPortOpen();
    device_.endResults = {false};
    prompts_.portAnswers = {direct(4)};
    f.PortItemClick();
    EXPECT_FALSE(port_.opened);
    device_.OnTapiPortClose();
    EXPECT_TRUE(port_.opened);
    EXPECT_EQ(port_.values.ComNumber, 4);
    EXPECT_EQ(port_.values.TapiMode, 3u);
    EXPECT_EQ(device_.selected, "");
    QApplication::processEvents();
    EXPECT_EQ(std::count(device_.calls.begin(), device_.calls.end(), "OpenPassThrough"), 0);
}

TEST_F(DialTest, AModemThatCannotBeOpenedLeadsToThePortDialog)
{
    start();
    device_.take();
    const size_t shown = prompts_.portPresets.size();
    device_.OnTapiError("The modem \"Sim\" (/dev/ttyUSB7) cannot be opened: the device does "
                        "not exist.");
    ASSERT_FALSE(prompts_.errors.empty());
    EXPECT_TRUE(prompts_.errors.back().startsWith("The selected Port is not available"));
    EXPECT_TRUE(prompts_.errors.back().contains("/dev/ttyUSB7"));
    QApplication::processEvents();
    EXPECT_EQ(prompts_.portPresets.size(), shown + 1);
}

TEST_F(DialTest, DialDialogAndModemEntriesOfThePortDialog)
{
    DialDialog d;
    EXPECT_EQ(d.windowTitle(), "Enter phone number to dial");
    d.Load({"555-1234", 4, 120});
    DialRequest r = d.Result();
    EXPECT_EQ(r.number, "555-1234");
    EXPECT_EQ(r.attempts, 4);
    EXPECT_EQ(r.waitSeconds, 120);
    EXPECT_TRUE(DialDialog::IsDialString("T(030) 555-12,34;"));
    // A CR or a command of its own must not reach the modem with the number.
    EXPECT_FALSE(DialDialog::IsDialString("555\rATZ"));
    EXPECT_FALSE(DialDialog::IsDialString("555&F"));

    struct ModemLines : FakeLines {
        std::vector<ModemConfig> list;
        std::vector<ModemConfig> modems() override { return list; }
    } lines;
    lines.present = {{1, "/dev/ttyS0"}};
    lines.mapped[2] = "exec:/bin/sh -i";
    ModemConfig m;
    m.name = "Sim";
    m.device = "exec:zelvo32-modemsim";
    lines.list = {m};
    PortOptionsDialog pd(lines);
    PortOptionValues v;
    v.TapiMode = 1;
    v.Device = "sim";
    pd.Load(v);
    QStringList entries = pd.lineEntries();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries.last(), "Sim");
    EXPECT_TRUE(entries.first().startsWith("Direct to COM1"));
    pd.chooseEntry(2);
    EXPECT_EQ(pd.ResultPort().TapiMode, 1u);
    EXPECT_EQ(pd.ResultPort().Device, "Sim");
    pd.chooseEntry(0);
    EXPECT_EQ(pd.ResultPort().TapiMode, 3u);
}

TEST(ModemDirectory, ModemsAreAddedRenamedAndRemovedInTheStore)
{
    const fs::path dir = fs::temp_directory_path() / ("zelvo-modemdir-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    PortTableDirectory lines((dir / "registry.reg").string());
    ModemConfig m;
    m.name = "Sim";
    m.device = "exec:zelvo32-modemsim";
    std::string error;
    ASSERT_TRUE(lines.saveModem(m, "", error)) << error;
    // A second modem of the same name (in any case) would replace the first unseen.
    ModemConfig twin = m;
    twin.name = "SIM";
    EXPECT_FALSE(lines.saveModem(twin, "", error));
    EXPECT_NE(error.find("exists already"), std::string::npos);
    ModemConfig renamed = m;
    renamed.name = "Office";
    renamed.device = "COM5";
    ASSERT_TRUE(lines.saveModem(renamed, "Sim", error)) << error;
    std::vector<ModemConfig> now = lines.modems();
    ASSERT_EQ(now.size(), 1u);
    EXPECT_EQ(now[0], renamed);
    // Renaming onto another modem's name is refused too.
    ASSERT_TRUE(lines.saveModem(m, "", error));
    EXPECT_FALSE(lines.saveModem(renamed, "Sim", error));
    ASSERT_TRUE(lines.removeModem("office", error));
    ASSERT_EQ(lines.modems().size(), 1u);
    EXPECT_EQ(lines.modems()[0].name, "Sim");
    fs::remove_all(dir);
}

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
