// Runs every script under cases/ and checks it against the expectations written in its
// comments:
//   // expect: TEXT            one line of console output, in order
//   // expect error: TEXT      one message of the error callback (compile or run time)
//   // stdin: TEXT             console input
//   // ops: N                  stop the run after N instructions (op callback)
// Output and input texts understand the escapes \r \n \b \\ and \xHH.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "script_test_support.h"

namespace fs = std::filesystem;
using orvtest::recorder;

namespace {

std::vector<std::string> caseFiles()
{
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(ORV_CASES_DIR))
        if (entry.is_regular_file() && entry.path().extension() == ".vm")
            files.push_back(fs::relative(entry.path(), ORV_CASES_DIR).string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string unescape(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char e = s[++i];
        if (e == 'x' && i + 2 < s.size() + 0 && std::isxdigit(static_cast<unsigned char>(s[i + 1]))
            && std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
            continue;
        }
        out += e == 'r' ? '\r' : e == 'n' ? '\n' : e == 'b' ? '\b' : e;
    }
    return out;
}

struct Expectations {
    std::vector<std::string> output;
    std::vector<std::string> errors;
    std::string input;
    long long ops = 0;
};

Expectations readExpectations(const std::string& source)
{
    Expectations e;
    std::istringstream in(source);
    std::string line;
    auto after = [&line](const char* marker, std::string& rest) {
        size_t p = line.find(marker);
        if (p == std::string::npos)
            return false;
        rest = line.substr(p + std::string(marker).size());
        return true;
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string rest;
        if (after("// expect error: ", rest))
            e.errors.push_back(rest);
        else if (after("// expect: ", rest))
            e.output.push_back(unescape(rest));
        else if (after("// stdin: ", rest))
            e.input += unescape(rest);
        else if (after("// ops: ", rest))
            e.ops = std::stoll(rest);
    }
    return e;
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string current;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        lines.push_back(current);
    return lines;
}

class ScriptCase : public ::testing::TestWithParam<std::string> {};

TEST_P(ScriptCase, MatchesExpectations)
{
    const std::string path = std::string(ORV_CASES_DIR) + "/" + GetParam();
    std::ifstream file(path, std::ios::binary);
    std::stringstream buffer;
    buffer << file.rdbuf();
    Expectations expected = readExpectations(buffer.str());

    recorder().reset();
    recorder().input = expected.input;
    // Every case runs under an instruction budget so that a wrong loop cannot hang.
    recorder().opBudget = expected.ops ? expected.ops : 20'000'000;
    ScriptHandle* h = orvtest::newInstance();
    if (ScriptCompile(h, path.c_str()))
        ScriptExecute(h);
    ScriptClose(h);

    EXPECT_EQ(splitLines(recorder().out), expected.output) << "output of " << GetParam();
    EXPECT_EQ(recorder().errors, expected.errors) << "messages of " << GetParam();
}

std::string caseName(const ::testing::TestParamInfo<std::string>& info)
{
    std::string name = info.param.substr(0, info.param.size() - 3);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, ScriptCase, ::testing::ValuesIn(caseFiles()), caseName);

} // namespace
