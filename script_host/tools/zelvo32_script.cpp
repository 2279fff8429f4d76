// zelvo32-script: runs a script with the terminal's host functions over a line, without
// windows, for automation and tests.

#include "comm/port_table.h"
#include "platform/registry_store.h"
#include "script_host/headless_run.h"

#include <fcntl.h>
#include <strings.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using zelvo::script_host::HeadlessOptions;
using zelvo::script_host::HeadlessRun;

namespace {

constexpr int kUsageError = 64;

const char* kUsage =
    "Usage: zelvo32-script [--line DEVICE] [--baud N] [--set NAME=VALUE]... FILE\n"
    "       zelvo32-script --help\n"
    "\n"
    "Runs the script FILE with the terminal's host functions (Send, Waitfor, Receive,\n"
    "SendFile, ReceiveFile, ...) over the line DEVICE, without windows.\n"
    "\n"
    "DEVICE is a terminal device (/dev/ttyUSB0), a port number COMn as mapped in the\n"
    "settings' port table, or exec:COMMAND, which runs COMMAND through /bin/sh on a new\n"
    "pseudo-terminal and uses it as the line. Without --line the script runs with no\n"
    "line: Send fails and waits only time out.\n"
    "\n"
    "What the terminal would show (echoed bytes, TerminalPrint) and the script's own\n"
    "output go to standard output as plain text; Message, the engine's messages and\n"
    "transfer progress go to standard error; the script's console reads standard input.\n"
    "SelectPath and SelectFile return an empty string; TerminalClear, TerminalHide,\n"
    "TerminalShow and MessageHide do nothing. Ctrl-C stops the script as the Stop command\n"
    "does; a second Ctrl-C ends the program at once.\n"
    "\n"
    "Options:\n"
    "  --line DEVICE       the line\n"
    "  --baud N            line speed in bits per second (default 19200)\n"
    "  --set NAME=VALUE    a setting of the file transfers by its name, for example\n"
    "                      --set ZmodemFileOption=zfoWriteClobber --set HandshakeWait=91\n"
    "  --quiet             no transfer progress\n"
    "  --help              this text\n"
    "\n"
    "Exit status: 0 after a clean run, 1 when the script could not be compiled or the\n"
    "line not opened, 2 after a run-time error (also a run stopped by Ctrl-C), 64 for a\n"
    "wrong command line.\n";

int usageError(const std::string& msg)
{
    std::fprintf(stderr, "zelvo32-script: %s\n", msg.c_str());
    std::fprintf(stderr, "Try 'zelvo32-script --help'.\n");
    return kUsageError;
}

// COMn through the port table of the settings, else the device as given.
std::string resolveDevice(const std::string& line)
{
    if (line.size() < 4 || strncasecmp(line.c_str(), "COM", 3) != 0)
        return line;
    char* end = nullptr;
    const long n = std::strtol(line.c_str() + 3, &end, 10);
    if (*end || n < 1 || n > zelvo::comm::MaxComNumber)
        return line;
    zelvo::platform::RegistryStore store;
    store.load();
    return zelvo::comm::PortDevice(store, int(n));
}

// Ctrl-C reaches the run through a pipe: the signal handler only writes a byte, and a
// watcher thread asks the run to stop.
int gSignalPipe[2] = {-1, -1};
std::atomic<int> gSignals{0};
std::mutex gRunMutex;
HeadlessRun* gRun = nullptr;

void onSignal(int)
{
    const int saved = errno;
    if (gSignals.fetch_add(1) >= 1)
        ::_exit(130);
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &c, 1);
    errno = saved;
}

termios gSavedTerminal{};
bool gRawTerminal = false;

// Keys reach the script one at a time and unechoed, as in orvscript.
void rawTerminal()
{
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &gSavedTerminal) != 0)
        return;
    termios raw = gSavedTerminal;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    gRawTerminal = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

void restoreTerminal()
{
    if (gRawTerminal)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
}

} // namespace

int main(int argc, char** argv)
{
    HeadlessOptions options;
    bool baudGiven = false;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* what, std::string& out) {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            (void)what;
            return true;
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        std::string v;
        if (a == "--line") {
            if (!value("--line", v) || v.empty())
                return usageError("--line needs a device");
            options.device = resolveDevice(v);
        } else if (a == "--baud") {
            if (!value("--baud", v))
                return usageError("--baud needs a number");
            char* end = nullptr;
            errno = 0;
            const unsigned long n = std::strtoul(v.c_str(), &end, 10);
            if (v.empty() || *end || errno || n == 0 || n > 0xFFFFFFFFul || v[0] == '-')
                return usageError("bad line speed \"" + v + "\"");
            options.baud = uint32_t(n);
            baudGiven = true;
        } else if (a == "--set") {
            if (!value("--set", v))
                return usageError("--set needs NAME=VALUE");
            options.settings.push_back(v);
        } else if (a.rfind("--set=", 0) == 0) {
            options.settings.push_back(a.substr(6));
        } else if (a == "--quiet" || a == "-q") {
            options.progress = false;
        } else if (a == "--") {
            if (i + 1 < args.size() && options.script.empty() && i + 2 == args.size()) {
                options.script = args[++i];
            } else {
                return usageError("give exactly one script file");
            }
        } else if (a.size() > 1 && a[0] == '-') {
            return usageError("unknown option " + a);
        } else if (options.script.empty()) {
            options.script = a;
        } else {
            return usageError("only one script file may be given");
        }
    }
    if (options.script.empty())
        return usageError("no script file given");
    if (baudGiven && options.device.empty())
        return usageError("--baud needs --line");
    if (std::FILE* probe = std::fopen(options.script.c_str(), "r")) {
        std::fclose(probe);
    } else {
        std::fprintf(stderr, "zelvo32-script: cannot open '%s': %s\n", options.script.c_str(),
                     std::strerror(errno));
        return HeadlessRun::kNotCompiled;
    }

    std::signal(SIGPIPE, SIG_IGN);
    HeadlessRun run(options);
    if (::pipe2(gSignalPipe, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "zelvo32-script: %s\n", std::strerror(errno));
        return HeadlessRun::kNotCompiled;
    }
    {
        std::lock_guard lock(gRunMutex);
        gRun = &run;
    }
    std::thread([] {
        char c;
        while (::read(gSignalPipe[0], &c, 1) == 1) {
            std::lock_guard lock(gRunMutex);
            if (gRun)
                gRun->RequestStop();
        }
    }).detach();
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    rawTerminal();
    const int status = run.Run();
    restoreTerminal();
    std::lock_guard lock(gRunMutex);
    gRun = nullptr;
    return status;
}
