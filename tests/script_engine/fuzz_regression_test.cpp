// Replays the inputs kept under fuzz/script_engine/regressions (minimised fuzzer findings
// and hand-made hostile scripts) the way the fuzz target runs them: compile, then two
// runs under an instruction budget. The sanitizers turn any fault into a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "script_engine/script_handle.h"
#include "script_test_support.h"

namespace fs = std::filesystem;
using orvtest::recorder;

namespace {

const char* noFile(ScriptHandle* h, int)
{
    ScriptReturnInt(h, 0);
    return nullptr;
}

const char* noProgram(ScriptHandle*, int)
{
    return nullptr;
}

std::vector<std::string> regressionFiles()
{
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(ORV_REGRESSION_DIR))
        if (entry.is_regular_file())
            files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    return files;
}

class FuzzRegression : public ::testing::TestWithParam<std::string> {};

TEST_P(FuzzRegression, CompilesAndRunsWithoutFault)
{
    recorder().reset();
    recorder().opBudget = 20000;
    ScriptHandle* h = orvtest::newInstance();
    // Inputs may name files and commands; none of them may reach the machine.
    for (HostFunction* f = h->hostFunctions; f; f = f->next) {
        if (std::strcmp(f->name, "fopen") == 0)
            f->function = noFile;
        else if (std::strcmp(f->name, "exec") == 0)
            f->function = noProgram;
    }
    std::string path = std::string(ORV_REGRESSION_DIR) + "/" + GetParam();
    if (ScriptCompile(h, path.c_str())) {
        ScriptExecute(h);
        recorder().ops = 0;
        ScriptExecute(h);
    } else {
        EXPECT_FALSE(recorder().errors.empty()) << "a failed compilation explains itself";
    }
    ScriptClose(h);
}

std::string fileName(const ::testing::TestParamInfo<std::string>& info)
{
    std::string name = info.param;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzRegression, ::testing::ValuesIn(regressionFiles()), fileName);

} // namespace
