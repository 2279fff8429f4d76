// Fuzz target: compiles arbitrary bytes as a script and runs what compiles under an
// instruction budget. Builtins that reach outside (files, programs) are replaced by
// harmless stand-ins so that no input can touch the machine running the fuzzer.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "script_engine/orvscript.h"
#include "script_engine/script_handle.h"

namespace {

constexpr long kOpBudget = 20000;
long gOps = 0;
const uint8_t* gInput = nullptr;
size_t gInputSize = 0;
size_t gInputPos = 0;

int onOp(int, int)
{
    return ++gOps < kOpBudget ? 1 : 0;
}

int onLine(int, int)
{
    return 1;
}

void onError(const char* message)
{
    // Touch the whole message so that a bad pointer shows up under the sanitizers.
    volatile size_t n = std::strlen(message);
    (void)n;
}

void onStdout(int) {}

int onStdin()
{
    // Console input comes from the tail of the fuzz input, then runs dry.
    if (gInputPos >= gInputSize)
        return -1;
    return gInput[gInputPos++];
}

const char* fakeFopen(ScriptHandle* h, int)
{
    ScriptReturnInt(h, 0);
    return nullptr;
}

const char* fakeExec(ScriptHandle*, int)
{
    return nullptr;
}

const char* hostEcho(ScriptHandle* h, int argc)
{
    if (argc > 0 && ScriptGetArgType(h, 0) == 1)
        ScriptReturnStr(h, ScriptGetStrArg(h, 0));
    else if (argc > 0)
        ScriptReturnInt(h, ScriptGetIntArg(h, 0));
    return argc > 3 ? "host: too many" : nullptr;
}

int memoryFile()
{
    static int fd = -1;
    if (fd < 0)
        fd = memfd_create("orvscript-fuzz", 0);
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int fd = memoryFile();
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        return 0;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);

    ScriptHandle* h = ScriptInit();
    if (!h)
        return 0;
    for (HostFunction* f = h->hostFunctions; f; f = f->next) {
        if (std::strcmp(f->name, "fopen") == 0)
            f->function = fakeFopen;
        else if (std::strcmp(f->name, "exec") == 0)
            f->function = fakeExec;
    }
    ScriptAddFunction(h, "host", "Vi*", hostEcho);
    ScriptSetErrorFunc(h, onError);
    ScriptSetStdoutFunc(h, onStdout);
    ScriptSetStdinFunc(h, onStdin);
    ScriptSetOpFunc(h, onOp);
    ScriptSetLineFunc(h, onLine);
    gInput = data;
    gInputSize = size;
    gInputPos = size / 2;
    if (ScriptCompile(h, path)) {
        gOps = 0;
        ScriptExecute(h);
        gOps = kOpBudget / 2;
        ScriptExecute(h); // a second run over the globals the first one left
    }
    ScriptClose(h);
    return 0;
}
