// Scripts over real lines: scripted peers on exec: lines, lrzsz for Zmodem, and the
// zelvo32-script command itself.

#include "host_fakes.h"

#include "script_host/headless_run.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

using namespace zelvo::script_host;
using zelvo::script_host::testing::ScriptFile;
namespace fs = std::filesystem;

extern char** environ;

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

bool waitForFile(const fs::path& p, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!fs::exists(p)) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class HeadlessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path()
               / ("zelvo-headless-" + std::to_string(::getpid()) + "-"
                  + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "src");
        fs::create_directories(dir_ / "dest");
        ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    }
    void TearDown() override { fs::remove_all(dir_); }

    struct Outcome {
        int status = -1;
        std::string out, err;
        double seconds = 0;
        double stopToEnd = -1; // seconds from the stop request to the end of the run
    };

    // Runs a script over a line; with a marker, the run is stopped once the script has
    // created that file.
    Outcome run(const std::string& script, const std::string& device,
                std::vector<std::string> settings = {}, const fs::path& stopMarker = {})
    {
        ScriptFile file(script);
        char* outBuf = nullptr;
        char* errBuf = nullptr;
        size_t outLen = 0, errLen = 0;
        std::FILE* out = ::open_memstream(&outBuf, &outLen);
        std::FILE* err = ::open_memstream(&errBuf, &errLen);
        HeadlessOptions o;
        o.device = device;
        o.script = file.path();
        o.settings = std::move(settings);
        o.out = out;
        o.err = err;
        o.progress = false;
        Outcome r;
        std::chrono::steady_clock::time_point stopped{};
        {
            HeadlessRun run(o);
            std::thread stopper;
            if (!stopMarker.empty())
                stopper = std::thread([&] {
                    if (waitForFile(stopMarker, 20000)) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(200));
                        stopped = std::chrono::steady_clock::now();
                        run.RequestStop();
                    }
                });
            const auto t0 = std::chrono::steady_clock::now();
            r.status = run.Run();
            const auto t1 = std::chrono::steady_clock::now();
            r.seconds = std::chrono::duration<double>(t1 - t0).count();
            if (stopper.joinable())
                stopper.join();
            if (stopped != std::chrono::steady_clock::time_point{})
                r.stopToEnd = std::chrono::duration<double>(t1 - stopped).count();
        }
        std::fclose(out);
        std::fclose(err);
        r.out.assign(outBuf, outLen);
        r.err.assign(errBuf, errLen);
        std::free(outBuf);
        std::free(errBuf);
        return r;
    }

    std::string peer(const std::string& body)
    {
        const fs::path p = dir_ / "peer.sh";
        std::ofstream(p) << "#!/bin/sh\n" << body;
        fs::permissions(p, fs::perms::owner_all);
        return "exec:" + p.string();
    }

    fs::path dir_;
};

TEST_F(HeadlessTest, LoginDialogueWithAScriptedPeer)
{
    const std::string line = peer(R"(stty -echo
printf 'Welcome\r\nlogin: '
read user
printf 'Password: '
read pw
printf "user=%s pw=%s\r\n$ " "$user" "$pw"
read cmd
printf 'ran %s\r\n' "$cmd"
sleep 30
)");
    Outcome r = run(R"(
        void main()
        {
            if (!Waitfor("login:", 10)) { print("no prompt\n"); return; }
            Send("alice", 13);
            Waitfor("Password:", 10);
            Send("pw", 49, 50, 13);
            if (Waitfor("$ ", 10)) Send("ls\r");
            print(Waitfor("ran ls", 10), "\n");
            TerminalPrint("\ndone");
            Message("finished ", 1);
        })",
                    line);
    EXPECT_EQ(r.status, HeadlessRun::kClean) << r.err;
    EXPECT_NE(r.out.find("Welcome\nlogin: Password: user=alice pw=pw12\n$ ran ls"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\ndone"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("finished 1\n"), std::string::npos) << r.err;
}

TEST_F(HeadlessTest, TimeOutsLastAsLongAsTheySay)
{
    const std::string line = peer("printf 'x'\nsleep 30\n");
    Outcome r = run(R"(
        void main()
        {
            print(Receive(2), " ");
            print(Waitfor("never", 1), " ");
            print(Receive(1));
        })",
                    line);
    EXPECT_EQ(r.status, HeadlessRun::kClean) << r.err;
    EXPECT_EQ(r.out, "120 0 0");
    // 1 s and 1 s of waiting, each 990 ms; the first Receive did not wait for its limit.
    EXPECT_GE(r.seconds, 1.9);
    EXPECT_LT(r.seconds, 4.5);
}

TEST_F(HeadlessTest, StopEndsAWaitAtOnce)
{
    const fs::path marker = dir_ / "waiting";
    const std::string line = peer("sleep 30\n");
    Outcome r = run(R"(
        void main()
        {
            var f;
            f = fopen(")" + marker.string() + R"(", "w");
            fclose(f);
            Waitfor("never");
            print("not reached");
        })",
                    line, {}, marker);
    EXPECT_EQ(r.status, HeadlessRun::kRunError);
    EXPECT_NE(r.err.find("Execution interrupted."), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_GE(r.stopToEnd, 0);
    EXPECT_LT(r.stopToEnd, 2.0);
}

TEST_F(HeadlessTest, StopCancelsATransfer)
{
    const fs::path marker = dir_ / "sending";
    std::ofstream(dir_ / "src" / "big.bin") << std::string(1 << 20, 'z');
    // Nobody answers: the sender would wait a minute for its handshake.
    const std::string line = peer("sleep 60\n");
    Outcome r = run(R"(
        void main()
        {
            var f;
            f = fopen(")" + marker.string() + R"(", "w");
            fclose(f);
            SendFile(")" + (dir_ / "src" / "big.bin").string() + R"(", "zmodem");
            print("not reached");
        })",
                    line, {}, marker);
    EXPECT_EQ(r.status, HeadlessRun::kRunError);
    EXPECT_NE(r.err.find("Execution interrupted."), std::string::npos) << r.err;
    EXPECT_GE(r.stopToEnd, 0);
    EXPECT_LT(r.stopToEnd, 5.0);
}

TEST_F(HeadlessTest, ZmodemSendAMaskAndReceiveAgainstLrzsz)
{
    if (!haveLrzsz())
        GTEST_SKIP() << "lrzsz (sz, rz) is not installed";
    std::mt19937 rng(7);
    auto randomBytes = [&](size_t n) {
        std::string s(n, '\0');
        for (char& c : s)
            c = char(rng() & 0xFF);
        return s;
    };
    const std::string a = randomBytes(40000), b = randomBytes(3000);
    std::ofstream(dir_ / "src" / "a.txt", std::ios::binary) << a;
    std::ofstream(dir_ / "src" / "b.txt", std::ios::binary) << b;
    std::ofstream(dir_ / "src" / "c.dat", std::ios::binary) << "not sent";
    const std::string dest = (dir_ / "dest").string();
    Outcome sent = run(R"(
        void main()
        {
            print(SendFile(")" + (dir_ / "src").string() + R"(/*.txt", "zmodem"));
        })",
                       "exec:cd '" + dest + "' && LD_PRELOAD=" ZELVO_FLUSH_SHIM " rz -q; sleep 30");
    EXPECT_EQ(sent.status, HeadlessRun::kClean) << sent.err;
    EXPECT_EQ(sent.out, "1");
    EXPECT_EQ(slurp(dir_ / "dest" / "a.txt"), a);
    EXPECT_EQ(slurp(dir_ / "dest" / "b.txt"), b);
    EXPECT_FALSE(fs::exists(dir_ / "dest" / "c.dat"));

    // The peer starts sz when the script asks; the file lands in the directory given.
    // (sz runs with the shim that keeps its last bytes on the pseudo-terminal.)
    const std::string image = randomBytes(70000);
    std::ofstream(dir_ / "src" / "image.bin", std::ios::binary) << image;
    fs::create_directories(dir_ / "in");
    Outcome received = run(R"(
        void main()
        {
            Send("go\r");
            print(ReceiveFile(")" + (dir_ / "in").string() + R"(", "ZMODEM"));
        })",
                           peer("cd '" + (dir_ / "src").string() + "' && read cmd && LD_PRELOAD=" ZELVO_FLUSH_SHIM " sz -q image.bin; sleep 30\n"));
    EXPECT_EQ(received.status, HeadlessRun::kClean) << received.err;
    EXPECT_EQ(received.out, "1");
    EXPECT_EQ(slurp(dir_ / "in" / "image.bin"), image);
}

TEST_F(HeadlessTest, ThePromptAfterAnXmodemOrYmodemTransferIsStillRead)
{
    if (::access("/usr/bin/rx", X_OK) != 0 || ::access("/usr/bin/sb", X_OK) != 0)
        GTEST_SKIP() << "lrzsz (rx, sb) is not installed";
    // The far side prints its prompt the moment its end of the transfer is over, while
    // ours may still be finishing: the script's next wait must find it all the same.
    std::string data(128 * 40, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 + 3);
    std::ofstream(dir_ / "src" / "block.bin", std::ios::binary) << data;
    const std::string dest = (dir_ / "dest").string();
    Outcome sent = run(R"(
        void main()
        {
            Send("go\r");
            print(SendFile(")" + (dir_ / "src" / "block.bin").string() + R"(", "xmodem"), "|");
            print(Waitfor("stored", 10, 0));
            print(Waitfor("$ ", 10, 0));
        })",
                       peer("cd '" + dest + "' && read cmd && LD_PRELOAD=" ZELVO_FLUSH_SHIM
                            " rx -q block.bin; printf 'stored\\r\\n$ '; sleep 30\n"));
    EXPECT_EQ(sent.status, HeadlessRun::kClean) << sent.err;
    EXPECT_EQ(sent.out, "1|11");
    EXPECT_EQ(slurp(dir_ / "dest" / "block.bin"), data);

    fs::create_directories(dir_ / "in");
    Outcome received = run(R"(
        void main()
        {
            Send("go\r");
            print(ReceiveFile(")" + (dir_ / "in").string() + R"(", "ymodem"), "|");
            print(Waitfor("$ ", 10, 0));
            Send("exit\r");
        })",
                           peer("cd '" + (dir_ / "src").string() + "' && read cmd && LD_PRELOAD=" ZELVO_FLUSH_SHIM
                                " sb -q block.bin; printf '$ '; read cmd; sleep 30\n"));
    EXPECT_EQ(received.status, HeadlessRun::kClean) << received.err;
    EXPECT_EQ(received.out, "1|1");
    EXPECT_EQ(slurp(dir_ / "in" / "block.bin"), data);
}

TEST_F(HeadlessTest, ATransferThatFailsReturnsZeroAndTheScriptGoesOn)
{
    // Whether or not this protocol has an engine here, the transfer ends with the
    // protocol's own error (a time-out, or "not supported"), never a crash.
    const std::string line = peer("sleep 30\n");
    Outcome r = run(R"(
        void main()
        {
            print(ReceiveFile(")" + (dir_ / "dest" / "x.bin").string() + R"(", "xmodem"), "|");
            print(SendFile("/nonexistent/*.txt", "zmodem"), "|");
            print("after");
        })",
                    line, {"HandshakeWait=4", "HandshakeRetry=1", "XYmodemBlockWait=4"});
    EXPECT_EQ(r.status, HeadlessRun::kClean) << r.err;
    // The pseudo-terminal echoes the receiver's cancel; the script did not read that
    // echo, so it is shown after the script's own output.
    EXPECT_EQ(r.out.substr(0, 9), "0|0|after");
}

TEST_F(HeadlessTest, WithoutALineSendFailsAndBadSettingsAreRefused)
{
    Outcome r = run("void main() { print(Waitfor(\"x\", 0)); Send(\"a\"); }", "");
    EXPECT_EQ(r.status, HeadlessRun::kRunError);
    EXPECT_EQ(r.out, "0");
    EXPECT_NE(r.err.find("Runtime error: line 1 - ie_NOpen - device not open"), std::string::npos) << r.err;

    r = run("void main() { }", "", {"NoSuchSetting=1"});
    EXPECT_EQ(r.status, HeadlessRun::kNotCompiled);
    EXPECT_NE(r.err.find("unknown protocol setting \"NoSuchSetting\""), std::string::npos) << r.err;
    r = run("void main() { }", "", {"Zmodem8K=maybe"});
    EXPECT_NE(r.err.find("bad value \"maybe\" for Zmodem8K"), std::string::npos) << r.err;

    r = run("void main() { print(1) }", "");
    EXPECT_EQ(r.status, HeadlessRun::kNotCompiled);
    EXPECT_NE(r.err.find("Line 1"), std::string::npos) << r.err;

    r = run("void main() { }", "exec:/nonexistent/command");
    // The command fails on its own pseudo-terminal: the line opens and then ends.
    EXPECT_NE(r.status, -1);
}

// ---- The command ------------------------------------------------------------------------------

struct Command {
    int status = -1;
    std::string out, err;
};

// Runs zelvo32-script; with a marker, sends it Ctrl-C (SIGINT) once the file exists.
Command command(const std::vector<std::string>& args, const fs::path& dir, const fs::path& marker = {})
{
    const fs::path out = dir / "cmd.out", err = dir / "cmd.err";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all{ZELVO32_SCRIPT};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    Command c;
    if (posix_spawn(&pid, ZELVO32_SCRIPT, &fa, nullptr, argv.data(), environ) != 0)
        return c;
    posix_spawn_file_actions_destroy(&fa);
    if (!marker.empty() && waitForFile(marker, 20000))
        ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    c.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    c.out = slurp(out);
    c.err = slurp(err);
    return c;
}

TEST_F(HeadlessTest, CommandLineExitStatusesAndCtrlC)
{
    Command help = command({"--help"}, dir_);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: zelvo32-script"), std::string::npos);
    EXPECT_EQ(command({"--bogus", "x.vm"}, dir_).status, 64);
    EXPECT_EQ(command({}, dir_).status, 64);
    EXPECT_EQ(command({"--baud", "fast", "x.vm"}, dir_).status, 64);
    Command missing = command({(dir_ / "missing.vm").string()}, dir_);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;

    ScriptFile bad("void main() { Waitfor( }");
    EXPECT_EQ(command({bad.path()}, dir_).status, 1);
    ScriptFile runtime("void main() { ReceiveFile(\"/tmp/x\", \"nope\"); }");
    Command rt = command({runtime.path()}, dir_);
    EXPECT_EQ(rt.status, 2);
    EXPECT_NE(rt.err.find("Illegal protocol name."), std::string::npos) << rt.err;

    const fs::path marker = dir_ / "waiting";
    ScriptFile waiting("void main() { var f; f = fopen(\"" + marker.string()
                       + "\", \"w\"); fclose(f); print(\"before\\n\"); Waitfor(\"never\"); }");
    Command stopped = command({"--line", "exec:sleep 30", waiting.path()}, dir_, marker);
    EXPECT_EQ(stopped.status, 2);
    EXPECT_EQ(stopped.out, "before\n");
    EXPECT_NE(stopped.err.find("Execution interrupted."), std::string::npos) << stopped.err;
}

} // namespace
