// The host functions through the script engine, on a line and an event loop that the
// tests drive: arguments and results, the waits, echo, the terminal and message
// functions, and what a run borrows from the main window and gives back.

#include "host_fakes.h"

#include "app/transfer_line.h"
#include "protocols/protocol.h"
#include "script_host/line_wait.h"
#include "script_host/script_runner.h"
#include "script_host/script_transfer.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace zelvo;
using namespace zelvo::script_host;
using namespace zelvo::script_host::testing;

namespace {

class HostTest : public ::testing::Test {
protected:
    // Runs a script body (inside void main()) and returns the console output.
    std::string run(const std::string& body, bool step = false)
    {
        ScriptFile file("void main()\n{\n" + body + "\n}\n");
        runner_.setBinding({&port_, nullptr, nullptr, early_});
        ScriptRunner::Result r = runner_.Run(file.path(), step, observer_);
        EXPECT_TRUE(r.started);
        return observer_.console;
    }
    void arrive(const std::string& bytes)
    {
        env_.events.push_back([this, bytes] { port_.arrive(bytes); });
    }
    void timeOut() { env_.events.push_back(nullptr); }
    std::string firstError() const { return observer_.errors.empty() ? "" : observer_.errors[0]; }

    std::string early_; // what the line said before the run
    FakePort port_;
    ScriptedEnvironment env_;
    RecordingObserver observer_;
    ScriptRunner runner_{env_};
};

TEST_F(HostTest, ArgumentsAreCheckedAgainstEachFunctionsTypes)
{
    struct Case {
        const char* call;
        const char* message;
    } cases[] = {
        {"Receive(\"x\");", "Receive - expecting integer in parameter 1."},
        {"Waitfor();", "Waitfor - missing parameter(s)."},
        {"Waitfor(\"a\", \"b\");", "Waitfor - expecting integer in parameter 2."},
        {"Waitfor(\"a\", 1, 1, 1);", "Waitfor - extra parameter."},
        {"SendFile(1);", "SendFile - expecting string in parameter 1."},
        {"ReceiveFile();", "ReceiveFile - missing parameter(s)."},
        {"SelectPath(1);", "SelectPath - expecting string in parameter 1."},
        {"SelectFile(\"a\", \"b\", \"c\");", "SelectFile - expecting integer in parameter 3."},
        {"FileName();", "FileName - missing parameter(s)."},
        {"FilePath(2);", "FilePath - expecting string in parameter 1."},
        {"FileExists();", "FileExists - missing parameter(s)."},
        {"TerminalClear(1);", "TerminalClear - extra parameter."},
        {"TerminalHide(1);", "TerminalHide - extra parameter."},
        {"TerminalShow(1);", "TerminalShow - extra parameter."},
        {"MessageHide(1);", "MessageHide - extra parameter."},
    };
    for (const Case& c : cases) {
        observer_ = RecordingObserver();
        run(c.call);
        EXPECT_NE(firstError().find(c.message), std::string::npos) << c.call << ": " << firstError();
    }
    // Any number of arguments of any type.
    observer_ = RecordingObserver();
    run("Send(); Send(\"a\", 1, \"b\"); TerminalPrint(1, \"x\"); Message(); Message(\"m\", 2);");
    EXPECT_TRUE(observer_.errors.empty()) << firstError();
}

TEST_F(HostTest, LoginDialogueSendsStringsAndBytesAndEchoesWhatItReads)
{
    arrive("Welcome\r\nlogin: ");
    arrive("Pass");
    arrive("word: ");
    arrive("$ ");
    const std::string out = run(R"(
        if (Waitfor("login:", 5)) Send("alice", 13);
        if (Waitfor("Password:", 5)) Send("se", "cret", 13, 10 + 256);
        print(Waitfor("$ "));
    )");
    EXPECT_EQ(port_.sent, std::string("alice\rsecret\r\n"));
    EXPECT_EQ(out, "1");
    EXPECT_EQ(env_.terminal, "Welcome\r\nlogin: Password: $ ");
    EXPECT_EQ(env_.timeouts, (std::vector<int64_t>{4950, 4950, -1}));
    EXPECT_TRUE(observer_.errors.empty()) << firstError();
}

TEST_F(HostTest, WaitforMatchesExactlyAndTimesOut)
{
    arrive("xxOKyy");
    arrive("OK\r\n"); // not "ok"
    timeOut();
    arrive("abc\r");
    arrive("0123456789abcdefghij");
    arrive("KLMNOPQRSTUVWXYZ!");
    const std::string out = run(R"(
        var r;
        r = Waitfor("OK", 5); print(r, " ");
        r = Waitfor("ok", 2); print(r, " ");
        r = Waitfor(13, 1); print(r, " ");
        r = Waitfor("abcdefghijKLMNOPQRSTUVWXYZ", 3); print(r, " ");
        r = Waitfor("never"); print(r, " ");
        r = Waitfor("never", 0); print(r, " ");
        r = Waitfor("never", -5); print(r);
    )");
    EXPECT_EQ(out, "1 0 1 1 0 0 0");
    // n seconds are n x 18 ticks of 55 ms; no time-out waits without limit; other
    // negative values end at once.
    EXPECT_EQ(env_.timeouts, (std::vector<int64_t>{4950, 1980, 990, 2970, -1, 0, 0}));
}

TEST_F(HostTest, ReceiveReadsTheLineAsAStream)
{
    arrive("AB");
    arrive("login: x");
    const std::string out = run(R"(
        var r;
        r = Receive(1); print(r, " ");
        r = Receive(1); print(r, " ");
        r = Waitfor("login:", 1); print(r, " ");
        r = Receive(); print(r, " ");
        r = Receive(); print(r, " ");
        r = Receive(2); print(r);
    )");
    // The second byte of a reply that came in one piece is not lost, nor what followed
    // the text a Waitfor read.
    EXPECT_EQ(out, "65 66 1 32 120 0");
    EXPECT_EQ(env_.timeouts.back(), 1980);
}

TEST_F(HostTest, WhatCameBeforeTheRunIsReadFirst)
{
    early_ = "banner\r\nlogin: ";
    arrive("Password: ");
    const std::string out = run(R"(
        var r;
        r = Waitfor("login:", 0); print(r, " ");
        r = Waitfor("Password:", 1); print(r);
    )");
    EXPECT_EQ(out, "1 1");
    EXPECT_EQ(env_.terminal, "banner\r\nlogin: Password: ");
}

TEST_F(HostTest, EchoFollowsTheLastWaitforOfTheRun)
{
    arrive("a");
    arrive("b");
    arrive("c");
    arrive("d");
    arrive("e");
    arrive("fg");
    run(R"(
        Receive(1);
        Waitfor("b", 1, 0);
        Receive(1);
        Waitfor("d", 1);
        Receive(1);
        Receive(1);
    )");
    // a: no Waitfor yet; b, c: echo off; d, e, f: echo on; g: not read by the script,
    // shown when the run ends.
    EXPECT_EQ(env_.terminal, "defg");
}

TEST_F(HostTest, TheMainWindowKeepsSeeingTheLineAndGetsItBack)
{
    std::string mainWindow;
    port_.onData = [&](const uint8_t* d, size_t n) { mainWindow.append(reinterpret_cast<const char*>(d), n); };
    arrive("hello");
    run("Waitfor(\"hel\", 1);");
    EXPECT_EQ(mainWindow, "hello");
    port_.arrive("after");
    EXPECT_EQ(mainWindow, "helloafter");
    EXPECT_EQ(env_.terminal, "hello"); // "lo" was left unread and shown at the end
}

TEST_F(HostTest, SendOnALineThatIsNotOpenStopsTheScript)
{
    port_.opened = false;
    run("Send(\"x\"); print(\"after\");");
    EXPECT_NE(firstError().find("ie_NOpen - device not open"), std::string::npos) << firstError();
    EXPECT_EQ(observer_.console, "");
}

TEST_F(HostTest, TerminalMessageAndDialogFunctions)
{
    env_.pathAnswer = "/chosen";
    env_.fileAnswer = "/chosen/file.txt";
    const std::string out = run(R"(
        TerminalPrint("a\nb", 5);
        TerminalPrint();
        Message("x=", 1);
        MessageHide();
        TerminalClear();
        TerminalHide();
        TerminalShow();
        print(SelectPath(), "|");
        print(SelectPath("/start"), "|");
        print(SelectFile(), "|");
        print(SelectFile("/d/*.txt", "Pick", 1));
    )");
    EXPECT_EQ(env_.terminal, "a\r\nb5");
    EXPECT_EQ(env_.shows, 3); // two prints, TerminalShow
    EXPECT_EQ(env_.focuses, 2);
    EXPECT_EQ(env_.messages, (std::vector<std::string>{"x=1"}));
    EXPECT_EQ(env_.messageHides, 1);
    EXPECT_EQ(env_.clears, 1);
    EXPECT_EQ(env_.hides, 1);
    EXPECT_EQ(env_.selectPathCalls, (std::vector<std::string>{"", "/start"}));
    ASSERT_EQ(env_.selectFileCalls.size(), 2u);
    EXPECT_EQ(env_.selectFileCalls[0].mask, "*.*");
    EXPECT_EQ(env_.selectFileCalls[0].title, "Select File");
    EXPECT_FALSE(env_.selectFileCalls[0].mustExist);
    EXPECT_EQ(env_.selectFileCalls[1].mask, "/d/*.txt");
    EXPECT_TRUE(env_.selectFileCalls[1].mustExist);
    EXPECT_EQ(out, "/chosen|/chosen|/chosen/file.txt|/chosen/file.txt");
}

TEST_F(HostTest, FileNameFunctions)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("zelvo-host-names-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "present.txt") << "x";
    const std::string d = dir.string();
    const std::string out = run(R"(
        print(FileName("C:\\dir\\file.txt"), "|", FilePath("C:\\dir\\file.txt"), "|");
        print(FileName("/home/u/a.vm"), "|", FilePath("/home/u/a.vm"), "|");
        print(FileName("C:x"), "|", FilePath("C:x"), "|", FilePath("plain"), "|");
        print(FileExists(")" + d + R"(/present.txt"), FileExists(")" + d + R"(/absent.txt"));
        print(FileExists(")" + d + R"("));
    )");
    EXPECT_EQ(out, "file.txt|C:\\dir\\|a.vm|/home/u/|x|C:||100");
    fs::remove_all(dir);
}

TEST_F(HostTest, ProtocolNamesAreCheckedOnlyForFilesThatExist)
{
    const std::string out = run("print(SendFile(\"/nonexistent/file\", \"bogus\"));");
    EXPECT_EQ(out, "0");
    EXPECT_TRUE(observer_.errors.empty()) << firstError();
    observer_ = RecordingObserver();
    run("ReceiveFile(\"/tmp/x\", \"bogus\"); print(\"after\");");
    EXPECT_NE(firstError().find("Illegal protocol name."), std::string::npos) << firstError();
    EXPECT_EQ(observer_.console, "");
}

TEST_F(HostTest, StopEndsAWaitAndTheRunButNotTheNextRun)
{
    env_.events.push_back([this] { runner_.RequestStop(); });
    run("print(\"before\"); Waitfor(\"never\"); print(\"not reached\");");
    EXPECT_EQ(observer_.console, "before");
    EXPECT_NE(firstError().find("Execution interrupted."), std::string::npos) << firstError();
    // A stop requested while no script runs is forgotten when the next one starts.
    runner_.RequestStop();
    observer_ = RecordingObserver();
    run("print(\"ran\");");
    EXPECT_EQ(observer_.console, "ran");
    EXPECT_TRUE(observer_.errors.empty());
}

TEST_F(HostTest, StepModeHoldsTheRunAtEveryLine)
{
    // Every hold is released by the next event; the third hold switches step mode off.
    for (int i = 0; i < 2; ++i)
        env_.events.push_back([this] { runner_.StepGo(); });
    env_.events.push_back([this] {
        runner_.setStepMode(false);
        runner_.StepGo();
    });
    run("var a;\na = 1;\na = 2;\na = 3;\na = 4;\nprint(a);", true);
    // The run starts at the call of main, which the engine counts to its last line.
    EXPECT_EQ(observer_.pauses, (std::vector<int>{9, 4, 5}));
    EXPECT_EQ(observer_.console, "4");
}

// ---- The transfer routine -------------------------------------------------------------------

class FakeTransferLine : public app::TransferLine {
public:
    explicit FakeTransferLine(ScriptedEnvironment& env, FakePort& port) : env_(env), port_(port) {}
    int result = 0;      // what begin... returns
    int finishCode = 0;  // what OnProtocolFinish reports
    std::string dir, name, mask;
    bool dataDetached = false, terminalInactive = false;
    protocols::TProtocolType type = protocols::ptNoProtocol;

    int beginTransmit(protocols::Protocol& p) override { return begin(p); }
    int beginReceive(protocols::Protocol& p) override { return begin(p); }
    void flushInput() override {}

private:
    int begin(protocols::Protocol& p)
    {
        dir = p.DestinationDirectory();
        name = p.FileName();
        mask = p.FileMask();
        type = p.ProtocolType();
        dataDetached = !port_.onData && !port_.onDataTrigger;
        terminalInactive = !env_.active;
        const int code = finishCode;
        env_.events.push_back([&p, code] { p.OnProtocolFinish(p, code); });
        return result;
    }
    ScriptedEnvironment& env_;
    FakePort& port_;
};

TEST(ScriptTransferTest, BorrowsTheProtocolAndTheLineAndGivesThemBack)
{
    namespace fs = std::filesystem;
    ScriptedEnvironment env;
    FakePort port;
    FakeTransferLine line(env, port);
    protocols::Protocol protocol;
    std::atomic<bool> stop{false};
    ScriptTransfer transfer(env, stop);
    transfer.bind(&port, &line, &protocol);

    int mainFinish = 0, mainData = 0;
    protocol.OnProtocolFinish = [&](protocols::Protocol&, int) { ++mainFinish; };
    protocol.OnProtocolNextFile = [](protocols::Protocol&, std::string&) {};
    protocol.OnProtocolError = [](protocols::Protocol&, int) {};
    protocol.setProtocolType(protocols::ptXmodem);
    protocol.setDestinationDirectory("/main/dir");
    protocol.setFileMask("*.*");
    port.onData = [&](const uint8_t*, size_t) { ++mainData; };
    port.onDataTrigger = [](uint16_t) {};

    ScriptTransfer::Outcome out = transfer.Receive("/tmp/in/file.bin", protocols::ptZmodem);
    EXPECT_TRUE(out.started && out.succeeded);
    EXPECT_EQ(line.dir, "/tmp/in/");
    EXPECT_EQ(line.name, "file.bin");
    EXPECT_EQ(line.type, protocols::ptZmodem);
    EXPECT_TRUE(line.dataDetached);
    EXPECT_TRUE(line.terminalInactive);
    // Everything is as before.
    EXPECT_EQ(protocol.ProtocolType(), protocols::ptXmodem);
    EXPECT_EQ(protocol.DestinationDirectory(), "/main/dir");
    EXPECT_EQ(protocol.FileMask(), "*.*");
    ASSERT_TRUE(protocol.OnProtocolFinish && protocol.OnProtocolNextFile && protocol.OnProtocolError);
    protocol.OnProtocolFinish(protocol, 0);
    EXPECT_EQ(mainFinish, 1);
    ASSERT_TRUE(port.onData && port.onDataTrigger);
    port.arrive("x");
    EXPECT_EQ(mainData, 1);
    EXPECT_TRUE(env.active);

    // A directory receives under the sender's names; a mask is sent as it is.
    const std::string dir = fs::temp_directory_path().string();
    transfer.Receive(dir, protocols::ptZmodem);
    EXPECT_EQ(line.dir, dir);
    EXPECT_EQ(line.name, "");
    transfer.Send("/out/*.txt", protocols::ptZmodem);
    EXPECT_EQ(line.mask, "/out/*.txt");

    // A transfer that cannot start reports its own error through its finish.
    line.result = -6015;
    line.finishCode = -6015;
    out = transfer.Send("/out/a", protocols::ptKermit);
    EXPECT_TRUE(out.started);
    EXPECT_FALSE(out.succeeded);
    EXPECT_EQ(out.code, -6015);
}

TEST(LineWaitTest, TheBacklogKeepsTheNewestBytes)
{
    ScriptedEnvironment env;
    FakePort port;
    std::atomic<bool> stop{false};
    LineWait wait(env, stop);
    wait.attach(&port);
    std::string flood(LineWait::kMaxBacklog + 100, 'x');
    flood.back() = 'Z';
    port.arrive(flood);
    EXPECT_EQ(wait.backlogSize(), LineWait::kMaxBacklog);
    EXPECT_EQ(wait.Waitfor("Z", 1, false), 1);
    EXPECT_EQ(wait.backlogSize(), 0u);
    // Only the first 255 characters of a text are looked for.
    port.arrive(std::string(255, 'a'));
    EXPECT_EQ(wait.Waitfor(std::string(255, 'a') + "b", 1, false), 1);
    wait.detach();
    EXPECT_FALSE(port.onData);
}

} // namespace
