#pragma once

// Helpers shared by the script engine tests: a temporary script file and a recorder for
// the engine's callbacks. The callbacks are plain functions without a context pointer,
// so the recorder is one global object; the tests run one at a time.
#include <cstdio>
#include <string>
#include <vector>

#include "script_engine/orvscript.h"

namespace orvtest {

struct Recorder {
    std::string out;                  // characters written through the stdout callback
    std::vector<std::string> errors;  // messages of the error callback
    std::string input;                // characters handed out by the stdin callback
    size_t inputPos = 0;
    long long ops = 0;
    long long opBudget = 0;           // 0: unlimited
    std::vector<std::pair<int, int>> lines; // (line, pc) of the line callback
    bool recordLines = false;

    void reset() { *this = Recorder(); }
};

Recorder& recorder();

void onError(const char* message);
void onStdout(int ch);
int onStdin();
int onOp(int line, int pc);
int onLine(int line, int pc);

// Writes text to a fresh temporary file and removes it again on destruction.
class TempScript {
public:
    explicit TempScript(const std::string& text);
    ~TempScript();
    TempScript(const TempScript&) = delete;
    TempScript& operator=(const TempScript&) = delete;
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

// A fresh instance with all recording callbacks installed.
ScriptHandle* newInstance();

// Compiles source; on success runs it once. Returns ScriptCompile's result.
int compileAndRun(const std::string& source, int runs = 1);

// The output, or the errors joined by newlines, handy in expectations.
std::string joinedErrors();

} // namespace orvtest
