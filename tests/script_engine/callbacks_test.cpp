// The op and line callbacks through which a host follows and stops a run, and raw
// input the lexer must take apart on the right lines.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "script_test_support.h"

using orvtest::compileAndRun;
using orvtest::joinedErrors;
using orvtest::newInstance;
using orvtest::recorder;
using orvtest::TempScript;

namespace {

struct CallbackTest : ::testing::Test {
    void SetUp() override
    {
        recorder().reset();
        recorder().recordLines = true;
    }
    static std::vector<int> lines()
    {
        std::vector<int> out;
        for (auto& [line, pc] : recorder().lines)
            out.push_back(line);
        return out;
    }
};

TEST_F(CallbackTest, LineCallbackFollowsTheRun)
{
    const char* source =
        "f(x) {\n"
        "  return x;\n"
        "}\n"
        "main() {\n"
        "  var i;\n"
        "  for (i = 0; i < 2; i++)\n"
        "    f(i);\n"
        "}\n";
    ASSERT_EQ(compileAndRun(source), 1);
    // main's prologue carries the line of its closing brace; the return to the start-up
    // code reports line 0.
    EXPECT_EQ(lines(), (std::vector<int>{8, 6, 7, 3, 2, 7, 6, 7, 3, 2, 7, 6, 0}));
    EXPECT_TRUE(recorder().errors.empty());
}

TEST_F(CallbackTest, OneLineLoopReportsEveryPass)
{
    ASSERT_EQ(compileAndRun("main() {\n  var x;\n  while (x < 5) x++;\n}\n"), 1);
    EXPECT_EQ(lines(), (std::vector<int>{4, 3, 3, 3, 3, 3, 3, 0}));
    // Every pass is reported at the instruction where the line was entered.
    int entry = recorder().lines[1].second;
    for (size_t i = 1; i < 7; ++i)
        EXPECT_EQ(recorder().lines[i].second, entry);
}

TEST_F(CallbackTest, OpCallbackSeesEveryInstruction)
{
    ASSERT_EQ(compileAndRun("main() { }\n"), 1);
    // Start-up 0..2, prologue 4, epilogue 3, then pop a and halt.
    EXPECT_EQ(recorder().ops, 12);
}

TEST_F(CallbackTest, OpCallbackStopsBeforeTheFirstInstruction)
{
    recorder().opBudget = 1;
    ASSERT_EQ(compileAndRun("main() { print(\"never\"); }\n"), 1);
    EXPECT_EQ(recorder().out, "");
    EXPECT_EQ(joinedErrors(), "Runtime error: line 0 - Execution interrupted.");
}

TEST_F(CallbackTest, OpCallbackStopsAnEndlessLoop)
{
    recorder().opBudget = 5000;
    ASSERT_EQ(compileAndRun("main() {\n  var x;\n  while (1) x++;\n}\n"), 1);
    EXPECT_EQ(joinedErrors(), "Runtime error: line 3 - Execution interrupted.");
}

int gStopAtLine = 0;

int stopAtLine(int line, int)
{
    return line == gStopAtLine ? 0 : 1;
}

TEST_F(CallbackTest, LineCallbackStopsTheRun)
{
    TempScript file("main() {\n  print(\"a\");\n  print(\"b\");\n}\n");
    ScriptHandle* h = newInstance();
    ScriptSetLineFunc(h, stopAtLine);
    gStopAtLine = 3;
    ASSERT_EQ(ScriptCompile(h, file.path()), 1);
    EXPECT_EQ(ScriptExecute(h), 1);
    // The instance stays usable: a second run stops at the same place.
    EXPECT_EQ(ScriptExecute(h), 1);
    ScriptClose(h);
    EXPECT_EQ(recorder().out, "aa");
    ASSERT_EQ(recorder().errors.size(), 2u);
    EXPECT_EQ(recorder().errors[0], "Runtime error: line 3 - Execution interrupted.");
}

TEST_F(CallbackTest, DeepRecursionReachesTheGlobals)
{
    ASSERT_EQ(compileAndRun("var a, b;\nr(n) {\n  return r(n + 1);\n}\nmain() { r(0); }\n"), 1);
    // The frame that no longer fits is set up by the prologue, on the closing brace's line.
    EXPECT_EQ(joinedErrors(), "Runtime error: line 4 - Stack overflow.");
}

ScriptHandle* gRunning = nullptr;

int closeOnTenthOp(int, int)
{
    if (++recorder().ops == 10)
        ScriptClose(gRunning);
    return 1;
}

TEST_F(CallbackTest, CloseFromACallbackEndsTheRunAndFreesTheInstanceAfterwards)
{
    TempScript file("main() {\n  while (1) ;\n}\n");
    gRunning = newInstance();
    ScriptSetOpFunc(gRunning, closeOnTenthOp);
    ASSERT_EQ(ScriptCompile(gRunning, file.path()), 1);
    EXPECT_EQ(ScriptExecute(gRunning), 1);
    EXPECT_EQ(recorder().ops, 10);
    EXPECT_EQ(joinedErrors(), "Runtime error: line 2 - Execution interrupted.");
}

// The error callback is the one callback that runs during a compilation (while parsing
// and while generating code); calls back into the instance from there are refused or,
// for ScriptClose, deferred until ScriptCompile returns.
const char* gScriptPath = nullptr;
std::vector<int> gReentryResults;
bool gCloseFromError = false;

void reenterOnError(const char* message)
{
    recorder().errors.emplace_back(message);
    if (gCloseFromError) {
        ScriptClose(gRunning);
        return;
    }
    gReentryResults.push_back(ScriptCompile(gRunning, gScriptPath));
    gReentryResults.push_back(ScriptExecute(gRunning));
}

TEST_F(CallbackTest, CompileAndExecuteFromTheErrorCallbackAreRefusedDuringCompilation)
{
    // A parse error, then an error the code generator finds while it writes the program.
    TempScript parseError("main() { x = ; }\n");
    TempScript codegenError("main() {\n  print(\"a\");\n  nowhere(1);\n  print(\"b\");\n}\n");
    TempScript good("main() { print(\"ok\"); }\n");
    gRunning = newInstance();
    ScriptSetErrorFunc(gRunning, reenterOnError);
    gCloseFromError = false;
    gReentryResults.clear();
    gScriptPath = good.path();
    EXPECT_EQ(ScriptCompile(gRunning, parseError.path()), 0);
    EXPECT_EQ(ScriptCompile(gRunning, codegenError.path()), 0);
    EXPECT_EQ(gReentryResults, (std::vector<int>{0, 1, 0, 1}));
    EXPECT_EQ(joinedErrors(), "Line 1: syntax error\nError: Line 3 - Undefined Symbol 'nowhere'.");
    EXPECT_EQ(recorder().out, "");
    // The instance is intact and compiles the next script as usual.
    ASSERT_EQ(ScriptCompile(gRunning, good.path()), 1);
    EXPECT_EQ(ScriptExecute(gRunning), 1);
    EXPECT_EQ(recorder().out, "ok");
    ScriptClose(gRunning);
}

TEST_F(CallbackTest, CloseFromTheErrorCallbackFreesTheInstanceWhenCompilationEnds)
{
    TempScript parseError("main() { x = ; }\n");
    TempScript codegenError("main() {\n  nowhere(1);\n  elsewhere(2);\n}\n");
    gCloseFromError = true;
    for (const TempScript* file : {&parseError, &codegenError}) {
        recorder().reset();
        gRunning = newInstance();
        ScriptSetErrorFunc(gRunning, reenterOnError);
        // Reported as failed; the sanitizers check that nothing was used after the free
        // and that nothing leaked.
        EXPECT_EQ(ScriptCompile(gRunning, file->path()), 0);
        EXPECT_FALSE(recorder().errors.empty());
    }
    gCloseFromError = false;
}

struct LexerInputTest : CallbackTest {};

TEST_F(LexerInputTest, EmptyFileIsASyntaxErrorOnLineOne)
{
    EXPECT_EQ(compileAndRun(""), 0);
    EXPECT_EQ(joinedErrors(), "Line 1: syntax error");
}

TEST_F(LexerInputTest, LineCommentNeedsItsLineFeed)
{
    EXPECT_EQ(compileAndRun("main() { }\n// trailing"), 0);
    EXPECT_EQ(joinedErrors(), "Line 2: syntax error");
    recorder().reset();
    EXPECT_EQ(compileAndRun("main() { }\n// trailing\n"), 1);
}

TEST_F(LexerInputTest, StrayControlCharactersAreTokens)
{
    EXPECT_EQ(compileAndRun("main() { var x;\r x = 1; }\n"), 0);
    EXPECT_EQ(compileAndRun("main() {\n\f }\n"), 0);
    EXPECT_EQ(compileAndRun("main() {\n\n\v }\n"), 0);
    EXPECT_EQ(joinedErrors(), "Line 1: syntax error\nLine 2: syntax error\nLine 3: syntax error");
}

TEST_F(LexerInputTest, NulByteEndsTheInput)
{
    std::string source = "main() { print(1); }\n";
    source += '\0';
    source += "((((garbage";
    EXPECT_EQ(compileAndRun(source), 1);
    EXPECT_EQ(recorder().out, "1");
}

TEST_F(LexerInputTest, HighBytesPassThroughStrings)
{
    EXPECT_EQ(compileAndRun("main() { print(\"\xe9\xff\", '\xe9'); }\n"), 1);
    EXPECT_EQ(recorder().out, "\xe9\xff-23");
}

TEST_F(LexerInputTest, BinaryGarbageIsRejected)
{
    std::string garbage;
    unsigned state = 12345;
    for (int i = 0; i < 20000; ++i) {
        state = state * 1103515245u + 12345u;
        garbage += static_cast<char>((state >> 16) & 0xFF);
    }
    EXPECT_EQ(compileAndRun(garbage), 0);
    EXPECT_FALSE(recorder().errors.empty());
}

TEST_F(LexerInputTest, HugeTokensAreHandled)
{
    std::string ident(1 << 20, 'q');
    EXPECT_EQ(compileAndRun("main() { " + ident + " = 1; }\n"), 0);
    ASSERT_EQ(recorder().errors.size(), 1u);
    EXPECT_EQ(recorder().errors[0].size(), 1023u);

    recorder().reset();
    std::string literal(1 << 20, 's');
    EXPECT_EQ(compileAndRun("main() { print(\"" + literal + "\"); }\n"), 0);
    EXPECT_EQ(joinedErrors(), "Error: Line 1 - Too much string data (more than 1000 bytes).");
}

TEST_F(LexerInputTest, HostileLinesLexInLinearTime)
{
    // Every quote and every slash pair here starts a token that cannot complete; a lexer
    // that rescans the rest of the line for each of them would not finish.
    std::string quotes = "main() { x = ";
    for (int i = 0; i < 1000000; ++i)
        quotes += "\\\"";
    EXPECT_EQ(compileAndRun("\"" + quotes), 0);
    EXPECT_EQ(joinedErrors(), "Line 1: syntax error");
    recorder().reset();
    EXPECT_EQ(compileAndRun("main() { } " + std::string(2000000, '/')), 0);
    EXPECT_EQ(compileAndRun("main() { } " + std::string(2000000, '\'')), 0);
}

TEST_F(LexerInputTest, EndlessOrHugeFilesAreNotReadWhole)
{
    // /dev/zero starts with a NUL byte: the input is empty.
    ScriptHandle* h = newInstance();
    EXPECT_EQ(ScriptCompile(h, "/dev/zero"), 0);
    EXPECT_EQ(joinedErrors(), "Line 1: syntax error");
    recorder().reset();
    std::string huge(65u * 1024u * 1024u, ' ');
    TempScript file(huge);
    EXPECT_EQ(ScriptCompile(h, file.path()), 0);
    EXPECT_EQ(joinedErrors(), "Line 1: script file too large");
    ScriptClose(h);
}

} // namespace
