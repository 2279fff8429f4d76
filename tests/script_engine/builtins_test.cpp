// Builtins that reach outside the engine: files and starting programs.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "script_test_support.h"

using orvtest::compileAndRun;
using orvtest::joinedErrors;
using orvtest::recorder;

namespace {

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct BuiltinsTest : ::testing::Test {
    void SetUp() override
    {
        recorder().reset();
        char dir[] = "/tmp/orvfilesXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
    std::string dir_;
};

TEST_F(BuiltinsTest, WriteAppendAndReadBack)
{
    std::string name = dir_ + "/out.txt";
    std::string source = "main() {\n"
                         "  var f, g, n;\n"
                         "  f = fopen(\"" + name + "\", \"w\");\n"
                         "  n = fprint(f, \"line \", 42, \"\\n\");\n"
                         "  print(f > 0, \" \", n, \" \", fclose(f), \" \", fclose(f), \"\\n\");\n"
                         "  g = fopen(\"" + name + "\", \"a\");\n"
                         "  fprint(g, -7);\n"
                         "  print(g != f, \" \", fclose(g), \" \", fopen(\"" + name + "\") > 0, \"\\n\");\n"
                         "}\n";
    ASSERT_EQ(compileAndRun(source), 1);
    EXPECT_EQ(joinedErrors(), "");
    // fprint's value is its argument count, the handle included; arguments are evaluated
    // from the last, so the second fclose in the text is the first to run.
    EXPECT_EQ(recorder().out, "1 4 0 1\n1 1 1\n");
    EXPECT_EQ(readAll(name), "line 42\n-7");
}

TEST_F(BuiltinsTest, ClosedHandleCannotBeWritten)
{
    std::string name = dir_ + "/x.txt";
    std::string source = "main() {\n  var f = fopen(\"" + name + "\", \"w\");\n  fclose(f);\n"
                         "  fprint(f, \"late\");\n}\n";
    ASSERT_EQ(compileAndRun(source), 1);
    EXPECT_EQ(joinedErrors(), "Runtime error: line 4 - fprint: Bad file handle.");
    EXPECT_EQ(readAll(name), "");
}

TEST_F(BuiltinsTest, FilesLeftOpenAreClosedWithTheInstance)
{
    std::string name = dir_ + "/open.txt";
    ASSERT_EQ(compileAndRun("main() { fprint(fopen(\"" + name + "\", \"w\"), \"kept\"); }\n"), 1);
    // The stream was flushed and closed by ScriptClose.
    EXPECT_EQ(readAll(name), "kept");
}

bool waitForFile(const std::string& path)
{
    for (int i = 0; i < 1000; ++i) {
        if (access(path.c_str(), F_OK) == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Counts this process's children that have exited but were not reaped.
int zombieChildren()
{
    int count = 0;
    DIR* d = opendir("/proc");
    if (!d)
        return 0;
    std::string self = std::to_string(getpid());
    while (dirent* e = readdir(d)) {
        std::string stat = readAll(std::string("/proc/") + e->d_name + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos || close + 4 >= stat.size())
            continue;
        std::istringstream fields(stat.substr(close + 2));
        std::string state, ppid;
        fields >> state >> ppid;
        if (ppid == self && state == "Z")
            ++count;
    }
    closedir(d);
    return count;
}

TEST_F(BuiltinsTest, ExecStartsTheCommandWithoutWaitingAndLeavesNoZombie)
{
    std::string marker = dir_ + "/started";
    std::string source = "main() { print(exec(\"sleep 1; echo done > " + marker + "\")); }\n";
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(compileAndRun(source), 1);
    auto elapsed = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(recorder().out, "1");
    // The run did not wait for the command (it sleeps before writing its marker).
    EXPECT_NE(access(marker.c_str(), F_OK), 0);
    EXPECT_LT(elapsed, std::chrono::seconds(10));
    ASSERT_TRUE(waitForFile(marker));
    EXPECT_EQ(zombieChildren(), 0);
    // None of our own children was reaped or disturbed: a child of the test is still ours.
    pid_t own = fork();
    if (own == 0)
        _exit(7);
    int status = 0;
    ASSERT_EQ(waitpid(own, &status, 0), own);
    EXPECT_EQ(WEXITSTATUS(status), 7);
}

} // namespace
