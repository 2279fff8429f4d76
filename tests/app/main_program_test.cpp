// The main window with the real port component, terminal window and file server, on a
// pseudo-terminal whose far end the test plays; and the program itself under SIGTERM.

#include "test_home.h"
#include "app/com_port_access.h"
#include "app/ui/macro_controller.h"
#include "app/ui/main_form.h"
#include "app/ui/view_controller.h"
#include "app/ui/paste_controller.h"
#include "app/ui/terminal_window_access.h"
#include "comm/com_port.h"
#include "comm/port_table.h"
#include "comm/ui/qt_ui_bridge.h"
#include "file_server/check_sum.h"
#include "file_server/nerrit.h"
#include "terminal/emulator.h"
#include "terminal/keyboard_emulator.h"
#include "terminal/ui/hex_view.h"
#include "terminal/ui/terminal_window.h"
#include "ui_fakes.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

extern char** environ;

using namespace zelvo;
using namespace zelvo::app;
using namespace zelvo::app::testing;
namespace fs = std::filesystem;

namespace {

// The master side of a pseudo-terminal pair; the port opens the slave by its path.
class Peer {
public:
    Peer()
    {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
            termios t{};
            ::tcgetattr(slave, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(slave, TCSANOW, &t);
            slave_ = slave;
            path_ = name;
            ::fcntl(master_, F_SETFL, O_NONBLOCK);
        }
    }
    ~Peer()
    {
        if (master_ >= 0)
            ::close(master_);
        if (slave_ >= 0)
            ::close(slave_);
    }
    const std::string& path() const { return path_; }
    // Writes all of s, letting the program read while the line is full.
    void write(const std::string& s)
    {
        size_t done = 0;
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (done < s.size() && std::chrono::steady_clock::now() < until) {
            ssize_t n = ::write(master_, s.data() + done, s.size() - done);
            if (n > 0)
                done += size_t(n);
            else
                QTest::qWait(5);
        }
        ASSERT_EQ(done, s.size());
    }
    // Everything that arrived until the event loop has been idle for a while.
    std::string read(size_t want, int timeoutMs = 10000)
    {
        std::string got;
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < want && std::chrono::steady_clock::now() < until) {
            QTest::qWait(5);
            char buf[2048];
            ssize_t n;
            while ((n = ::read(master_, buf, sizeof buf)) > 0)
                got.append(buf, size_t(n));
        }
        return got;
    }

    // Reads like a slow peer: at most chunk bytes every few milliseconds.
    std::string readSlowly(size_t want, size_t chunk, int timeoutMs = 60000)
    {
        std::string got;
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::vector<char> buf(chunk);
        while (got.size() < want && std::chrono::steady_clock::now() < until) {
            QTest::qWait(2);
            ssize_t n = ::read(master_, buf.data(), buf.size());
            if (n > 0)
                got.append(buf.data(), size_t(n));
        }
        return got;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// A request with a code that names no operation: the server answers error 5 with an
// empty payload.
std::string request(uint16_t code, uint16_t owner)
{
    uint8_t p[20] = {'K', 'Y', 16, 0, 0xEF, 0xFF};
    p[6] = uint8_t(code);
    p[7] = uint8_t(code >> 8);
    p[12] = uint8_t(owner);
    p[13] = uint8_t(owner >> 8);
    uint32_t crc = file_server::checkSum(p, 16);
    for (int i = 0; i < 4; ++i)
        p[16 + i] = uint8_t(crc >> (8 * i));
    return std::string(reinterpret_cast<char*>(p), 20);
}

std::string reply(uint16_t code, uint16_t owner)
{
    uint8_t p[20] = {'L', 'Y', 16, 0, 0xEF, 0xFF, uint8_t(code), uint8_t(code >> 8)};
    p[12] = uint8_t(owner);
    p[13] = uint8_t(owner >> 8);
    uint32_t crc = file_server::checkSum(p, 16);
    for (int i = 0; i < 4; ++i)
        p[16 + i] = uint8_t(crc >> (8 * i));
    return std::string(reinterpret_cast<char*>(p), 20);
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = testConfigHome("zelvo-app-prog");
        // The file server's default drive and the program's files go to the test's own
        // home, never the user's.
        if (const char* home = std::getenv("HOME"))
            savedHome_ = home;
        ::setenv("HOME", dir_.c_str(), 1);
        store_ = platform::RegistryStore::defaultPath();
    }
    void TearDown() override
    {
        if (savedHome_)
            ::setenv("HOME", savedHome_->c_str(), 1);
        else
            ::unsetenv("HOME");
        fs::remove_all(dir_);
    }

    void mapDefault(int number, const std::string& device)
    {
        platform::RegistryStore s(store_);
        s.load();
        comm::SetPortDevice(s, number, device);
        SessionSettings st;
        st.port.ComNumber = uint32_t(number);
        WriteRegistry(s, kDefaultSession, st);
        ASSERT_TRUE(s.save());
    }

    fs::path dir_;
    std::string store_;
    std::optional<std::string> savedHome_;
};

} // namespace

TEST_F(ProgramTest, FileServerRequestFromThePeerIsAnsweredByteForByte)
{
    Peer peer;
    ASSERT_FALSE(peer.path().empty());
    mapDefault(37, peer.path());

    comm::QtUiBridge bridge;
    comm::ComPort port(bridge);
    port.setAutoOpen(false);
    port.setPromptForPort(false);
    terminal::Emulator emulator(terminal::etANSI);
    terminal::KeyboardEmulator keyboard;
    terminal::TerminalWindow window;
    window.setEmulator(&emulator);
    window.setComPort(&port);
    ComPortAccess portAccess(port, store_);
    TerminalWindowAccess terminalAccess(window, emulator, keyboard);
    FakePrompts prompts;
    {
        MainForm form(portAccess, terminalAccess,
                      FileServerFunctions{&ServerReceive, &ServerDispatch, &ServerStatistic}, store_,
                      false);
        form.setPrompts(&prompts);
        form.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form.started(); }, 10000));
        ASSERT_TRUE(port.Open()) << (prompts.errors.empty() ? "" : prompts.errors[0].toStdString());
        EXPECT_EQ(form.statusPanel(0), " COM37  8N1  57600");

        peer.write("hello\r\n\x1b[#");
        EXPECT_EQ(peer.read(3), "\x1b[#");
        peer.write(request(99, 0x1234));
        EXPECT_EQ(peer.read(20), reply(5, 0x1234));
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.Active(); }, 5000));
        // With no drive configured, C: is served from the (test's) home directory.
        EXPECT_TRUE(fs::is_directory(dir_ / "zelvo32-share"));

        // A second request without its own start sequence is only text for the terminal.
        uint64_t shown = window.bytesShown();
        peer.write(request(99, 1));
        EXPECT_EQ(peer.read(1, 500), "");
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.bytesShown() >= shown + 20; }, 5000));

        // Text before a start sequence, a whole request and text after it in one write:
        // the terminal shows the text, the server gets the request.
        peer.write("\r\nbefore\x1b[#" + request(99, 7) + "after\r\n");
        EXPECT_EQ(peer.read(23), "\x1b[#" + reply(5, 7));
        auto screenHas = [&](const std::string& text) {
            const terminal::Buffer& b = window.buffer();
            for (int r = 0; r <= b.highestRow(); ++r)
                if (b.rowText(r) == text)
                    return true;
            return false;
        };
        EXPECT_TRUE(QTest::qWaitFor([&] { return screenHas("beforeafter"); }, 5000));

        // A packet with a broken check sum is refused without an answer.
        std::string bad = request(99, 2);
        bad[19] = char(bad[19] ^ 0x55);
        peer.write("\x1b[#" + bad);
        EXPECT_EQ(peer.read(3), "\x1b[#");
        EXPECT_EQ(peer.read(1, 500), "");
        EXPECT_EQ(form.router().state(), 0);
        form.close();
    }
    EXPECT_FALSE(port.Open());
}

TEST_F(ProgramTest, PasteToASlowPeerArrivesWhole)
{
    Peer peer;
    ASSERT_FALSE(peer.path().empty());
    mapDefault(37, peer.path());
    comm::QtUiBridge bridge;
    comm::ComPort port(bridge);
    port.setAutoOpen(false);
    port.setPromptForPort(false);
    terminal::Emulator emulator(terminal::etANSI);
    terminal::KeyboardEmulator keyboard;
    terminal::TerminalWindow window;
    window.setEmulator(&emulator);
    window.setComPort(&port);
    ComPortAccess portAccess(port, store_);
    TerminalWindowAccess terminalAccess(window, emulator, keyboard);
    FakePrompts prompts;
    MainForm form(portAccess, terminalAccess, FileServerFunctions{}, store_, false);
    form.setPrompts(&prompts);
    form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.started(); }, 10000));
    ASSERT_TRUE(port.Open());

    // Far more than the output buffer and the pseudo-terminal hold together.
    std::string text;
    for (int i = 0; text.size() < 96 * 1024; ++i)
        text += "configure line " + std::to_string(i) + " with some settings\n";
    QApplication::clipboard()->setText(QString::fromStdString(text));
    form.PasteItemClick();
    // The window is back at once; the rest follows as the peer reads.
    EXPECT_TRUE(form.paste().pasting());
    std::string expected = text;
    std::replace(expected.begin(), expected.end(), '\n', '\r');
    std::string got = peer.readSlowly(expected.size(), 256);
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "the paste arrived changed";
    EXPECT_FALSE(form.paste().pasting());
    form.close();
}

TEST_F(ProgramTest, CaptureFailuresAreToldOnceWithTheirReason)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    Peer peer;
    mapDefault(37, peer.path());
    comm::QtUiBridge bridge;
    comm::ComPort port(bridge);
    port.setAutoOpen(false);
    port.setPromptForPort(false);
    terminal::Emulator emulator(terminal::etANSI);
    terminal::KeyboardEmulator keyboard;
    terminal::TerminalWindow window;
    window.setEmulator(&emulator);
    window.setComPort(&port);
    ComPortAccess portAccess(port, store_);
    TerminalWindowAccess terminalAccess(window, emulator, keyboard);
    FakePrompts prompts;
    MainForm form(portAccess, terminalAccess, FileServerFunctions{}, store_, false);
    form.setPrompts(&prompts);
    form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.started(); }, 10000));

    // A file that cannot be created: one message, with the reason.
    prompts.captureAnswer = QString::fromStdString((dir_ / "no" / "such" / "x.log").string());
    form.LogItemClick();
    QTest::qWait(100);
    ASSERT_EQ(prompts.errors.size(), 1u);
    EXPECT_TRUE(prompts.errors[0].contains("x.log"));
    EXPECT_TRUE(prompts.errors[0].contains("not found")) << prompts.errors[0].toStdString();
    EXPECT_EQ(form.statusPanel(1), "");

    // The last bytes cannot be written when the capture ends: one message.
    prompts.errors.clear();
    prompts.captureAnswer = QStringLiteral("/dev/full");
    form.LogItemClick();
    ASSERT_EQ(form.statusPanel(1), "LOG");
    peer.write("a few bytes\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.bytesShown() >= 13; }, 5000));
    form.LogItemClick();
    QTest::qWait(100);
    ASSERT_EQ(prompts.errors.size(), 1u);
    EXPECT_TRUE(prompts.errors[0].contains("/dev/full"));
    EXPECT_EQ(form.statusPanel(1), "");

    // A full disk while text arrives stops the capture with one message.
    prompts.errors.clear();
    form.LogItemClick();
    ASSERT_EQ(form.statusPanel(1), "LOG");
    std::string line(79, 'x');
    for (int i = 0; i < 200; ++i)
        peer.write(line + "\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts.errors.empty(); }, 10000));
    QTest::qWait(100);
    EXPECT_EQ(prompts.errors.size(), 1u);
    EXPECT_TRUE(prompts.errors[0].contains("/dev/full")) << prompts.errors[0].toStdString();
    EXPECT_EQ(form.statusPanel(1), "");
    EXPECT_EQ(form.action("LogItem")->text(), "&Open capture file...");
    EXPECT_TRUE(port.Open());
    form.close();
}

TEST_F(ProgramTest, LineThatEndsIsReportedAndCanBeReopened)
{
    mapDefault(38, "exec:/bin/sh -c 'sleep 0.3'");
    comm::QtUiBridge bridge;
    comm::ComPort port(bridge);
    port.setAutoOpen(false);
    port.setPromptForPort(false);
    terminal::Emulator emulator(terminal::etANSI);
    terminal::KeyboardEmulator keyboard;
    terminal::TerminalWindow window;
    window.setEmulator(&emulator);
    window.setComPort(&port);
    ComPortAccess portAccess(port, store_);
    TerminalWindowAccess terminalAccess(window, emulator, keyboard);
    FakePrompts prompts;
    MainForm form(portAccess, terminalAccess, FileServerFunctions{}, store_, false);
    form.setPrompts(&prompts);
    form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.started(); }, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts.errors.empty(); }, 30000));
    EXPECT_TRUE(prompts.errors[0].contains("was lost"));
    EXPECT_FALSE(port.Open());
    // The program stays usable and the line opens again from the menu. The command now
    // lasts, so the reopened line cannot end again before it is looked at.
    mapDefault(38, "exec:exec /bin/cat");
    prompts.portAnswers.push_back(direct(38));
    form.PortItemClick();
    // The close that the loss started may still be finishing on a busy machine; the
    // port then opens as soon as it has.
    EXPECT_TRUE(QTest::qWaitFor([&] { return port.Open(); }, 30000));
    EXPECT_EQ(prompts.errors.size(), 1u);
    form.close();
}

TEST_F(ProgramTest, ADirectLineWhoseDeviceGoesAwayComesBackByItself)
{
    // A link stands in for the adapter's device node; the pseudo-terminal behind it is
    // the adapter, which is pulled out and plugged in again.
    const fs::path node = dir_ / "ttyUSB9";
    auto adapter = std::make_unique<Peer>();
    fs::create_symlink(adapter->path(), node);
    mapDefault(37, node.string());
    comm::QtUiBridge bridge;
    comm::ComPort port(bridge);
    port.setAutoOpen(false);
    port.setPromptForPort(false);
    terminal::Emulator emulator(terminal::etANSI);
    terminal::KeyboardEmulator keyboard;
    terminal::TerminalWindow window;
    window.setEmulator(&emulator);
    window.setComPort(&port);
    ComPortAccess portAccess(port, store_);
    TerminalWindowAccess terminalAccess(window, emulator, keyboard);
    FakePrompts prompts;
    MainForm form(portAccess, terminalAccess, FileServerFunctions{}, store_, false);
    form.setPrompts(&prompts);
    form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.started(); }, 10000));
    ASSERT_TRUE(port.Open());
    auto shows = [&](const std::string& text) {
        for (int r = 0; r <= window.buffer().highestRow(); ++r)
            if (window.buffer().rowText(r).find(text) != std::string::npos)
                return true;
        return false;
    };
    adapter->write("login: ");
    ASSERT_TRUE(QTest::qWaitFor([&] { return shows("login:"); }, 10000));

    adapter.reset();
    fs::remove(node);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !port.Open() && shows("[disconnected]"); }, 10000));
    EXPECT_EQ(window.buffer().rowText(window.buffer().row() - 1), "[disconnected]") << "on a row of its own";
    adapter = std::make_unique<Peer>();
    fs::create_symlink(adapter->path(), node);
    ASSERT_TRUE(QTest::qWaitFor([&] { return port.Open() && shows("[reconnected]"); }, 10000));
    adapter->write("welcome back\r\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return shows("welcome back"); }, 10000));
    EXPECT_TRUE(prompts.errors.empty());

    // Switched off in the session, a loss is reported as before and nothing waits.
    PortOptionValues v = portAccess.settings();
    v.Reconnect = false;
    portAccess.setSettings(v);
    adapter.reset();
    fs::remove(node);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts.errors.empty(); }, 10000));
    EXPECT_TRUE(prompts.errors[0].contains("was lost"));
    form.close();
}

TEST_F(ProgramTest, SigtermSavesTheSettingsLikeExit)
{
    mapDefault(39, "exec:/bin/cat");
    std::string exe = (fs::path(ZELVO32_BIN)).string();
    ASSERT_TRUE(fs::exists(exe)) << exe;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> envp;
    for (auto& s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    char* argv[] = {exe.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    // The line is open (and the signal handlers are in place) once the program has
    // started the line's command as its child.
    auto hasChild = [pid] {
        for (auto& e : fs::directory_iterator("/proc")) {
            std::string name = e.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::FILE* f = std::fopen((e.path() / "stat").c_str(), "r");
            if (!f)
                continue;
            char buf[512] = {};
            size_t n = std::fread(buf, 1, sizeof buf - 1, f);
            std::fclose(f);
            std::string stat(buf, n);
            auto close = stat.rfind(')');
            int ppid = 0;
            char state = 0;
            if (close != std::string::npos
                && std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == pid)
                return true;
        }
        return false;
    };
    for (int i = 0; i < 400 && !hasChild(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(hasChild()) << "zelvo32 did not open its line";
    ::kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200 && ::waitpid(pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "zelvo32 did not end on SIGTERM";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    platform::RegistryStore s(store_);
    ASSERT_TRUE(s.load());
    EXPECT_EQ(s.readDword(GroupKey(kDefaultSession, "Port"), "Port"), 39u);
    EXPECT_TRUE(s.readDword(GroupKey(kDefaultSession, "window"), "Left").has_value());
    EXPECT_EQ(s.readDword(kSessionsKey, "Count"), 0u);
}

// The window, its port and the main window as the program assembles them, on a line that
// the test plays.
struct LiveWindow {
    explicit LiveWindow(const std::string& store)
        : port(bridge), emulator(terminal::etANSI), portAccess(port, store),
          terminalAccess(window, emulator, keyboard), form(portAccess, terminalAccess, FileServerFunctions{}, store, false)
    {
        port.setAutoOpen(false);
        port.setPromptForPort(false);
        window.setEmulator(&emulator);
        window.setComPort(&port);
        form.setPrompts(&prompts);
        form.show();
    }
    comm::QtUiBridge bridge;
    comm::ComPort port;
    terminal::Emulator emulator;
    terminal::KeyboardEmulator keyboard;
    terminal::TerminalWindow window;
    ComPortAccess portAccess;
    TerminalWindowAccess terminalAccess;
    FakePrompts prompts;
    MainForm form;
};

// Always 12:34:56.789, so every stamp is known.
class FixedClock : public terminal::StampClock {
public:
    terminal::StampTime now() const override { return {1000, 12, 34, 56, 789}; }
};

TEST_F(ProgramTest, StampedLinesOnScreenAndInCaptureWhileTheHexViewKeepsWhatArrived)
{
    Peer peer;
    mapDefault(40, peer.path());
    LiveWindow w(store_);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.form.started(); }, 10000));
    ASSERT_TRUE(w.port.Open());
    FixedClock clock;
    w.window.lineFilter().stamper().setClock(clock);
    const fs::path capture = dir_ / "stamped.cap";
    w.prompts.captureAnswer = QString::fromStdString(capture.string());
    w.form.LogItemClick();
    ASSERT_EQ(w.form.statusPanel(1), "LOG");
    w.form.action("TimestampsClockItem")->trigger();
    w.form.action("LfImpliesCrItem")->trigger();

    const std::string first = "first\r\nsecond\nthird";
    peer.write(first);
    const terminal::Buffer& b = w.window.buffer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.rowText(2) == "[12:34:56.789] third"; }, 10000))
        << b.rowText(0) << "|" << b.rowText(1) << "|" << b.rowText(2);
    EXPECT_EQ(b.rowText(0), "[12:34:56.789] first");
    EXPECT_EQ(b.rowText(1), "[12:34:56.789] second") << "LF alone returned to column 0";

    // The hex view, switched on while data arrives and off again: it holds the bytes as
    // the line carried them, and the terminal went on with its stamped lines beneath.
    w.form.action("HexViewItem")->trigger();
    ASSERT_TRUE(w.form.view().hexViewShown());
    const std::string second = "\r\nfourth\n";
    peer.write(second);
    const terminal::ByteHistory& h = w.form.view().hexView()->history();
    ASSERT_TRUE(QTest::qWaitFor([&] { return h.total() == first.size() + second.size(); }, 10000));
    std::string raw;
    for (size_t r = 0; r < h.rowCount(); ++r) {
        const uint8_t* bytes = nullptr;
        const size_t n = h.row(r, &bytes);
        raw.append(reinterpret_cast<const char*>(bytes), n);
    }
    EXPECT_EQ(raw, first + second);
    w.form.action("HexViewItem")->trigger();
    EXPECT_FALSE(w.form.view().hexViewShown());
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.rowText(3) == "[12:34:56.789] fourth"; }, 10000));

    w.form.LogItemClick();
    ASSERT_EQ(w.form.statusPanel(1), "");
    std::FILE* f = std::fopen(capture.c_str(), "rb");
    ASSERT_TRUE(f);
    char buf[512];
    const size_t n = std::fread(buf, 1, sizeof buf, f);
    std::fclose(f);
    // The capture file ends its lines as the session chose (LF unless CR LF is asked for).
    EXPECT_EQ(std::string(buf, n), "[12:34:56.789] first\n[12:34:56.789] second\n"
                                   "[12:34:56.789] third\n[12:34:56.789] fourth\n");
    w.form.close();
}

TEST_F(ProgramTest, EnterPasteAndMacrosSendTheirBytesToTheLine)
{
    Peer peer;
    mapDefault(41, peer.path());
    LiveWindow w(store_);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.form.started(); }, 10000));
    ASSERT_TRUE(w.port.Open());
    w.form.activateWindow();
    w.window.setFocus();

    QTest::keyClick(&w.window, Qt::Key_Return);
    EXPECT_EQ(peer.read(1), "\r") << "CR unless chosen otherwise";
    w.form.action("EnterCrLfItem")->trigger();
    QTest::keyClicks(&w.window, QStringLiteral("ls"));
    QTest::keyClick(&w.window, Qt::Key_Return);
    EXPECT_EQ(peer.read(4), "ls\r\n");
    w.form.action("EnterLfItem")->trigger();
    QTest::keyClick(&w.window, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(peer.read(1), "\n");

    // Each line break of pasted text, whichever it was, goes out as Enter sends it.
    w.form.action("EnterCrLfItem")->trigger();
    QApplication::clipboard()->setText(QStringLiteral("a\nb\r\nc\rd"));
    w.form.PasteItemClick();
    EXPECT_EQ(peer.read(10), "a\r\nb\r\nc\r\nd");

    // Macros go out as stored, escapes decoded, not bent by the Enter setting.
    w.form.macros().setEditorPrompt([](const MacroController::Macros& current) {
        MacroController::Macros m = current;
        m[0] = {"Hi", "hi\\r\\x01"};
        m[11] = {"", "\\x1b[A\\n"};
        return std::optional<MacroController::Macros>(m);
    });
    w.form.action("MacrosItem")->trigger();
    auto* hi = w.form.findChild<QPushButton*>(QStringLiteral("MacroBtn1"));
    ASSERT_TRUE(hi && w.form.macros().barVisible());
    QTest::mouseClick(hi, Qt::LeftButton);
    EXPECT_EQ(peer.read(4), std::string("hi\r\x01"));
    w.window.setFocus();
    QTest::keyClick(&w.window, Qt::Key_F12, Qt::ShiftModifier);
    EXPECT_EQ(peer.read(4), "\x1b[A\n");
    QTest::keyClick(&w.window, Qt::Key_F1, Qt::ShiftModifier);
    EXPECT_EQ(peer.read(4), std::string("hi\r\x01"));
    w.form.close();
}

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
