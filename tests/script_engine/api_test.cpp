// The exported interface: host functions and their argument checks, results, errors,
// instances and their life cycle.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "script_test_support.h"

using orvtest::compileAndRun;
using orvtest::joinedErrors;
using orvtest::newInstance;
using orvtest::recorder;
using orvtest::TempScript;

namespace {

struct ApiTest : ::testing::Test {
    void SetUp() override { recorder().reset(); }
};

const char* noResult(ScriptHandle*, int)
{
    return nullptr;
}

std::string gSeen;

// Records the types and values of its arguments.
const char* describeArgs(ScriptHandle* h, int argc)
{
    gSeen.clear();
    for (int i = 0; i < argc; ++i) {
        if (ScriptGetArgType(h, i) == 1) {
            gSeen += "s:";
            gSeen += ScriptGetStrArg(h, i);
            gSeen += ScriptGetIntArg(h, i) == 0 ? "/0" : "/?";
        } else {
            gSeen += "i:" + std::to_string(ScriptGetIntArg(h, i));
            gSeen += ScriptGetStrArg(h, i) == nullptr ? "/null" : "/?";
        }
        gSeen += ' ';
    }
    // Indices outside the call read as integer 0.
    if (ScriptGetArgType(h, argc) != 0 || ScriptGetIntArg(h, -1) != 0 || ScriptGetStrArg(h, argc))
        gSeen += "out-of-range!";
    return nullptr;
}

const char* failing(ScriptHandle*, int)
{
    return "port not open";
}

char gBuffer[32];

const char* returnsText(ScriptHandle* h, int)
{
    std::strcpy(gBuffer, "copied");
    ScriptReturnStr(h, gBuffer);
    std::strcpy(gBuffer, "changed");
    return nullptr;
}

const char* returnsNullText(ScriptHandle* h, int)
{
    ScriptReturnStr(h, nullptr);
    return nullptr;
}

const char* returnsSeven(ScriptHandle* h, int)
{
    ScriptReturnInt(h, 7);
    return nullptr;
}

int runWithHost(const std::string& source, const char* name, const char* signature,
                ScriptHostFunc func)
{
    TempScript file(source);
    ScriptHandle* h = newInstance();
    EXPECT_NE(ScriptAddFunction(h, name, signature, func), nullptr);
    int ok = ScriptCompile(h, file.path());
    if (ok) {
        EXPECT_EQ(ScriptExecute(h), 1);
    }
    ScriptClose(h);
    return ok;
}

TEST_F(ApiTest, HostFunctionWithoutResultYieldsArgumentCount)
{
    ASSERT_TRUE(runWithHost("main() { print(host(1, \"a\", 3), host()); }", "host", "*", noResult));
    EXPECT_EQ(recorder().out, "30");
    EXPECT_TRUE(recorder().errors.empty());
}

TEST_F(ApiTest, ArgumentsAreReadByIndexWithTypeChecks)
{
    ASSERT_TRUE(runWithHost("main() { host(\"x\", 42, \"\"); }", "host", "*", describeArgs));
    EXPECT_EQ(gSeen, "s:x/0 i:42/null s:/0 ");
}

TEST_F(ApiTest, ResultsFromHostFunctions)
{
    TempScript file("main() { print(txt(), \"|\", nul(), \"|\", seven(), \"|\", strlen(nul())); }");
    ScriptHandle* h = newInstance();
    ScriptAddFunction(h, "txt", "", returnsText);
    ScriptAddFunction(h, "nul", "", returnsNullText);
    ScriptAddFunction(h, "seven", "", returnsSeven);
    ASSERT_EQ(ScriptCompile(h, file.path()), 1);
    ScriptExecute(h);
    ScriptClose(h);
    EXPECT_EQ(recorder().out, "copied||7|0");
    EXPECT_EQ(joinedErrors(), "");
}

struct SignatureCase {
    const char* signature;
    const char* call;
    const char* error; // "" when the call passes
};

class SignatureTest : public ::testing::TestWithParam<SignatureCase> {
    void SetUp() override { recorder().reset(); }
};

TEST_P(SignatureTest, ChecksArgumentsBeforeTheCall)
{
    const SignatureCase& c = GetParam();
    gSeen = "not called";
    std::string source = "main() {\n  " + std::string(c.call) + ";\n}\n";
    ASSERT_TRUE(runWithHost(source, "host", c.signature, describeArgs));
    if (*c.error) {
        EXPECT_EQ(joinedErrors(), std::string("Runtime error: line 2 - ") + c.error);
        EXPECT_EQ(gSeen, "not called");
    } else {
        EXPECT_EQ(joinedErrors(), "");
        EXPECT_NE(gSeen, "not called");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Signatures, SignatureTest,
    ::testing::Values(
        SignatureCase{"Ss", "host(\"a\")", ""},
        SignatureCase{"Ss", "host(\"a\", \"b\")", ""},
        SignatureCase{"Ss", "host()", "host - missing parameter(s)."},
        SignatureCase{"Ss", "host(1)", "host - expecting string in parameter 1."},
        SignatureCase{"Ss", "host(\"a\", 2)", "host - expecting string in parameter 2."},
        SignatureCase{"Ss", "host(\"a\", \"b\", \"c\")", "host - extra parameter."},
        SignatureCase{"I*", "host(1, \"x\", 3, \"y\")", ""},
        SignatureCase{"I*", "host(1)", ""},
        SignatureCase{"I*", "host(\"x\")", "host - expecting integer in parameter 1."},
        SignatureCase{"I*", "host()", "host - missing parameter(s)."},
        SignatureCase{"iv", "host()", ""},
        SignatureCase{"iv", "host(1, \"any\")", ""},
        SignatureCase{"v", "host(1, 2)", "host - extra parameter."},
        SignatureCase{"", "host(1)", "host - extra parameter."},
        SignatureCase{"", "host()", ""},
        SignatureCase{"i*Z", "host()", ""},
        SignatureCase{"iQ", "host()", "host - missing parameter(s)."},
        SignatureCase{"Q", "host(1)", "Internal error - Bad external function."}));

TEST_F(ApiTest, HostErrorTextEndsTheRunOnTheCallsLine)
{
    ASSERT_TRUE(runWithHost("main() {\n  print(\"a\");\n  open();\n  print(\"b\");\n}\n", "open", "",
                            failing));
    EXPECT_EQ(recorder().out, "a");
    EXPECT_EQ(joinedErrors(), "Runtime error: line 3 - port not open");
}

TEST_F(ApiTest, HostFunctionNamedLikeABuiltinFailsEveryCompilation)
{
    TempScript file("main() { }\n");
    ScriptHandle* h = newInstance();
    ScriptAddFunction(h, "print", "*", noResult);
    EXPECT_EQ(ScriptCompile(h, file.path()), 0);
    EXPECT_EQ(ScriptCompile(h, file.path()), 0);
    ScriptClose(h);
    ASSERT_EQ(recorder().errors.size(), 2u);
    EXPECT_EQ(recorder().errors[0], "Error: Line 0 - Symbol 'print' allready defined !");
}

TEST_F(ApiTest, NewestHostFunctionsComeFirstAndEachIsCalledByName)
{
    TempScript file("main() { print(one(), two(), three()); }\n");
    ScriptHandle* h = newInstance();
    ScriptAddFunction(h, "one", "", [](ScriptHandle* s, int) -> const char* {
        ScriptReturnInt(s, 1);
        return nullptr;
    });
    ScriptAddFunction(h, "two", "", [](ScriptHandle* s, int) -> const char* {
        ScriptReturnInt(s, 2);
        return nullptr;
    });
    ScriptAddFunction(h, "three", "", [](ScriptHandle* s, int) -> const char* {
        ScriptReturnInt(s, 3);
        return nullptr;
    });
    ASSERT_EQ(ScriptCompile(h, file.path()), 1);
    ScriptExecute(h);
    ScriptClose(h);
    EXPECT_EQ(recorder().out, "123");
}

TEST_F(ApiTest, FunctionsAddedAfterCompilingDoNotShiftTheCompiledCalls)
{
    TempScript file("main() { print(seven(), strlen(\"abc\")); }\n");
    ScriptHandle* h = newInstance();
    ScriptAddFunction(h, "seven", "", returnsSeven);
    ASSERT_EQ(ScriptCompile(h, file.path()), 1);
    ScriptAddFunction(h, "late", "", failing);
    ScriptExecute(h);
    ScriptClose(h);
    EXPECT_EQ(recorder().out, "73");
    EXPECT_EQ(joinedErrors(), "");
}

TEST_F(ApiTest, RerunKeepsGlobalsAndStartsLocalsAtZero)
{
    // The first run fails inside f with its local set; the second run must still see
    // the local at 0 while the global counts on.
    const char* source =
        "var runs;\n"
        "f() { var x; print(x, \" \"); x = 5; if (runs == 1) x / 0; }\n"
        "main() { runs++; print(runs, \":\"); f(); }\n";
    EXPECT_EQ(compileAndRun(source, 3), 1);
    EXPECT_EQ(recorder().out, "1:0 2:0 3:0 ");
    EXPECT_EQ(joinedErrors(), "Runtime error: line 2 - Devide by zero.");
}

TEST_F(ApiTest, RecompilingReplacesProgramAndGlobals)
{
    TempScript first("var g = 5; main() { g++; print(g); }");
    TempScript second("var g = 40; main() { g += 2; print(g); }");
    TempScript broken("main() { ");
    ScriptHandle* h = newInstance();
    ASSERT_EQ(ScriptCompile(h, first.path()), 1);
    ScriptExecute(h);
    ScriptExecute(h);
    ASSERT_EQ(ScriptCompile(h, second.path()), 1);
    ScriptExecute(h);
    // A failed compilation leaves no program behind: executing does nothing.
    EXPECT_EQ(ScriptCompile(h, broken.path()), 0);
    EXPECT_EQ(ScriptExecute(h), 1);
    ScriptClose(h);
    EXPECT_EQ(recorder().out, "6742");
}

TEST_F(ApiTest, UnreadableFileFailsSilently)
{
    ScriptHandle* h = newInstance();
    EXPECT_EQ(ScriptCompile(h, "/nonexistent/dir/script.vm"), 0);
    EXPECT_EQ(ScriptCompile(h, "/tmp"), 0);
    EXPECT_EQ(ScriptExecute(h), 1);
    ScriptClose(h);
    EXPECT_TRUE(recorder().errors.empty());
}

TEST_F(ApiTest, NullArgumentsAreHarmless)
{
    ScriptClose(nullptr);
    EXPECT_EQ(ScriptCompile(nullptr, "x"), 0);
    EXPECT_EQ(ScriptExecute(nullptr), 1);
    EXPECT_EQ(ScriptGetArgType(nullptr, 0), 0);
    EXPECT_EQ(ScriptGetIntArg(nullptr, 0), 0);
    EXPECT_EQ(ScriptGetStrArg(nullptr, 0), nullptr);
    ScriptReturnInt(nullptr, 1);
    ScriptReturnStr(nullptr, "x");
    ScriptHandle* h = ScriptInit();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ScriptAddFunction(h, nullptr, "", noResult), nullptr);
    EXPECT_EQ(ScriptAddFunction(h, "f", nullptr, noResult), nullptr);
    EXPECT_EQ(ScriptAddFunction(h, "f", "", nullptr), nullptr);
    EXPECT_EQ(ScriptCompile(h, nullptr), 0);
    // Without callbacks output, input and messages simply go nowhere.
    TempScript file("main() { print(getch(), gets()); x = 1; }");
    EXPECT_EQ(ScriptCompile(h, file.path()), 0);
    TempScript good("main() { print(getch(), gets()); 1 / 0; }");
    EXPECT_EQ(ScriptCompile(h, good.path()), 1);
    EXPECT_EQ(ScriptExecute(h), 1);
    ScriptClose(h);
}

TEST_F(ApiTest, InstancesAreIndependent)
{
    TempScript a("var g = 1; main() { g = g * 2; print(\"a\", g); }");
    TempScript b("var g = 100; main() { g = g + 1; print(\"b\", g); }");
    ScriptHandle* ha = newInstance();
    ScriptHandle* hb = newInstance();
    ScriptAddFunction(hb, "onlyInB", "", noResult);
    ASSERT_EQ(ScriptCompile(ha, a.path()), 1);
    ASSERT_EQ(ScriptCompile(hb, b.path()), 1);
    ScriptExecute(ha);
    ScriptExecute(hb);
    ScriptExecute(ha);
    ScriptClose(ha);
    ScriptExecute(hb);
    ScriptClose(hb);
    EXPECT_EQ(recorder().out, "a2b101a4b102");
}

const char* reenter(ScriptHandle* h, int)
{
    // Compiling or running the instance from inside its own run is refused.
    ScriptReturnInt(h, ScriptCompile(h, "/tmp") * 10 + ScriptExecute(h));
    return nullptr;
}

const char* closeSelf(ScriptHandle* h, int)
{
    ScriptClose(h);
    return nullptr;
}

TEST_F(ApiTest, ReentryIsRefusedAndCloseDuringRunIsDeferred)
{
    ASSERT_TRUE(runWithHost("main() { print(again()); }", "again", "", reenter));
    EXPECT_EQ(recorder().out, "1");

    recorder().reset();
    TempScript file("main() { print(\"a\"); stop(); print(\"b\"); }");
    ScriptHandle* h = newInstance();
    ScriptAddFunction(h, "stop", "", closeSelf);
    ASSERT_EQ(ScriptCompile(h, file.path()), 1);
    EXPECT_EQ(ScriptExecute(h), 1); // frees the instance on the way out
    EXPECT_EQ(recorder().out, "a");
    EXPECT_EQ(joinedErrors(), "Runtime error: line 1 - Execution interrupted.");
}

} // namespace
