#include "script_engine/builtins.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>

#include "script_engine/orv_exception.h"

extern char** environ;

namespace zelvo::script {
namespace {

const char kStringTooLong[] = "String too long.";
const char kOutOfMemory[] = "Out of memory.";

void putChar(ScriptHandle* h, int c)
{
    if (h->stdoutFunc)
        h->stdoutFunc(c);
}

// Writes argument i to the console: an integer in decimal, a string as its characters.
void writeArgument(ScriptHandle* h, int i)
{
    if (ScriptGetArgType(h, i) == kInteger) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%d", ScriptGetIntArg(h, i));
        for (const char* p = digits; *p; ++p)
            putChar(h, static_cast<unsigned char>(*p));
    } else {
        for (const char* p = ScriptGetStrArg(h, i); p && *p; ++p)
            putChar(h, static_cast<unsigned char>(*p));
    }
}

int readChar(ScriptHandle* h)
{
    return h->stdinFunc ? h->stdinFunc() : -1;
}

const char* biPrint(ScriptHandle* h, int argc)
{
    for (int i = 0; i < argc; ++i)
        writeArgument(h, i);
    return nullptr;
}

const char* biGetch(ScriptHandle* h, int argc)
{
    for (int i = 0; i < argc; ++i)
        writeArgument(h, i);
    ScriptReturnInt(h, readChar(h));
    return nullptr;
}

const char* biGets(ScriptHandle* h, int argc)
{
    for (int i = 0; i < argc; ++i)
        writeArgument(h, i);
    char line[100];
    size_t n = 0;
    while (n < 99) {
        int c = readChar(h);
        if (c < 0 || c == 13)
            break; // end of the line, or no more input at all
        if (c == 8) {
            if (n > 0) {
                --n;
                putChar(h, 8);
                putChar(h, ' ');
                putChar(h, 8);
            }
            continue;
        }
        if ((c & 0xFF) == 0)
            continue; // a string cannot hold NUL
        line[n++] = static_cast<char>(c);
        putChar(h, c);
    }
    Builtins::returnString(h, line, n);
    return nullptr;
}

const char* biAtoi(ScriptHandle* h, int)
{
    if (ScriptGetArgType(h, 0) == kInteger) {
        ScriptReturnInt(h, ScriptGetIntArg(h, 0));
        return nullptr;
    }
    const char* p = ScriptGetStrArg(h, 0);
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    int64_t value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + (*p++ - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1)
            value = static_cast<int64_t>(INT32_MAX) + 1; // saturates below
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        value = INT32_MAX;
    ScriptReturnInt(h, static_cast<int32_t>(value));
    return nullptr;
}

const char* biItoa(ScriptHandle* h, int argc)
{
    int32_t n = ScriptGetIntArg(h, 0);
    int radix = argc >= 2 ? ScriptGetIntArg(h, 1) : 10;
    if (radix < 2 || radix > 36)
        return "itoa: Radix out of range.";
    char text[40];
    char* end = text + sizeof text;
    char* p = end;
    bool negative = radix == 10 && n < 0;
    uint32_t u = negative ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
    do {
        *--p = "0123456789abcdefghijklmnopqrstuvwxyz"[u % static_cast<uint32_t>(radix)];
        u /= static_cast<uint32_t>(radix);
    } while (u != 0);
    if (negative)
        *--p = '-';
    Builtins::returnString(h, p, static_cast<size_t>(end - p));
    return nullptr;
}

const char* biFopen(ScriptHandle* h, int argc)
{
    const char* name = ScriptGetStrArg(h, 0);
    const char* given = argc >= 2 ? ScriptGetStrArg(h, 1) : "rt";
    // 't' means nothing here; 'e' keeps the stream from leaking into started programs.
    std::string mode;
    if (*given) {
        mode.push_back(given[0]);
        mode.push_back('e');
        mode.append(given + 1);
    }
    std::FILE* f = mode.empty() ? nullptr : std::fopen(name, mode.c_str());
    if (!f) {
        ScriptReturnInt(h, 0);
        return nullptr;
    }
    if (h->nextFileHandle == INT32_MAX) {
        std::fclose(f);
        ScriptReturnInt(h, 0);
        return nullptr;
    }
    int32_t handle = h->nextFileHandle++;
    try {
        h->files.emplace(handle, f);
    } catch (...) {
        std::fclose(f);
        return kOutOfMemory;
    }
    ScriptReturnInt(h, handle);
    return nullptr;
}

const char* biFclose(ScriptHandle* h, int)
{
    auto it = h->files.find(ScriptGetIntArg(h, 0));
    if (it == h->files.end()) {
        ScriptReturnInt(h, 0);
        return nullptr;
    }
    int rc = std::fclose(it->second);
    h->files.erase(it);
    ScriptReturnInt(h, rc == 0 ? 1 : 0);
    return nullptr;
}

const char* biFprint(ScriptHandle* h, int argc)
{
    auto it = h->files.find(ScriptGetIntArg(h, 0));
    if (it == h->files.end())
        return "fprint: Bad file handle.";
    for (int i = 1; i < argc; ++i) {
        if (ScriptGetArgType(h, i) == kInteger)
            std::fprintf(it->second, "%d", ScriptGetIntArg(h, i));
        else
            std::fputs(ScriptGetStrArg(h, i), it->second);
    }
    return nullptr;
}

const char* changeCase(ScriptHandle* h, int argc, bool upper)
{
    if (argc < 1) {
        ScriptReturnInt(h, 0);
        return nullptr;
    }
    auto convert = [upper](int c) {
        if (upper && c >= 'a' && c <= 'z')
            return c - 'a' + 'A';
        if (!upper && c >= 'A' && c <= 'Z')
            return c - 'A' + 'a';
        return c;
    };
    if (ScriptGetArgType(h, 0) == kInteger) {
        ScriptReturnInt(h, convert(ScriptGetIntArg(h, 0)));
        return nullptr;
    }
    // Converted on a copy: the argument's shared text stays as it is.
    std::string text = ScriptGetStrArg(h, 0);
    for (char& c : text)
        c = static_cast<char>(convert(static_cast<unsigned char>(c)));
    Builtins::returnString(h, text.data(), text.size());
    return nullptr;
}

const char* biToupper(ScriptHandle* h, int argc)
{
    return changeCase(h, argc, true);
}

const char* biTolower(ScriptHandle* h, int argc)
{
    return changeCase(h, argc, false);
}

const char* biStrlen(ScriptHandle* h, int)
{
    const char* s = ScriptGetStrArg(h, 0);
    ScriptReturnInt(h, s ? static_cast<int32_t>(std::strlen(s)) : 0);
    return nullptr;
}

const char* biSubstr(ScriptHandle* h, int)
{
    const char* s = ScriptGetStrArg(h, 0);
    int32_t from = ScriptGetIntArg(h, 1);
    int32_t to = ScriptGetIntArg(h, 2);
    int64_t length = static_cast<int64_t>(std::strlen(s));
    if (from < 0 || from >= to || to > length)
        return "substr: Paramter out of bounds.";
    Builtins::returnString(h, s + from, static_cast<size_t>(to - from));
    return nullptr;
}

const char* biStrset(ScriptHandle* h, int)
{
    char c = static_cast<char>(ScriptGetIntArg(h, 0) & 0xFF);
    int32_t n = ScriptGetIntArg(h, 1);
    if (c == 0 || n <= 0) {
        Builtins::returnString(h, "", 0);
        return nullptr;
    }
    if (static_cast<size_t>(n) > kMaxStringLength)
        return kStringTooLong;
    try {
        std::string text(static_cast<size_t>(n), c);
        Builtins::returnString(h, text.data(), text.size());
    } catch (...) {
        return kOutOfMemory;
    }
    return nullptr;
}

// Starts the command through the shell without waiting for it. The spawned shell only
// puts the command into the background and exits, so the engine waits for exactly that
// short-lived child; the command itself is adopted by init and never becomes a zombie of
// the host. SIGCHLD and the host's other children are left alone.
const char* biExec(ScriptHandle* h, int)
{
    const char* command = ScriptGetStrArg(h, 0);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return nullptr;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return nullptr;
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // The serial port and every other descriptor of the host stay with the host.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    char shell[] = "/bin/sh";
    char dashC[] = "-c";
    char script[] = "/bin/sh -c \"$1\" &";
    char name[] = "sh";
    char* argv[] = {shell, dashC, script, name, const_cast<char*>(command), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, shell, &actions, &attr, argv, environ) == 0) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return nullptr;
}

struct BuiltinEntry {
    const char* name;
    const char* signature;
    ScriptHostFunc function;
};

constexpr BuiltinEntry kBuiltins[] = {
    {"print", "*", biPrint},       {"getch", "*", biGetch},     {"gets", "*", biGets},
    {"atoi", "S", biAtoi},         {"itoa", "Ii", biItoa},      {"fopen", "Ss", biFopen},
    {"fclose", "I", biFclose},     {"fprint", "I*", biFprint},  {"toupper", "v", biToupper},
    {"tolower", "v", biTolower},   {"strlen", "S", biStrlen},   {"substr", "SII", biSubstr},
    {"strset", "II", biStrset},    {"exec", "S", biExec},
};

} // namespace

bool Builtins::registerAll(ScriptHandle* h)
{
    for (const BuiltinEntry& e : kBuiltins)
        if (!ScriptAddFunction(h, e.name, e.signature, e.function))
            return false;
    return true;
}

void Builtins::closeFiles(ScriptHandle* h)
{
    for (auto& [handle, file] : h->files)
        std::fclose(file);
    h->files.clear();
}

void Builtins::returnString(ScriptHandle* h, const char* text, size_t n)
{
    // A failure is only worth raising inside a host call; elsewhere a stays as it was.
    if (n > kMaxStringLength) {
        if (h->inHostCall)
            h->pendingError = kStringTooLong;
        return;
    }
    try {
        setString(h->a, text, n);
    } catch (...) {
        if (h->inHostCall)
            h->pendingError = kOutOfMemory;
    }
}

} // namespace zelvo::script
