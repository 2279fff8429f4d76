// The cost of receiving terminal traffic at 115200 baud into the program's main window.
// A feeder process plays the far end of a pseudo-terminal and writes 11,520 bytes/s of
// terminal text (coloured prompts, listings, escape sequences) in the 16-byte bursts a
// serial driver delivers at that rate; the program shows it offscreen. Prints
// "name: value unit" lines:
//
//   receive cpu at 115200 baud: user + system time of the program over the run, as a
//                               share of one core (the feeder is another process)
//   receive wake-ups: voluntary context switches of the program per second
//   receive repaints: paints of the terminal per second
//   receive shown: bytes that reached the terminal, of those sent
//
// The session uses the ANSI emulation; with the argument "xterm" it uses the xterm
// emulation (Unicode cells) and the names end in " (xterm)".

#include "app/session_settings.h"
#include "app/ui/main_form.h"
#include "app/ui/program.h"
#include "comm/port_table.h"
#include "platform/registry_store.h"
#include "terminal/ui/terminal_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using namespace zelvo;

namespace {

constexpr int kBytesPerSecond = 11520;
constexpr int kBurst = 16;
constexpr int kSeconds = 10;

// Terminal traffic of a session at work: prompts in colour, command output, a status
// line drawn with cursor movements.
std::string traffic()
{
    std::string s;
    for (int i = 0; s.size() < 64 * 1024; ++i) {
        s += "\x1b[32muser@board\x1b[0m:\x1b[34m~/src\x1b[0m$ ls -l\r\n";
        for (int j = 0; j < 6; ++j)
            s += "-rw-r--r-- 1 user user  " + std::to_string(1000 + i * 7 + j)
                 + " Mar  3 12:0" + std::to_string(j) + " file" + std::to_string(j) + ".c\r\n";
        s += "\x1b[s\x1b[25;1H\x1b[7m load " + std::to_string(i % 100) + "% \x1b[0m\x1b[u";
    }
    return s;
}

// The feeder: waits for a byte on go, then writes the traffic at the line's rate until
// killed. It is forked before the program is built, so that it shares no pages with it.
[[noreturn]] void feed(int master, int go)
{
    const std::string text = traffic();
    char c;
    if (::read(go, &c, 1) != 1)
        ::_exit(0);
    size_t at = 0;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const long intervalNs = 1000000000L / (kBytesPerSecond / kBurst);
    for (;;) {
        size_t n = std::min<size_t>(kBurst, text.size() - at);
        if (::write(master, text.data() + at, n) > 0)
            at = (at + n) % text.size();
        next.tv_nsec += intervalNs;
        while (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
}

struct Usage {
    double cpu = 0;
    long wakeups = 0;
};

Usage usage()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return {double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
                + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6,
            u.ru_nvcsw};
}

// Voluntary context switches and CPU ticks of each thread, for finding who wakes up.
std::string threadReport()
{
    std::string out;
    for (auto& e : fs::directory_iterator("/proc/self/task")) {
        std::FILE* f = std::fopen((e.path() / "status").c_str(), "r");
        if (!f)
            continue;
        char line[256];
        std::string name, csw;
        while (std::fgets(line, sizeof line, f)) {
            std::string l(line);
            if (l.rfind("Name:", 0) == 0)
                name = l.substr(6, l.size() - 7);
            if (l.rfind("voluntary_ctxt_switches:", 0) == 0)
                csw = l.substr(25, l.size() - 26);
        }
        std::fclose(f);
        f = std::fopen((e.path() / "stat").c_str(), "r");
        unsigned long ut = 0, st = 0;
        if (f) {
            char buf[1024] = {};
            size_t n = std::fread(buf, 1, sizeof buf - 1, f);
            std::fclose(f);
            std::string stat(buf, n);
            auto close = stat.rfind(')');
            std::sscanf(stat.c_str() + close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &ut, &st);
        }
        out += "  thread " + e.path().filename().string() + " " + name + ": " + csw + " switches, "
               + std::to_string(ut + st) + " ticks\n";
    }
    return out;
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    const bool xterm = argc > 1 && std::string(argv[1]) == "xterm";
    const char* tag = xterm ? " (xterm)" : "";
    fs::path dir = fs::temp_directory_path() / ("zelvo-bench-receive-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::printf("receive cpu at 115200 baud: failed (no pseudo-terminal)\n");
        return 1;
    }
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    int goPipe[2];
    if (::pipe(goPipe) != 0)
        return 1;
    const pid_t feeder = ::fork();
    if (feeder == 0) {
        ::close(goPipe[1]);
        feed(master, goPipe[0]);
    }
    ::close(goPipe[0]);
    {
        platform::RegistryStore store;
        comm::SetPortDevice(store, 37, name);
        app::SessionSettings s;
        s.port.ComNumber = 37;
        s.port.Baud = 115200;
        s.emulator.EmulatorType = xterm ? 5 : 1;
        app::WriteRegistry(store, app::kDefaultSession, s);
        store.save();
    }

    QApplication qapp(argc, argv);
    app::Program::Options options;
    options.unattended = true;
    app::Program program(options);
    app::MainForm& form = program.form();
    form.show();
    QElapsedTimer guard;
    guard.start();
    while (!form.started() && guard.elapsed() < 20000)
        wait(10);
    auto* terminal = form.findChild<terminal::TerminalWindow*>();
    if (!form.started() || !terminal) {
        std::printf("receive cpu at 115200 baud: failed (the line did not open)\n");
        ::kill(feeder, SIGKILL);
        return 1;
    }

    if (::write(goPipe[1], "g", 1) != 1)
        return 1;
    wait(1000); // settle
    const std::string threads0 = std::getenv("ZELVO_BENCH_THREADS") ? threadReport() : std::string();
    const Usage u0 = usage();
    const uint64_t shown0 = terminal->bytesShown();
    const uint64_t paints0 = terminal->paintCount();
    QElapsedTimer run;
    run.start();
    wait(kSeconds * 1000);
    const double secs = double(run.elapsed()) / 1000.0;
    const Usage u1 = usage();
    const uint64_t shown = terminal->bytesShown() - shown0;
    const uint64_t paints = terminal->paintCount() - paints0;
    ::kill(feeder, SIGKILL);
    ::waitpid(feeder, nullptr, 0);

    std::printf("receive cpu at 115200 baud%s: %.2f %%\n", tag, (u1.cpu - u0.cpu) / secs * 100.0);
    std::printf("receive wake-ups%s: %.0f /s\n", tag, double(u1.wakeups - u0.wakeups) / secs);
    std::printf("receive repaints%s: %.1f /s\n", tag, double(paints) / secs);
    std::printf("receive shown%s: %.0f bytes/s of %d sent\n", tag, double(shown) / secs, kBytesPerSecond);
    if (std::getenv("ZELVO_BENCH_THREADS")) {
        std::fputs(threads0.c_str(), stderr);
        std::fputs(threadReport().c_str(), stderr);
    }
    form.close();
    ::close(slave);
    ::close(master);
    fs::remove_all(dir);
    return 0;
}
