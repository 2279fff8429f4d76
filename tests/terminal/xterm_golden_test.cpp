// The xterm emulation against libvterm on what real programs write: bash, vi, less and
// top run on an 80 x 24 pseudo-terminal with TERM=xterm-256color, the xterm emulation
// shows their output (and answers their queries), and the recorded bytes are replayed
// through libvterm; both pages must agree at every point the session looked at. Some
// sessions are kept as files (recordings/), so that what they check does not depend on
// the versions of the programs installed; ZELVO_RECORD_DIR=DIR writes new ones.

#include "pty_session.h"
#include "vterm_oracle.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace zelvo::terminal::test {
namespace {

namespace fs = std::filesystem;

constexpr int kRows = 24;
constexpr int kCols = 80;

std::string ourPage(const Buffer& b)
{
    std::string text;
    for (int r = 0; r < b.PageHeight(); ++r)
        text += b.rowUtf8(b.ViewRow() + r) + "\n";
    return text;
}

// Replays bytes through a fresh xterm emulation and libvterm, comparing the pages at every
// checkpoint and at the end. With bytewise the bytes go in one at a time.
void expectSameAsVterm(const std::string& name, const std::string& bytes,
                       std::vector<std::size_t> checkpoints, bool bytewise = false)
{
    Screen ours(etXterm, kCols, kRows, kRows + 100);
    VtermOracle vterm(kRows, kCols);
    checkpoints.push_back(bytes.size());
    std::size_t done = 0;
    for (std::size_t at : checkpoints) {
        if (at < done || at > bytes.size())
            continue;
        const std::string part = bytes.substr(done, at - done);
        if (bytewise)
            ours.feedBytewise(part);
        else
            ours.feed(part);
        vterm.feed(part);
        done = at;
        const std::vector<std::string> diffs = vterm.compare(ours.buffer);
        if (!diffs.empty()) {
            std::string list;
            for (const std::string& d : diffs)
                list += "  " + d + "\n";
            ADD_FAILURE() << name << ": the page differs from libvterm's after " << at << " bytes:\n"
                          << list << "--- ours\n" << ourPage(ours.buffer) << "--- libvterm\n"
                          << vterm.pageText();
            return;
        }
    }
}

// The environment of a recorded program: fixed names, so recordings do not carry the
// machine's; UTF-8; no user files.
std::vector<std::string> sessionEnv(const fs::path& home)
{
    return {"TERM=xterm-256color", "LANG=C.UTF-8", "LC_ALL=C.UTF-8", "HOME=" + home.string(),
            "PATH=/usr/local/bin:/usr/bin:/bin", "USER=tester", "LOGNAME=tester", "SHELL=/bin/bash"};
}

class LiveSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        home_ = fs::temp_directory_path() / ("zelvo-xterm-" + std::to_string(::getpid()) + "-"
                                             + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(home_);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(home_, ec);
    }
    void write(const std::string& name, const std::string& text)
    {
        std::ofstream(home_ / name, std::ios::binary) << text;
    }
    // Checks the session against libvterm and keeps it when recording is asked for.
    void finish(const std::string& name, PtySession& s)
    {
        expectSameAsVterm(name, s.recording(), s.checkpoints());
        // Chunking must not matter: the same bytes one at a time give the same page.
        Screen a(etXterm, kCols, kRows, kRows + 100), b(etXterm, kCols, kRows, kRows + 100);
        a.feed(s.recording());
        b.feedBytewise(s.recording());
        EXPECT_EQ(ourPage(a.buffer), ourPage(b.buffer)) << name << ": split input changes the page";
        if (const char* dir = std::getenv("ZELVO_RECORD_DIR")) {
            std::ofstream(fs::path(dir) / (name + ".bytes"), std::ios::binary) << s.recording();
            std::ofstream cp(fs::path(dir) / (name + ".checkpoints"));
            for (std::size_t at : s.checkpoints())
                cp << at << "\n";
        }
    }
    fs::path home_;
};

// The last prompt on the page comes after the last `text` (or, with !after, before it).
bool promptAfter(const std::string& page, const std::string& text, bool after = true)
{
    const std::size_t p = page.rfind("tester@box:~$");
    const std::size_t t = page.rfind(text);
    if (p == std::string::npos || t == std::string::npos)
        return false;
    return after ? p > t : p < t;
}

#define START_OR_SKIP(session, argv)                                                                     \
    do {                                                                                                 \
        if (!(session).start(argv, sessionEnv(home_)))                                                   \
            GTEST_SKIP() << "not run: " << (session).error();                                           \
    } while (0)

TEST_F(LiveSession, Bash)
{
    write(".bashrc", "cd \"$HOME\"\n"
                     "HISTFILE=/dev/null\n"
                     "PS1='\\[\\e]0;tester@box: \\w\\a\\]\\[\\e[01;32m\\]tester@box\\[\\e[00m\\]:"
                     "\\[\\e[01;34m\\]\\w\\[\\e[00m\\]$ '\n");
    PtySession s(kRows, kCols);
    START_OR_SKIP(s, (std::vector<std::string>{"bash", "--rcfile", (home_ / ".bashrc").string(), "-i"}));
    const std::string prompt = "tester@box:~$";
    ASSERT_TRUE(s.waitForText(prompt)) << s.pageText();
    EXPECT_EQ(s.screen().emulator.emulation()->keyboardModes().bracketedPaste, true);
    s.checkpoint();
    auto run = [&](const std::string& line, const std::string& shows) {
        s.send(line + "\r");
        ASSERT_TRUE(s.waitForText(shows)) << line << "\n" << s.pageText();
        ASSERT_TRUE(s.waitFor([&] { return promptAfter(s.pageText(), shows); })) << s.pageText();
        s.checkpoint();
    };
    run("printf 'wide: \\u4e2d\\u6587 accents: \\u00e9\\u00e8 box: \\u250c\\u2500\\u2510\\n'", "wide: 中文");
    run("printf '%080d\\n' 0; echo after-full-line", "after-full-line");
    run("printf '%0100d\\n' 1; echo after-long-line", "after-long-line");
    run("for i in 1 2 3; do printf '\\e[38;5;%dmidx\\e[48;2;10;20;%dmrgb\\e[1;4;7mB\\e[0m\\n' $((i*40)) $i; done; echo colours-done",
        "colours-done");
    run("tput cols; tput lines; echo size-done", "size-done");
    run("echo " + std::string(90, 'x') + " end-of-long-command", "end-of-long-command");
    // History and line editing: up, left, insert, enter.
    s.send("\x1b[A");
    ASSERT_TRUE(s.waitFor([&] { return promptAfter(s.pageText(), "end-of-long-command", false); })) << s.pageText();
    std::string left;
    for (int i = 0; i < 8; ++i)
        left += "\x1b[D";
    s.send(left + "Z\r");
    ASSERT_TRUE(s.waitForText("end-of-longZ-command")) << s.pageText();
    s.checkpoint();
    run("clear; echo cleared", "cleared");
    s.send("exit\r");
    ASSERT_TRUE(s.waitExit());
    finish("bash", s);
}

TEST_F(LiveSession, Vi)
{
    std::string file;
    for (int i = 1; i <= 60; ++i) {
        if (i == 5)
            file += "\tindented with a tab; wide: 中文字 and é\n";
        else if (i == 9)
            file += "/* a long line: " + std::string(150, '=') + " end */\n";
        else
            file += "int value" + std::to_string(i) + " = " + std::to_string(i * 7) + "; // line " + std::to_string(i) + "\n";
    }
    write("sample.c", file);
    write("vimrc", "syntax on\nset ruler\nset laststatus=2\n");
    PtySession s(kRows, kCols);
    START_OR_SKIP(s, (std::vector<std::string>{"vim", "-N", "-i", "NONE", "-u", (home_ / "vimrc").string(),
                                               (home_ / "sample.c").string()}));
    ASSERT_TRUE(s.waitForText("1,1")) << s.pageText();
    s.checkpoint();
    // After each command vim echoes a marker: once it shows, the command's drawing is done.
    int step = 0;
    auto key = [&](const std::string& keys) {
        const std::string marker = "step " + std::to_string(++step) + " done";
        s.send(keys + ":echo '" + marker + "'\r");
        ASSERT_TRUE(s.waitForText(marker)) << keys << "\n" << s.pageText();
        s.checkpoint();
    };
    key("G");
    key("gg");
    key(":25\r");
    key("\x06");        // Ctrl-F: a page down
    key("\x02");        // Ctrl-B: back up
    key("5\x05");       // Ctrl-E: scroll the text up
    key("3\x19");       // Ctrl-Y: and down (reverse index or insert line)
    key("oinserted line \xc3\xa9\x1b");
    EXPECT_TRUE(s.pageContains("inserted line é")) << s.pageText();
    key(":set number\r");
    key(":split\r");
    key(":q\r");
    key("/long line\r");
    key("dd");
    key("\x0c");        // Ctrl-L: redraw everything
    s.send(":q!\r");
    ASSERT_TRUE(s.waitExit());
    finish("vi", s);
}

TEST_F(LiveSession, Less)
{
    std::string file;
    for (int i = 1; i <= 200; ++i) {
        file += "line " + std::to_string(1000 + i).substr(1);
        if (i % 10 == 0)
            file += " b\bbo\bol\bld and u\b_n\b_d\b_e\b_r";
        if (i == 15)
            file += " wide 中文 and \t tab";
        file += "\n";
    }
    write("numbers.txt", file);
    PtySession s(kRows, kCols);
    START_OR_SKIP(s, (std::vector<std::string>{"less", "-M", (home_ / "numbers.txt").string()}));
    ASSERT_TRUE(s.waitForText("lines 1-23/200")) << s.pageText();
    s.checkpoint();
    auto key = [&](const std::string& keys, const std::string& shows) {
        s.send(keys);
        ASSERT_TRUE(s.waitForText(shows)) << keys << "\n" << s.pageText();
        s.checkpoint();
    };
    key(" ", "lines 24-46/200");
    key("jjj", "lines 27-49/200");
    key("kk", "lines 25-47/200");   // scrolling back: reverse index
    key("b", "lines 2-24/200");
    key("/line 1[0-9]0\r", "line 100");
    key("G", "(END)");
    key("g", "lines 1-23/200");
    s.send("q");
    ASSERT_TRUE(s.waitExit());
    finish("less", s);
}

TEST_F(LiveSession, Top)
{
    PtySession s(kRows, kCols);
    START_OR_SKIP(s, (std::vector<std::string>{"top", "-d", "0.5"}));
    ASSERT_TRUE(s.waitForText("PID")) << s.pageText();
    s.checkpoint();
    // A colour map, then two more refreshes.
    s.send("z");
    std::size_t before = s.recording().size();
    ASSERT_TRUE(s.waitFor([&] { return s.recording().size() > before && s.pageContains("PID"); }));
    s.checkpoint();
    before = s.recording().size();
    ASSERT_TRUE(s.waitFor([&] { return s.recording().size() > before + 500 && s.pageContains("PID"); }));
    s.checkpoint();
    s.send("q");
    ASSERT_TRUE(s.waitExit());
    finish("top", s);
}

// The comparison itself sees what differs: text, colour, attributes and the cursor.
TEST(XtermOracle, NoticesDifferences)
{
    const auto diffs = [](const std::string& mine, const std::string& theirs) {
        Screen ours(etXterm, kCols, kRows, kRows);
        VtermOracle vterm(kRows, kCols);
        ours.feed(mine);
        vterm.feed(theirs);
        return vterm.compare(ours.buffer).size();
    };
    EXPECT_EQ(diffs("ab\x1b[31mc", "ab\x1b[31mc"), 0u);
    EXPECT_GT(diffs("abc", "abd"), 0u);
    EXPECT_GT(diffs("\x1b[31mx", "\x1b[32mx"), 0u);
    EXPECT_GT(diffs("\x1b[1mx", "x"), 0u);
    EXPECT_GT(diffs("\x1b[38;5;200mx", "\x1b[38;2;200;0;0mx"), 0u);
    EXPECT_GT(diffs("x\x1b[5;5H", "x\x1b[5;6H"), 0u);
}

// The kept recordings: NAME.bytes with NAME.checkpoints beside it.
TEST(XtermRecordings, RenderAsLibvtermDoes)
{
    const fs::path dir = fs::path(ZELVO_SOURCE_DIR) / "tests/terminal/recordings";
    int seen = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".bytes")
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::size_t> checkpoints;
        std::ifstream cp(fs::path(entry.path()).replace_extension(".checkpoints"));
        for (std::size_t at; cp >> at;)
            checkpoints.push_back(at);
        const std::string name = entry.path().stem().string();
        expectSameAsVterm(name, bytes, checkpoints);
        expectSameAsVterm(name + " (byte by byte)", bytes, {}, true);
        ++seen;
    }
    EXPECT_GE(seen, 4) << "recordings missing in " << dir;
}

} // namespace
} // namespace zelvo::terminal::test
