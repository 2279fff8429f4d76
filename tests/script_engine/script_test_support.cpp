#include "script_test_support.h"

#include <unistd.h>

#include <cstdlib>

namespace orvtest {

Recorder& recorder()
{
    static Recorder r;
    return r;
}

void onError(const char* message)
{
    recorder().errors.emplace_back(message);
}

void onStdout(int ch)
{
    recorder().out.push_back(static_cast<char>(ch));
}

int onStdin()
{
    Recorder& r = recorder();
    if (r.inputPos >= r.input.size())
        return -1;
    return static_cast<unsigned char>(r.input[r.inputPos++]);
}

int onOp(int, int)
{
    Recorder& r = recorder();
    ++r.ops;
    return r.opBudget == 0 || r.ops < r.opBudget ? 1 : 0;
}

int onLine(int line, int pc)
{
    Recorder& r = recorder();
    if (r.recordLines)
        r.lines.emplace_back(line, pc);
    return 1;
}

TempScript::TempScript(const std::string& text)
{
    char path[] = "/tmp/orvtestXXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        std::abort();
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            std::abort();
        done += static_cast<size_t>(n);
    }
    close(fd);
    path_ = path;
}

TempScript::~TempScript()
{
    unlink(path_.c_str());
}

ScriptHandle* newInstance()
{
    ScriptHandle* h = ScriptInit();
    ScriptSetErrorFunc(h, onError);
    ScriptSetStdoutFunc(h, onStdout);
    ScriptSetStdinFunc(h, onStdin);
    ScriptSetOpFunc(h, onOp);
    ScriptSetLineFunc(h, onLine);
    return h;
}

int compileAndRun(const std::string& source, int runs)
{
    TempScript file(source);
    ScriptHandle* h = newInstance();
    int ok = ScriptCompile(h, file.path());
    if (ok)
        for (int i = 0; i < runs; ++i)
            ScriptExecute(h);
    ScriptClose(h);
    return ok;
}

std::string joinedErrors()
{
    std::string all;
    for (const std::string& e : recorder().errors) {
        if (!all.empty())
            all += '\n';
        all += e;
    }
    return all;
}

} // namespace orvtest
