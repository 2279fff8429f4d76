// Every value operation gives the same result whether the compiler folds it or the
// machine computes it; a failing operation is a compile error when folded and a run-time
// error otherwise.
#include <gtest/gtest.h>

#include <string>

#include "script_test_support.h"

using orvtest::compileAndRun;
using orvtest::joinedErrors;
using orvtest::recorder;

namespace {

struct OpCase {
    const char* left;
    const char* op;
    const char* right;
    const char* result; // printed result, or the error message
    bool fails;
};

class ValueOpTest : public ::testing::TestWithParam<OpCase> {};

TEST_P(ValueOpTest, FoldedAndRunTimeAgree)
{
    const OpCase& c = GetParam();
    std::string expr = std::string("l ") + c.op + " r";
    std::string atRunTime = std::string("main() { var l = ") + c.left + "; var r = " + c.right +
                            "; print(" + expr + "); }\n";
    std::string folded = std::string("main() { print((") + c.left + ") " + c.op + " (" + c.right +
                         ")); }\n";

    recorder().reset();
    ASSERT_EQ(compileAndRun(atRunTime), 1) << joinedErrors();
    if (c.fails) {
        EXPECT_EQ(recorder().out, "");
        EXPECT_EQ(joinedErrors(), std::string("Runtime error: line 1 - ") + c.result);
    } else {
        EXPECT_EQ(recorder().out, c.result);
        EXPECT_EQ(joinedErrors(), "");
    }

    recorder().reset();
    if (c.fails) {
        EXPECT_EQ(compileAndRun(folded), 0);
        EXPECT_EQ(joinedErrors(), std::string("Line 1: ") + c.result);
    } else {
        EXPECT_EQ(compileAndRun(folded), 1);
        EXPECT_EQ(recorder().out, c.result);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ValueOpTest,
    ::testing::Values(
        OpCase{"\"abc\"", "+", "33", "abc!", false},
        OpCase{"65", "+", "\"bc\"", "Abc", false},
        OpCase{"\"a\"", "+", "\"b\"", "ab", false},
        OpCase{"\"a\"", "+", "256", "a", false},
        OpCase{"0", "+", "\"z\"", "z", false},
        OpCase{"2147483647", "+", "1", "-2147483648", false},
        OpCase{"5", "-", "7", "-2", false},
        OpCase{"-65536", "*", "65536", "0", false},
        OpCase{"-7", "/", "2", "-3", false},
        OpCase{"-7", "%", "2", "-1", false},
        OpCase{"-2147483647 - 1", "/", "-1", "-2147483648", false},
        OpCase{"-2147483647 - 1", "%", "-1", "0", false},
        OpCase{"1", "<<", "33", "2", false},
        OpCase{"-8", ">>", "1", "-4", false},
        OpCase{"-1", ">>", "31", "-1", false},
        OpCase{"12", "&", "10", "8", false},
        OpCase{"12", "|", "10", "14", false},
        OpCase{"12", "^", "10", "6", false},
        OpCase{"\"A\"", "==", "65", "1", false},
        OpCase{"\"\"", "==", "0", "1", false},
        OpCase{"\"abc\"", "<", "\"abd\"", "1", false},
        OpCase{"\"ab\"", "<=", "\"abc\"", "1", false},
        OpCase{"\"b\"", "<=", "\"a\"", "0", false},
        OpCase{"\"abc\"", ">=", "\"abc\"", "1", false},
        OpCase{"\"\\xff\"", ">", "\"a\"", "1", false},
        OpCase{"\"\\xff\"", "<", "0", "1", false},
        OpCase{"66", "!=", "\"B\"", "0", false},
        OpCase{"-3", "<", "2", "1", false},
        OpCase{"7", "/", "0", "Devide by zero.", true},
        OpCase{"7", "%", "0", "Devide by zero.", true},
        OpCase{"\"x\"", "/", "0", "illegal '/' on string.", true},
        OpCase{"\"x\"", "-", "1", "illegal '-' on string.", true},
        OpCase{"1", "*", "\"x\"", "illegal '*' on string.", true},
        OpCase{"\"x\"", "%", "2", "illegal '%' on string.", true},
        OpCase{"\"x\"", "&", "\"y\"", "illegal '&' on string.", true},
        OpCase{"1", "|", "\"y\"", "illegal '|' on string.", true},
        OpCase{"\"x\"", "^", "1", "illegal '^' on string.", true},
        OpCase{"\"x\"", "<<", "1", "illegal '<<' on string.", true},
        OpCase{"1", ">>", "\"x\"", "illegal '>>' on string.", true}));

struct UnaryCase {
    const char* op;
    const char* operand;
    const char* result;
    bool fails;
};

class UnaryOpTest : public ::testing::TestWithParam<UnaryCase> {};

TEST_P(UnaryOpTest, FoldedAndRunTimeAgree)
{
    const UnaryCase& c = GetParam();
    recorder().reset();
    ASSERT_EQ(compileAndRun(std::string("main() { var v = ") + c.operand + "; print(" + c.op + "v); }\n"), 1);
    if (c.fails)
        EXPECT_EQ(joinedErrors(), std::string("Runtime error: line 1 - ") + c.result);
    else
        EXPECT_EQ(recorder().out, c.result);

    recorder().reset();
    int ok = compileAndRun(std::string("main() { print(") + c.op + c.operand + "); }\n");
    if (c.fails) {
        EXPECT_EQ(ok, 0);
        EXPECT_EQ(joinedErrors(), std::string("Line 1: ") + c.result);
    } else {
        EXPECT_EQ(ok, 1);
        EXPECT_EQ(recorder().out, c.result);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, UnaryOpTest,
    ::testing::Values(UnaryCase{"-", "5", "-5", false}, UnaryCase{"~", "5", "-6", false},
                      UnaryCase{"!", "5", "0", false}, UnaryCase{"!", "0", "1", false},
                      UnaryCase{"-", "(-2147483647 - 1)", "-2147483648", false},
                      UnaryCase{"-", "\"s\"", "Cannot use unary operator on strings.", true},
                      UnaryCase{"~", "\"s\"", "Cannot use unary operator on strings.", true},
                      UnaryCase{"!", "\"\"", "Cannot use unary operator on strings.", true}));

} // namespace
