// Benchmarks of the script engine: instructions per second of the machine on an integer
// loop and on a string-building loop (op callback that only returns 1), the same integer
// loop in lua5.4 when it is installed, and the compile time of a 900-instruction script.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "script_engine/orvscript.h"
#include "script_engine/script_handle.h"

extern char** environ;

namespace {

long long gOps = 0;

int countOps(int, int)
{
    ++gOps;
    return 1;
}

int keepGoing(int, int)
{
    return 1;
}

void printError(const char* message)
{
    std::fprintf(stderr, "script error: %s\n", message);
}

// CPU seconds of this thread: the machine's speed without the time other processes of
// a busy build host take from it.
double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::string writeTemp(const std::string& text)
{
    char path[] = "/tmp/orvbenchXXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        std::perror("mkstemp");
        std::exit(1);
    }
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        std::exit(1);
    close(fd);
    return path;
}

ScriptHandle* compileScript(const std::string& path)
{
    ScriptHandle* h = ScriptInit();
    ScriptSetErrorFunc(h, printError);
    if (!ScriptCompile(h, path.c_str())) {
        std::fprintf(stderr, "compilation failed\n");
        std::exit(1);
    }
    return h;
}

// Runs the script once counting its instructions, then times the best of a few runs
// with an op callback that only returns 1.
void measureRun(const char* name, const std::string& source, int repeats)
{
    std::string path = writeTemp(source);
    ScriptHandle* h = compileScript(path);
    gOps = 0;
    ScriptSetOpFunc(h, countOps);
    ScriptExecute(h);
    long long ops = gOps;
    ScriptSetOpFunc(h, keepGoing);
    double best = 1e9;
    for (int i = 0; i < repeats; ++i) {
        double t0 = cpuSeconds();
        ScriptExecute(h);
        double t = cpuSeconds() - t0;
        if (t < best)
            best = t;
    }
    std::printf("%s instructions: %lld count\n", name, ops);
    std::printf("%s time: %.1f ms\n", name, best * 1000.0);
    std::printf("%s speed: %.1f Minstr/s\n", name, ops / best / 1e6);
    ScriptClose(h);
    unlink(path.c_str());
}

// Runs lua5.4 on the same loop and takes the child's CPU time from wait4, so that both
// figures are CPU times (the Lua figure includes its start-up of about a millisecond).
void measureLua(int iterations)
{
    std::string script = "local x = 0 for i = 0, " + std::to_string(iterations - 1) +
                         " do x = x + i end";
    std::string path = writeTemp(script);
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        char prog[] = "lua5.4";
        char* argv[] = {prog, path.data(), nullptr};
        pid_t pid = -1;
        if (posix_spawnp(&pid, prog, nullptr, nullptr, argv, environ) != 0) {
            std::printf("lua5.4 integer loop: not installed\n");
            unlink(path.c_str());
            return;
        }
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::printf("lua5.4 integer loop: not installed\n");
            unlink(path.c_str());
            return;
        }
        double t = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
        if (t < best)
            best = t;
    }
    unlink(path.c_str());
    std::printf("lua5.4 integer loop time: %.1f ms\n", best * 1000.0);
}

// A script of roughly 900 instructions: small functions of arithmetic and loops.
std::string compileSource()
{
    std::string s = "var total;\n";
    for (int f = 0; f < 9; ++f) {
        const std::string name = std::to_string(f);
        s.append("f").append(name).append("(a, b) {\n  var c = a * 3 + b;\n");
        s.append("  if (c > 10) c = c - 10; else c = c + 1;\n");
        s.append("  while (c > 0) { total = total + c; c--; }\n");
        s.append("  return c + a - b;\n}\n");
    }
    s.append("main() {\n");
    for (int f = 0; f < 9; ++f) {
        const std::string name = std::to_string(f);
        s.append("  f").append(name).append("(").append(name).append(", 2);\n");
    }
    s.append("}\n");
    return s;
}

void measureCompile()
{
    std::string path = writeTemp(compileSource());
    ScriptHandle* h = ScriptInit();
    ScriptSetErrorFunc(h, printError);
    const int rounds = 2000;
    double t0 = cpuSeconds();
    for (int i = 0; i < rounds; ++i) {
        if (!ScriptCompile(h, path.c_str())) {
            std::fprintf(stderr, "compilation failed\n");
            std::exit(1);
        }
    }
    double t = (cpuSeconds() - t0) / rounds;
    // The instance's layout is shared with the library build; only its size is read.
    std::printf("compile script instructions: %d count\n", h->codeSize);
    std::printf("compile script size: %zu bytes\n", compileSource().size());
    std::printf("compile time: %.1f us\n", t * 1e6);
    std::printf("compile speed: %.1f Minstr/s\n", h->codeSize / t / 1e6);
    ScriptClose(h);
    unlink(path.c_str());
}

} // namespace

int main()
{
    const int iterations = 3000000;
    measureRun("integer loop",
               "main() { var i, x; for (i = 0; i < " + std::to_string(iterations) +
                   "; i++) x = x + i; }\n",
               5);
    measureLua(iterations);
    measureRun("string loop",
               "main() { var i, j, s; for (j = 0; j < 2000; j++) { s = \"\";"
               " for (i = 0; i < 200; i++) s = s + \"ab\"; } }\n",
               5);
    measureCompile();
    return 0;
}
