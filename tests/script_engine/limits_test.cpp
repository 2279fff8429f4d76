// Limits of the compiler that need large sources; the sources are generated here rather
// than kept as files.
#include <gtest/gtest.h>

#include <string>

#include "script_test_support.h"

using orvtest::compileAndRun;
using orvtest::joinedErrors;
using orvtest::recorder;

namespace {

struct LimitsTest : ::testing::Test {
    void SetUp() override { recorder().reset(); }
};

std::string names(const char* prefix, int count)
{
    std::string s;
    for (int i = 0; i < count; ++i) {
        if (i)
            s += ',';
        s += prefix + std::to_string(i);
    }
    return s;
}

TEST_F(LimitsTest, LongListsAreWalkedWithoutRecursion)
{
    // 20000 parameters, 20000 locals and 100000 empty statements compile; the frame of
    // main cannot fit on the stack, which the run reports.
    std::string source = "f(" + names("p", 20000) + ") { }\nmain() {\n  var " + names("a", 20000) +
                         ";\n";
    for (int i = 0; i < 100000; ++i)
        source += "  ;";
    source += "\n  print(1);\n}\n";
    ASSERT_EQ(compileAndRun(source), 1);
    EXPECT_EQ(joinedErrors(), "Runtime error: line 5 - Stack overflow.");
}

TEST_F(LimitsTest, TooManyNodes)
{
    EXPECT_EQ(compileAndRun("main() {\n  var " + names("a", 130000) + ";\n}\n"), 0);
    EXPECT_EQ(joinedErrors(), "Line 2: program too large");
}

TEST_F(LimitsTest, LineNumbersUpTo65535)
{
    ASSERT_EQ(compileAndRun("main() {\n" + std::string(65532, '\n') + "  print(1);\n}\n"), 1);
    EXPECT_EQ(recorder().out, "1");

    recorder().reset();
    EXPECT_EQ(compileAndRun("main() {\n" + std::string(70000, '\n') + "  print(1);\n}\n"), 0);
    // main's prologue, on the line of its closing brace, is the first instruction there.
    EXPECT_EQ(joinedErrors(), "Error: Line 70003 - Line number too large.");
}

} // namespace
