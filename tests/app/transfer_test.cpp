// File transfers from the main window with the real port, terminal window and protocol
// component, against lrzsz on a local command line; and the port choice dialog.

#include "test_home.h"
#include "app/com_port_access.h"
#include "app/ui/com_select_form.h"
#include "app/ui/main_form.h"
#include "app/ui/terminal_window_access.h"
#include "comm/com_port.h"
#include "comm/port_table.h"
#include "comm/ui/qt_ui_bridge.h"
#include "platform/clock.h"
#include "protocols/kermit_engine.h"
#include "protocols/protocol.h"
#include "protocols/ui/protocol_status.h"
#include "protocols/ui/standard_display.h"
#include "terminal/emulator.h"
#include "terminal/keyboard_emulator.h"
#include "terminal/ui/terminal_window.h"
#include "ui_fakes.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <fstream>
#include <random>
#include <sstream>

using namespace zelvo;
using namespace zelvo::app;
using namespace zelvo::app::testing;
namespace fs = std::filesystem;

namespace {

bool haveLrzsz()
{
    return ::access("/usr/bin/sz", X_OK) == 0 && ::access("/usr/bin/rz", X_OK) == 0;
}

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Bytes of every value, Zmodem's control characters included.
std::string randomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = char(rng() & 0xFF);
    return s;
}

void writeFile(const fs::path& p, const std::string& data)
{
    std::ofstream out(p, std::ios::binary);
    out << data;
}

// Message boxes that hold the user-interface thread in a nested event loop, as a modal
// box does, for as long as blockMs.
struct BlockingPrompts : FakePrompts {
    int blockMs = 0;
    void error(const QString& text) override
    {
        FakePrompts::error(text);
        if (blockMs > 0)
            QTest::qWait(blockMs);
    }
};

// Everything the main window works with, on the real components.
class TransferTest : public ::testing::Test {
protected:
    // Why the peer programs of the test cannot run, or nullptr when they can.
    virtual const char* missingPeer() const { return haveLrzsz() ? nullptr : "lrzsz (sz, rz) is not installed"; }

    void SetUp() override
    {
        if (const char* why = missingPeer())
            GTEST_SKIP() << why;
        dir_ = testConfigHome("zelvo-app-xfer");
        fs::create_directories(dir_ / "src");
        fs::create_directories(dir_ / "dest");
        store_ = platform::RegistryStore::defaultPath();
    }
    void TearDown() override
    {
        if (form_)
            form_->close();
        protocol_.setStatusDisplay(nullptr);
        status_.reset();
        form_.reset();
        portAccess_.reset();
        if (!dir_.empty())
            fs::remove_all(dir_);
    }

    // Maps port 39 to a command and makes it the default session's line.
    void line(const std::string& command, bool zmodemAuto = false)
    {
        platform::RegistryStore s(store_);
        s.load();
        comm::SetPortDevice(s, 39, "exec:" + command);
        SessionSettings st;
        st.port.ComNumber = 39;
        st.protocol.ZmodemAutoStart = zmodemAuto;
        WriteRegistry(s, kDefaultSession, st);
        ASSERT_TRUE(s.save());
    }

    void start()
    {
        port_.setAutoOpen(false);
        port_.setPromptForPort(false);
        window_.setEmulator(&emulator_);
        window_.setComPort(&port_);
        portAccess_ = std::make_unique<ComPortAccess>(port_, store_);
        form_ = std::make_unique<MainForm>(*portAccess_, terminalAccess_, FileServerFunctions{},
                                           store_, false);
        form_->setPrompts(&prompts_);
        form_->setTransfer(&protocol_, portAccess_.get());
        status_ = std::make_unique<protocols::ProtocolStatus>(protocol_, form_.get());
        protocol_.setStatusDisplay(status_.get());
        form_->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form_->started(); }, 10000));
        ASSERT_TRUE(port_.Open());
    }

    bool screenHas(const std::string& text) const { return screenRow(text) >= 0; }
    int screenRow(const std::string& text) const
    {
        const terminal::Buffer& b = window_.buffer();
        for (int r = 0; r < b.Rows(); ++r)
            if (b.rowText(r).find(text) != std::string::npos)
                return r;
        return -1;
    }

    bool waitTransferEnd(int ms = 60000)
    {
        return QTest::qWaitFor([&] { return !form_->transferRunning(); }, ms);
    }

    fs::path dir_;
    std::string store_;
    comm::QtUiBridge bridge_;
    comm::ComPort port_{bridge_};
    protocols::Protocol protocol_;
    terminal::Emulator emulator_{terminal::etANSI};
    terminal::KeyboardEmulator keyboard_;
    terminal::TerminalWindow window_;
    std::unique_ptr<ComPortAccess> portAccess_;
    TerminalWindowAccess terminalAccess_{window_, emulator_, keyboard_};
    BlockingPrompts prompts_;
    std::unique_ptr<MainForm> form_;
    std::unique_ptr<protocols::ProtocolStatus> status_;
};

} // namespace

TEST_F(TransferTest, MenusOfferEveryProtocolAndTheOptionsDialog)
{
    line("/bin/sh -c 'sleep 30'");
    start();
    for (int t = 1; t <= 9; ++t) {
        EXPECT_TRUE(form_->action(QStringLiteral("Send%1Item").arg(t).toLatin1())->isEnabled()) << t;
        EXPECT_TRUE(form_->action(QStringLiteral("Receive%1Item").arg(t).toLatin1())->isEnabled()) << t;
    }
    EXPECT_TRUE(form_->action("ProtocolItem")->isEnabled());

    // Switching the auto-start on in the options dialog arms the trigger at once, off
    // disarms it.
    EXPECT_EQ(form_->zmodemTriggerHandle(), 0);
    prompts_.protocolOptionsAutoStart = true;
    form_->ProtocolItemClick();
    EXPECT_NE(form_->zmodemTriggerHandle(), 0);
    prompts_.protocolOptionsAutoStart = false;
    form_->ProtocolItemClick();
    EXPECT_EQ(form_->zmodemTriggerHandle(), 0);

    // A code without a text is shown as its number, right after the colon; protocol
    // codes have their texts.
    form_->transfers().ProtocolProtocolError(-98765);
    ASSERT_TRUE(QTest::qWaitFor([&] { return prompts_.errors.size() == 1; }, 5000));
    EXPECT_EQ(prompts_.errors[0], "Fatal protokol error:-98765");
    form_->transfers().ProtocolProtocolError(-2007);
    ASSERT_TRUE(QTest::qWaitFor([&] { return prompts_.errors.size() == 2; }, 5000));
    EXPECT_TRUE(prompts_.errors[1].startsWith("Fatal protokol error:"));
    EXPECT_FALSE(prompts_.errors[1].contains("2007")) << prompts_.errors[1].toStdString();
    form_->transfers().ProtocolProtocolError(-6006);
    ASSERT_TRUE(QTest::qWaitFor([&] { return prompts_.errors.size() == 3; }, 5000));
    EXPECT_EQ(prompts_.errors[2], "Fatal protokol error:Fatal time out");

    // Cancelling the send dialog starts nothing.
    form_->SendItemClick(7);
    EXPECT_FALSE(form_->transferRunning());
    EXPECT_TRUE(window_.Active());
}

TEST_F(TransferTest, ProtocolSettingsAreAppliedAndReadBack)
{
    {
        platform::RegistryStore s(store_);
        s.load();
        comm::SetPortDevice(s, 39, "exec:/bin/sh -c 'sleep 30'");
        SessionSettings st;
        st.port.ComNumber = 39;
        st.protocol.ProtocolType = 7;
        st.protocol.ZmodemFileOption = 6;
        st.protocol.Zmodem8K = true;
        st.protocol.KermitMaxLen = 90;
        st.protocol.WriteFailAction = 1;
        st.protocol.AsciiEOFTimeout = 200;
        WriteRegistry(s, kDefaultSession, st);
        ASSERT_TRUE(s.save());
    }
    start();
    EXPECT_EQ(protocol_.ProtocolType(), protocols::ptZmodem);
    EXPECT_EQ(protocol_.ZmodemFileOption(), protocols::zfoWriteDifferent);
    EXPECT_TRUE(protocol_.Zmodem8K());
    EXPECT_EQ(protocol_.KermitMaxLen(), 90u);
    EXPECT_EQ(protocol_.WriteFailAction(), protocols::wfWriteFail);
    protocol_.setAsciiEOFTimeout(91);
    protocol_.setZmodemRecover(true);
    form_->writeSettingsNow();
    platform::RegistryStore s(store_);
    ASSERT_TRUE(s.load());
    SessionSettings back;
    ReadRegistry(s, kDefaultSession, back);
    EXPECT_EQ(back.protocol.AsciiEOFTimeout, 91u);
    EXPECT_TRUE(back.protocol.ZmodemRecover);
    EXPECT_EQ(back.protocol.ZmodemFileOption, 6u);
}

TEST_F(TransferTest, ReceiveFromTheMenuWritesTheFileAndTheTerminalWorksAfterwards)
{
    const std::string data = randomBytes(150 * 1024 + 77, 1);
    writeFile(dir_ / "src" / "image.bin", data);
    // sz starts once our receiver has spoken (dd takes its first byte), and the text
    // after it comes at once, as a shell prompt does: often in the same read as the
    // protocol's last bytes.
    line("/bin/sh -c 'cd \"" + (dir_ / "src").string()
         + "\" && dd bs=1 count=1 >/dev/null 2>&1; sz -q image.bin; echo after-transfer-ok; sleep 30'");
    start();
    prompts_.directoryAnswer = QString::fromStdString((dir_ / "dest").string());
    form_->ReceiveItemClick(7);
    EXPECT_TRUE(form_->transferRunning());
    EXPECT_FALSE(window_.Active());
    ASSERT_TRUE(waitTransferEnd());
    EXPECT_TRUE(prompts_.errors.empty()) << prompts_.errors[0].toStdString();
    ASSERT_TRUE(fs::exists(dir_ / "dest" / "image.bin"));
    EXPECT_TRUE(slurp(dir_ / "dest" / "image.bin") == data);
    EXPECT_EQ(form_->settings().protocol.BatchPath, (dir_ / "dest").string());
    // The status window came up and went away at the end.
    ASSERT_NE(status_->Display(), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !status_->Display()->isVisible(); }, 5000));
    EXPECT_TRUE(window_.Active());
    // What the peer printed right after the transfer reaches the screen, after the line
    // that records the transfer.
    EXPECT_TRUE(QTest::qWaitFor([&] { return screenHas("after-transfer-ok"); }, 15000));
    EXPECT_LT(screenRow("[Zmodem receive: image.bin, 153677 bytes in "), screenRow("after-transfer-ok"));
}

TEST_F(TransferTest, ZmodemFromThePeerStartsAReceiveByItself)
{
    const std::string data = randomBytes(40000, 2);
    writeFile(dir_ / "src" / "auto.dat", data);
    line("/bin/sh -c 'cd \"" + (dir_ / "src").string()
             + "\" && sleep 1 && sz -q auto.dat; echo done; sleep 30'",
         true);
    prompts_.directoryAnswer = QString::fromStdString((dir_ / "dest").string());
    start();
    EXPECT_NE(form_->zmodemTriggerHandle(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts_.directoryPresets.empty(); }, 20000));
    ASSERT_TRUE(waitTransferEnd());
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(dir_ / "dest" / "auto.dat"); }, 5000));
    EXPECT_TRUE(slurp(dir_ / "dest" / "auto.dat") == data);
    EXPECT_TRUE(prompts_.errors.empty());
    // The line is the terminal's again, and the trigger waits for the next transfer.
    EXPECT_TRUE(window_.Active());
    EXPECT_NE(form_->zmodemTriggerHandle(), 0);
}

TEST_F(TransferTest, SendFromTheMenuDeliversEveryPickedFile)
{
    const std::string a = randomBytes(70000, 3), b = randomBytes(513, 4);
    writeFile(dir_ / "src" / "first.bin", a);
    writeFile(dir_ / "src" / "second.bin", b);
    line("/bin/sh -c 'cd \"" + (dir_ / "dest").string() + "\" && rz -q; sleep 30'");
    start();
    // Zmodem is a batch protocol: the dialog allows several files.
    prompts_.sendAnswer = {QString::fromStdString((dir_ / "src" / "first.bin").string()),
                           QString::fromStdString((dir_ / "src" / "second.bin").string())};
    form_->SendItemClick(7);
    ASSERT_EQ(prompts_.sendMultiple.size(), 1u);
    EXPECT_TRUE(prompts_.sendMultiple[0]);
    ASSERT_TRUE(waitTransferEnd());
    EXPECT_TRUE(prompts_.errors.empty()) << prompts_.errors[0].toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(dir_ / "dest" / "second.bin"); }, 5000));
    EXPECT_TRUE(slurp(dir_ / "dest" / "first.bin") == a);
    EXPECT_TRUE(QTest::qWaitFor([&] { return slurp(dir_ / "dest" / "second.bin") == b; }, 5000));
    EXPECT_EQ(form_->settings().protocol.SendFile, (dir_ / "src" / "first.bin").string());
    EXPECT_TRUE(window_.Active());
}

TEST_F(TransferTest, FailedTransferShowsTheErrorAndReturnsTheLine)
{
    line("/bin/sh -c 'cd \"" + (dir_ / "dest").string() + "\" && rz -q; sleep 30'");
    start();
    // The message box stays open for four seconds; the transfer, which reported the
    // missing file on the line's thread, is not held by it.
    prompts_.blockMs = 4000;
    prompts_.sendAnswer = {QString::fromStdString((dir_ / "src" / "missing.bin").string())};
    const int64_t t0 = platform::monotonicMs();
    std::atomic<int64_t> endedAfter{-1};
    form_->SendItemClick(7);
    std::thread watch([&] {
        while (protocol_.InProgress() && platform::monotonicMs() - t0 < 20000)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        endedAfter = platform::monotonicMs() - t0;
    });
    EXPECT_TRUE(waitTransferEnd());
    watch.join();
    EXPECT_LT(endedAfter.load(), 3000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts_.errors.empty(); }, 10000));
    EXPECT_TRUE(prompts_.errors[0].startsWith("Fatal protokol error:File not found"))
        << prompts_.errors[0].toStdString();
    EXPECT_TRUE(window_.Active());
    prompts_.blockMs = 0;
    EXPECT_FALSE(fs::exists(dir_ / "dest" / "missing.bin"));

    // A line that is closed cannot carry a transfer: the user is told so, once.
    writeFile(dir_ / "src" / "present.bin", "data");
    port_.setOpen(false);
    prompts_.errors.clear();
    prompts_.sendAnswer = {QString::fromStdString((dir_ / "src" / "present.bin").string())};
    form_->SendItemClick(7);
    ASSERT_TRUE(waitTransferEnd());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts_.errors.empty(); }, 5000));
    QTest::qWait(50);
    ASSERT_EQ(prompts_.errors.size(), 1u);
    EXPECT_TRUE(prompts_.errors[0].startsWith("Fatal protokol error:"));
    EXPECT_TRUE(window_.Active());
}

TEST_F(TransferTest, OneFileProtocolsReceiveIntoTheChosenFileAndAFailedTransferIsRecorded)
{
    const std::string data = randomBytes(50000 + 3, 5);
    writeFile(dir_ / "src" / "f.bin", data);
    line("/bin/sh -c 'cd \"" + (dir_ / "src").string() + "\" && sx -k f.bin 2>/dev/null; echo sx-done; sleep 30'");
    start();
    // The start character is repeated each second, so sx hears it once it listens.
    protocol_.setHandshakeWait(18);
    const fs::path target = dir_ / "dest" / "out.bin";
    writeFile(target, "an older file of that name");
    prompts_.receiveAnswer = QString::fromStdString(target.string());
    form_->ReceiveItemClick(3);
    ASSERT_TRUE(waitTransferEnd());
    EXPECT_TRUE(prompts_.errors.empty()) << prompts_.errors[0].toStdString();
    const std::string got = slurp(target);
    ASSERT_GE(got.size(), data.size());
    EXPECT_TRUE(got.compare(0, data.size(), data) == 0);
    EXPECT_EQ(got.find_first_not_of('\x1a', data.size()), std::string::npos) << "only fill after the data";
    EXPECT_EQ(form_->settings().protocol.ReceiveFile, target.string());
    EXPECT_TRUE(QTest::qWaitFor([&] { return screenHas("sx-done"); }, 15000));

    // Nobody sends now: a Kermit receive gives up after its one retry, and the failure
    // is both reported and recorded on the terminal below the earlier transfer's line.
    protocol_.setHandshakeRetry(1);
    form_->ReceiveItemClick(8);
    ASSERT_TRUE(waitTransferEnd(15000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts_.errors.empty(); }, 5000));
    EXPECT_TRUE(prompts_.errors[0].startsWith("Fatal protokol error:")) << prompts_.errors[0].toStdString();
    EXPECT_TRUE(window_.Active());
    EXPECT_TRUE(screenHas("[Xmodem1K receive: out.bin, 500"));
    EXPECT_TRUE(screenHas("[Kermit receive failed: "));
}

TEST_F(TransferTest, StatusWindowAndCancelFromTheHandshakeOn)
{
    line("/bin/sh -c 'sleep 30'");
    start();
    prompts_.directoryAnswer = QString::fromStdString((dir_ / "dest").string());
    form_->ReceiveItemClick(7);
    ASSERT_TRUE(QTest::qWaitFor([&] { return status_->Display() && status_->Display()->isVisible(); }, 5000));
    EXPECT_EQ(status_->Display()->psStatusMsg->text(), "Protocol handshaking in progress");
    status_->Display()->psCancel->click();
    ASSERT_TRUE(waitTransferEnd(10000));
    EXPECT_FALSE(status_->Display()->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts_.errors.empty(); }, 5000));
    EXPECT_EQ(prompts_.errors[0], "Fatal protokol error:Cancel requested");
    EXPECT_TRUE(window_.Active());
}

TEST_F(TransferTest, ACancelFromTheFarSideIsReported)
{
    // The far side cancels: no error event comes, only the finish.
    line("/bin/sh -c 'dd bs=1 count=1 >/dev/null 2>&1; printf \"\\030\\030\\030\\030\\030\\030\\030\\030\"; sleep 30'");
    start();
    prompts_.directoryAnswer = QString::fromStdString((dir_ / "dest").string());
    form_->ReceiveItemClick(7);
    ASSERT_TRUE(waitTransferEnd(20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts_.errors.empty(); }, 5000));
    EXPECT_EQ(prompts_.errors[0], "Fatal protokol error:Cancel requested");
    EXPECT_EQ(prompts_.errors.size(), 1u);
}

// The port's triggers come back when a lost line is opened again: the auto-start
// trigger must not be added anew each time.
TEST_F(TransferTest, LostLinesLeaveNoAutoStartTriggersBehind)
{
    // The line ends when it is told to, so a loaded machine cannot end it before the
    // trigger is checked, and the reopened line lives until the test is over.
    line("/bin/sh -c 'read x'", true);
    start();
    ASSERT_NE(form_->zmodemTriggerHandle(), 0);
    port_.PutBlock("x\n", 2);
    auto dataTriggers = [&] {
        comm::TriggerSnapshot snap;
        port_.Dispatcher()->SnapshotTriggers(snap);
        return std::count_if(snap.data.begin(), snap.data.end(), [](const auto& t) { return t.length > 0; });
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts_.errors.empty(); }, 10000));
    ASSERT_FALSE(port_.Open());
    prompts_.portAnswers.push_back(portAccess_->settings());
    form_->PortItemClick();
    // The lost line's close may still be finishing: the open then follows it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return port_.Open(); }, 10000));
    EXPECT_EQ(dataTriggers(), 1);
    EXPECT_NE(form_->zmodemTriggerHandle(), 0);
}

// ---- The port choice dialog ------------------------------------------------------------

namespace {

class PtyPair {
public:
    PtyPair()
    {
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0)
            path_ = name;
    }
    ~PtyPair()
    {
        if (master_ >= 0)
            ::close(master_);
        if (slave_ >= 0)
            ::close(slave_);
    }
    const std::string& path() const { return path_; }

private:
    int master_ = -1, slave_ = -1;
    std::string path_;
};

class SelectPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("zelvo-app-select-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        store_ = platform::RegistryStore::defaultPath();
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
    std::string store_;
};

} // namespace

// Kermit from the menus, against G-Kermit and C-Kermit on the local command line.
class KermitTransferTest : public TransferTest {
protected:
    const char* missingPeer() const override
    {
        if (::access("/usr/bin/gkermit", X_OK) != 0)
            return "G-Kermit (gkermit) is not installed";
        if (::access("/usr/bin/kermit", X_OK) != 0)
            return "C-Kermit (kermit) is not installed";
        return nullptr;
    }
    const protocols::KermitEngine* engine() const
    {
        return dynamic_cast<const protocols::KermitEngine*>(protocol_.engine());
    }
};

TEST_F(KermitTransferTest, ReceiveFromTheMenuAndTheTerminalWorksAfterwards)
{
    const std::string data = randomBytes(120 * 1024 + 5, 11);
    writeFile(dir_ / "src" / "kermit.bin", data);
    line("/bin/sh -c 'cd \"" + (dir_ / "src").string()
         + "\" && gkermit -q -i -P -e 1000 -s kermit.bin; echo after-kermit-ok; sleep 30'");
    start();
    // What the options dialog sets is what the engine offers.
    protocol_.setKermitMaxLen(1000);
    prompts_.directoryAnswer = QString::fromStdString((dir_ / "dest").string());
    form_->ReceiveItemClick(8);
    EXPECT_TRUE(form_->transferRunning());
    ASSERT_TRUE(waitTransferEnd());
    EXPECT_TRUE(prompts_.errors.empty()) << prompts_.errors[0].toStdString();
    ASSERT_TRUE(fs::exists(dir_ / "dest" / "kermit.bin"));
    EXPECT_TRUE(slurp(dir_ / "dest" / "kermit.bin") == data);
    ASSERT_NE(engine(), nullptr);
    EXPECT_TRUE(engine()->link().longPackets);
    EXPECT_TRUE(window_.Active());
    EXPECT_TRUE(QTest::qWaitFor([&] { return screenHas("after-kermit-ok"); }, 15000));
}

TEST_F(KermitTransferTest, SendFromTheMenuWithWindowsAndLongPackets)
{
    const std::string a = randomBytes(200000, 12), b = randomBytes(3, 13);
    writeFile(dir_ / "src" / "one.bin", a);
    writeFile(dir_ / "src" / "two.bin", b);
    {
        std::ofstream cmds(dir_ / "dest" / "cmds");
        cmds << "set file type binary\nset transfer mode manual\nset streaming off\n"
                "set file names literal\nset window 20\nset receive packet-length 1000\nreceive\nexit\n";
    }
    line("/bin/sh -c 'cd \"" + (dir_ / "dest").string() + "\" && kermit -Y -q -C \"take cmds\"; sleep 30'");
    start();
    // Long packets and windows as the options dialog's Kermit fields set them.
    prompts_.protocolOptionsAutoStart = false;
    prompts_.protocolOptionsFill = [](protocols::ProtocolOptions& d) {
        d.kBlockLen->setText("1000");
        d.kWindows->setText("20");
    };
    form_->ProtocolItemClick();
    prompts_.sendAnswer = {QString::fromStdString((dir_ / "src" / "one.bin").string()),
                           QString::fromStdString((dir_ / "src" / "two.bin").string())};
    form_->SendItemClick(8);
    ASSERT_EQ(prompts_.sendMultiple.size(), 1u);
    EXPECT_TRUE(prompts_.sendMultiple[0]) << "Kermit sends batches";
    ASSERT_TRUE(waitTransferEnd());
    EXPECT_TRUE(prompts_.errors.empty()) << prompts_.errors[0].toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return slurp(dir_ / "dest" / "two.bin") == b; }, 5000));
    EXPECT_TRUE(slurp(dir_ / "dest" / "one.bin") == a);
    ASSERT_NE(engine(), nullptr);
    EXPECT_EQ(engine()->link().windows, 20u);
    EXPECT_TRUE(engine()->link().longPackets);
    EXPECT_TRUE(window_.Active());
    form_->writeSettingsNow();
    platform::RegistryStore s(store_);
    ASSERT_TRUE(s.load());
    SessionSettings back;
    ReadRegistry(s, kDefaultSession, back);
    EXPECT_EQ(back.protocol.KermitMaxLen, 1000u);
    EXPECT_EQ(back.protocol.KermitMaxWindows, 20u);
}

TEST_F(SelectPortTest, ListsAMappedPortAndItsChoiceSetsComNumber)
{
    PtyPair pty;
    ASSERT_FALSE(pty.path().empty());
    {
        platform::RegistryStore s(store_);
        comm::SetPortDevice(s, 44, pty.path());
        comm::SetPortDevice(s, 45, "/nonexistent/tty-device");
        ASSERT_TRUE(s.save());
    }
    {
        ComSelectForm form(store_);
        EXPECT_EQ(form.windowTitle(), "Select Port");
        EXPECT_EQ(form.Label1->text(), "The configured serial port is not valid.");
        EXPECT_EQ(form.Label2->text(), "Please choose another port.");
        const QString entry = QString::fromStdString(comm::PortChoiceText(44, pty.path()));
        EXPECT_GE(form.PortsComboBox->findText(entry), 0);
        EXPECT_LT(form.PortsComboBox->findText(QString::fromStdString(
                      comm::PortChoiceText(45, "/nonexistent/tty-device"))),
                  0);
        EXPECT_EQ(form.PortsComboBox->currentIndex(), 0);
    }

    // The port asks through the dialog when it has no number; the choice is kept.
    comm::QtUiBridge bridge;
    comm::ComPort port(bridge);
    port.setAutoOpen(false);
    port.setComNumber(0);
    port.setPromptForPort(true);
    InstallPortPrompt(port, store_, nullptr);
    bool shown = false;
    QTimer::singleShot(50, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* f = qobject_cast<ComSelectForm*>(w);
            if (!f || !f->isVisible())
                continue;
            shown = true;
            f->PortsComboBox->setCurrentIndex(f->PortsComboBox->findText(
                QString::fromStdString(comm::PortChoiceText(44, pty.path()))));
            f->OkBtn->click();
        }
    });
    port.setOpen(true);
    EXPECT_TRUE(shown);
    EXPECT_EQ(port.ComNumber(), 44);
    EXPECT_TRUE(port.Open());
    port.setOpen(false);

    // Cancel leaves the port closed and its number unset.
    comm::ComPort other(bridge);
    other.setAutoOpen(false);
    other.setPromptForPort(true);
    InstallPortPrompt(other, store_, nullptr);
    QTimer::singleShot(50, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* f = qobject_cast<ComSelectForm*>(w); f && f->isVisible())
                f->AbortBtn->click();
    });
    try {
        other.setOpen(true);
    } catch (const std::exception&) {
        // The port reports that no number was chosen.
    }
    EXPECT_FALSE(other.Open());
    EXPECT_EQ(other.ComNumber(), 0);
}

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
