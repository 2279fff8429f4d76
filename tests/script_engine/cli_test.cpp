// The orvscript command-line tool: running, checking and listing scripts, exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "script_test_support.h"

using orvtest::TempScript;

namespace {

struct ToolResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

ToolResult runTool(const std::string& args, const std::string& input = "")
{
    TempScript in(input);
    TempScript out("");
    TempScript err("");
    std::string cmd = std::string(ORVSCRIPT_TOOL) + " " + args + " <" + in.path() + " >" + out.path() +
                      " 2>" + err.path();
    int rc = std::system(cmd.c_str());
    ToolResult r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = readAll(out.path());
    r.err = readAll(err.path());
    return r;
}

TEST(OrvscriptTool, RunsAScriptWithConsoleOnStandardStreams)
{
    TempScript script("main() { var name = gets(\"? \"); print(\"hello \", name, \"\\n\"); }\n");
    ToolResult r = runTool(script.path(), "world\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "? worldhello world\n");
    EXPECT_EQ(r.err, "");
}

TEST(OrvscriptTool, ExitStatusTellsCompileAndRunTimeErrorsApart)
{
    TempScript broken("main() {\n  x = 1;\n}\n");
    ToolResult r = runTool(broken.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: Line 2 - Undefined Symbol 'x'.\n");

    TempScript failing("main() {\n  print(\"a\");\n  substr(\"x\", 0, 9);\n}\n");
    r = runTool(failing.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "a");
    EXPECT_EQ(r.err, "Runtime error: line 3 - substr: Paramter out of bounds.\n");
}

TEST(OrvscriptTool, CheckOnlyCompiles)
{
    TempScript script("main() { print(\"ran\"); }\n");
    ToolResult r = runTool("--check " + std::string(script.path()));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    TempScript broken("main() { print(\"ran\") }\n");
    r = runTool("--check " + std::string(broken.path()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Line 1: syntax error\n");
}

TEST(OrvscriptTool, DumpListsInstructionsWithLinesAndOperands)
{
    TempScript script("main() {\n  print(\"hi\", 2);\n}\n");
    ToolResult r = runTool("--dump " + std::string(script.path()));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("   0  line     0  mov a,0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("   2  line     0  call L6\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("   6  line     3  chkstk 0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("movs a,0  \"hi\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("callx #13  print"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("mov sp,bp"), std::string::npos) << r.out;
}

// The listings under golden/ pin the exact instructions, operands and lines that the
// code generator writes for a few programs (checked by hand against the generation rules).
TEST(OrvscriptTool, DumpMatchesGoldenListings)
{
    for (const char* name : {"codegen", "startup_no_main"}) {
        std::string base = std::string(ORV_GOLDEN_DIR) + "/" + name;
        ToolResult r = runTool("--dump " + base + ".vm");
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.out, readAll(base + ".dump")) << name;
    }
}

TEST(OrvscriptTool, CommandLineMistakes)
{
    EXPECT_EQ(runTool("--help").status, 0);
    EXPECT_NE(runTool("--help").out.find("Usage: orvscript"), std::string::npos);
    EXPECT_EQ(runTool("").status, 64);
    EXPECT_EQ(runTool("--bogus x").status, 64);
    ToolResult r = runTool("/nonexistent/script.vm");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot open '/nonexistent/script.vm'"), std::string::npos);
}

} // namespace
