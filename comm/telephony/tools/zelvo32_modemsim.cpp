// zelvo32-modemsim: a Hayes modem on standard input and output, for trying dialling and
// scripts without hardware and for the tests of the modem driver. See --help.

#include "comm/pty_child.h"
#include "comm/telephony/tools/modem_simulator.h"
#include "platform/clock.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using zelvo::telephony::ModemSimulator;

namespace {

const char kUsage[] =
    "Usage: zelvo32-modemsim [OPTION]...\n"
    "A Hayes-command modem on standard input and output. Run it as the device of a\n"
    "modem (exec:zelvo32-modemsim ...) to dial without hardware.\n"
    "\n"
    "  --number N=ANSWER  how number N answers a call: exec:COMMAND connects to COMMAND\n"
    "                     (its output and input pass through while online; its end\n"
    "                     drops the carrier), or BUSY, NO ANSWER, NO CARRIER,\n"
    "                     NO DIALTONE. Several answers, separated by commas, are used\n"
    "                     one per call, the last one repeating (exec: must come last).\n"
    "                     Numbers that are not given answer NO CARRIER.\n"
    "  --rate BPS         the rate CONNECT reports (default 33600; 0 reports none)\n"
    "  --delay MS         time from ATD to the answer (default 1000)\n"
    "  --guard MS         escape guard time around \"+++\" (default 1000; ATS12 sets it\n"
    "                     in fiftieths of a second)\n"
    "  --log FILE         append the command lines the modem runs, \"+++\" for each\n"
    "                     escape and \"NO CARRIER\" for each far end that ended\n"
    "  --help             this text\n"
    "\n"
    "Commands: AT, ATZ, ATE0/1 (echo), ATV0/1 (numeric/verbose results), ATQ0/1,\n"
    "ATD[T|P]number[;], ATH, ATO, ATA, ATI, ATSn=v, ATSn?, A/; others of the &, \\ and %\n"
    "families are taken and ignored.\n"
    "\n"
    "Example:\n"
    "  zelvo32-modemsim --number 5551234='exec:/bin/sh -i' --number 5550000=BUSY\n";

volatile sig_atomic_t gStop = 0;

void onSignal(int)
{
    gStop = 1;
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
            continue;
        }
        return false;
    }
    return true;
}

class ToolHost : public ModemSimulator::Host {
public:
    void toLine(std::string_view bytes) override
    {
        if (!writeAll(STDOUT_FILENO, bytes))
            lineGone = true;
    }
    bool connect(const std::string& command) override
    {
        int fd = -1;
        if (far.Start(command, fd) < 0)
            return false;
        // Terminal programs send BS for the backspace key; the far end takes it as the
        // erase character, as a dial-up host would.
        termios t{};
        if (::tcgetattr(fd, &t) == 0) {
            t.c_cc[VERASE] = 8;
            ::tcsetattr(fd, TCSANOW, &t);
        }
        farFd = fd;
        return true;
    }
    void toFar(std::string_view bytes) override
    {
        if (farFd >= 0)
            writeAll(farFd, bytes);
    }
    void hangupFar() override { endFar(); }
    void note(std::string_view what) override
    {
        if (log) {
            std::fprintf(log, "%.*s\n", int(what.size()), what.data());
            std::fflush(log);
        }
    }

    void endFar()
    {
        if (farFd >= 0)
            ::close(farFd);
        farFd = -1;
        far.Terminate(200);
    }

    zelvo::comm::PtyChild far;
    int farFd = -1;
    bool lineGone = false;
    std::FILE* log = nullptr;
};

bool number(const char* text, int64_t lo, int64_t hi, int64_t& out)
{
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    ModemSimulator::Options options;
    ToolHost host;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        auto takeValue = [&](const char* name) {
            std::string prefix = std::string(name) + "=";
            if (arg.rfind(prefix, 0) == 0) {
                value = arg.substr(prefix.size());
                return true;
            }
            if (arg == name && i + 1 < argc) {
                value = argv[++i];
                return true;
            }
            return false;
        };
        int64_t n = 0;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (takeValue("--number")) {
            std::string error;
            if (!ModemSimulator::AddNumber(options, value, error)) {
                std::fprintf(stderr, "zelvo32-modemsim: %s\n", error.c_str());
                return 2;
            }
        } else if (takeValue("--rate")) {
            if (!number(value.c_str(), 0, 100000000, n)) {
                std::fprintf(stderr, "zelvo32-modemsim: --rate takes a number of bits per second\n");
                return 2;
            }
            options.rate = uint32_t(n);
        } else if (takeValue("--delay")) {
            if (!number(value.c_str(), 0, 600000, n)) {
                std::fprintf(stderr, "zelvo32-modemsim: --delay takes milliseconds (0 to 600000)\n");
                return 2;
            }
            options.dialDelayMs = n;
        } else if (takeValue("--log")) {
            if (host.log)
                std::fclose(host.log);
            host.log = std::fopen(value.c_str(), "a");
            if (!host.log) {
                std::fprintf(stderr, "zelvo32-modemsim: %s: %s\n", value.c_str(), std::strerror(errno));
                return 2;
            }
        } else if (takeValue("--guard")) {
            if (!number(value.c_str(), 20, 5100, n)) {
                std::fprintf(stderr, "zelvo32-modemsim: --guard takes milliseconds (20 to 5100)\n");
                return 2;
            }
            options.guardMs = n;
        } else {
            std::fprintf(stderr, "zelvo32-modemsim: unknown argument \"%s\" (see --help)\n",
                         arg.c_str());
            return 2;
        }
    }

    // The line is raw: the modem echoes by itself and reads every byte as it comes.
    termios saved{};
    const bool tty = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (tty) {
        termios raw = saved;
        ::cfmakeraw(&raw);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    ::sigaction(SIGHUP, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    ModemSimulator sim(host, options);
    char buf[4096];
    while (!gStop && !host.lineGone) {
        const int64_t now = zelvo::platform::monotonicMs();
        sim.tick(now);
        const int64_t wait = std::clamp<int64_t>(sim.deadline() - now, 0, 60000);
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {host.farFd, POLLIN, 0}};
        int rc = ::poll(fds, host.farFd >= 0 ? 2 : 1, int(wait));
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                break; // the terminal program has let go of the line
            if (n > 0)
                sim.fromLine(std::string_view(buf, size_t(n)), zelvo::platform::monotonicMs());
        }
        if (host.farFd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t n = ::read(host.farFd, buf, sizeof buf);
            if (n > 0) {
                sim.farOutput(std::string_view(buf, size_t(n)));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                // The far command has ended: the carrier drops.
                host.endFar();
                sim.farEnded();
            }
        }
    }
    // The line's hang-up may signal again while the process winds down; nothing is
    // left to interrupt.
    ::signal(SIGHUP, SIG_IGN);
    ::signal(SIGTERM, SIG_IGN);
    host.endFar();
    if (host.log)
        std::fclose(host.log);
    if (tty)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    // The line has been hung up, and the process group it leaves behind may be
    // orphaned meanwhile: the process ends here, without exit handlers (a leak
    // checker's stop of the process would be undone by the kernel's continue signal
    // to an orphaned group, and it would wait for ever).
    std::fflush(stdout);
    ::_exit(0);
}
