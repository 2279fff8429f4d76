// liborvscript.so exports exactly the fifteen functions of its interface.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

TEST(OrvscriptLibrary, ExportsExactlyTheInterface)
{
    std::string cmd = std::string("nm -D --defined-only ") + ORVSCRIPT_LIBRARY + " 2>/dev/null";
    std::FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
        std::istringstream fields(line);
        std::string address, kind, name;
        if (fields >> address >> kind >> name)
            names.insert(name);
    }
    int status = pclose(p);
    if (status != 0 && names.empty())
        GTEST_SKIP() << "nm is not available";
    const std::set<std::string> expected = {
        "ScriptInit",        "ScriptSetErrorFunc", "ScriptSetStdoutFunc", "ScriptSetStdinFunc",
        "ScriptSetOpFunc",   "ScriptSetLineFunc",  "ScriptAddFunction",   "ScriptCompile",
        "ScriptExecute",     "ScriptClose",        "ScriptGetArgType",    "ScriptGetIntArg",
        "ScriptGetStrArg",   "ScriptReturnInt",    "ScriptReturnStr"};
    EXPECT_EQ(names, expected);
}

} // namespace
