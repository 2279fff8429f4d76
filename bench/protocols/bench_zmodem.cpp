// Zmodem benchmark: our sender and receiver against lrzsz over pseudo-terminal pairs,
// beside sz -> rz in the same run.
//
//   bench_zmodem [--quick]
//
// Throughput: 64 MiB of random data through an unlimited relay. Efficiency: 1 MiB
// through a relay limited to 11,520 bytes/s each way (a 115200 bps line), as bytes per
// second divided by 11,520, for random data with 1K and 8K subpackets and for plain
// text. --quick skips the rate-limited runs (they take about 90 s each).
// Output: one "name: value unit" line per figure.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/clock.h"
#include "protocols/direct_line.h"
#include "protocols/protocol.h"

using namespace zelvo;
using namespace zelvo::protocols;

namespace {

struct Pty {
    int master = -1, slave = -1;
    std::string name;
    Pty()
    {
        char n[128];
        if (::openpty(&master, &slave, n, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        name = n;
        struct termios t {};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
        ::fcntl(master, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    }
    ~Pty()
    {
        if (slave >= 0)
            ::close(slave);
        ::close(master);
    }
};

// Copies between two pty masters, optionally at a limited rate each way.
class Relay {
public:
    Relay(int a, int b, uint32_t rate) : a_(a), b_(b), rate_(rate)
    {
        ::pipe2(stop_, O_CLOEXEC);
        ::fcntl(a, F_SETFL, ::fcntl(a, F_GETFL) | O_NONBLOCK);
        ::fcntl(b, F_SETFL, ::fcntl(b, F_GETFL) | O_NONBLOCK);
        thread_ = std::thread([this] { run(); });
    }
    ~Relay()
    {
        const char c = 0;
        [[maybe_unused]] ssize_t r = ::write(stop_[1], &c, 1);
        thread_.join();
        ::close(stop_[0]);
        ::close(stop_[1]);
    }

private:
    struct Dir {
        int from, to;
        std::vector<uint8_t> buf = std::vector<uint8_t>(1 << 16);
        size_t head = 0, tail = 0;
        double budget = 0;
    };
    void run()
    {
        Dir d[2] = {{a_, b_}, {b_, a_}};
        int64_t last = platform::monotonicMs();
        for (;;) {
            const int64_t now = platform::monotonicMs();
            for (Dir& x : d) {
                // The budget may build up to a tenth of a second, so that a relay thread
                // that is scheduled late does not lose line time.
                if (rate_)
                    x.budget = std::min(x.budget + (now - last) * rate_ / 1000.0, rate_ / 10.0);
                size_t n = x.tail - x.head;
                if (rate_)
                    n = std::min<size_t>(n, static_cast<size_t>(x.budget));
                if (n) {
                    const ssize_t w = ::write(x.to, x.buf.data() + x.head, n);
                    if (w > 0) {
                        x.head += static_cast<size_t>(w);
                        if (rate_)
                            x.budget -= static_cast<double>(w);
                    }
                }
                if (x.head == x.tail)
                    x.head = x.tail = 0;
            }
            last = now;
            struct pollfd p[5];
            int k = 0;
            p[k++] = {stop_[0], POLLIN, 0};
            int in[2] = {-1, -1};
            bool waiting = false;
            for (int i = 0; i < 2; ++i) {
                if (d[i].tail < d[i].buf.size()) {
                    in[i] = k;
                    p[k++] = {d[i].from, POLLIN, 0};
                }
                if (d[i].tail > d[i].head) {
                    if (rate_)
                        waiting = true;
                    else
                        p[k++] = {d[i].to, POLLOUT, 0};
                }
            }
            ::poll(p, static_cast<nfds_t>(k), waiting ? 2 : 200);
            if (p[0].revents & POLLIN)
                return;
            for (int i = 0; i < 2; ++i) {
                if (in[i] < 0 || !(p[in[i]].revents & POLLIN))
                    continue;
                const ssize_t r = ::read(d[i].from, d[i].buf.data() + d[i].tail, d[i].buf.size() - d[i].tail);
                if (r > 0)
                    d[i].tail += static_cast<size_t>(r);
            }
        }
    }
    int a_, b_;
    uint32_t rate_;
    int stop_[2];
    std::thread thread_;
};

pid_t spawn(const std::vector<std::string>& argv, Pty& pty, const std::string& cwd)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        ::ioctl(pty.slave, TIOCSCTTY, 0);
        ::dup2(pty.slave, 0);
        ::dup2(pty.slave, 1);
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, 2);
        ::close_range(3, ~0u, 0);
        if (::chdir(cwd.c_str()) != 0)
            ::_exit(126);
        ::setenv("LD_PRELOAD", ZELVO_FLUSH_SHIM, 1);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(pty.slave);
    pty.slave = -1;
    return pid;
}

int reap(pid_t pid)
{
    int st = 0;
    ::waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128;
}

// Waits for a receiving peer on a thread of its own, noting when it ended: the transfer
// is over for the receiver then, whatever the sender still does to close its line.
struct ReceiverWatch {
    std::atomic<int64_t> endMs{0};
    int status = -1;
    std::thread thread;
    explicit ReceiverWatch(pid_t pid)
    {
        thread = std::thread([this, pid] {
            status = reap(pid);
            endMs = platform::monotonicMs();
        });
    }
    int join()
    {
        thread.join();
        return status;
    }
};

std::string tempDir()
{
    char t[] = "/tmp/zelvo-bench-XXXXXX";
    return ::mkdtemp(t);
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> x(1 << 20), y(1 << 20);
    for (;;) {
        fa.read(x.data(), static_cast<std::streamsize>(x.size()));
        fb.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (fa.gcount() != fb.gcount() || std::memcmp(x.data(), y.data(), static_cast<size_t>(fa.gcount())) != 0)
            return false;
        if (fa.gcount() == 0)
            return true;
    }
}

void makeFile(const std::string& path, size_t size, bool text)
{
    std::vector<uint8_t> v(size);
    if (text) {
        static const char* words[] = {"the", "line", "terminal", "modem", "carrier", "transfer", "file",
                                      "block", "check", "window", "serial", "port", "session", "data"};
        size_t i = 0, col = 0;
        uint32_t x = 7;
        while (i < size) {
            x = x * 1103515245 + 12345;
            const char* w = words[(x >> 16) % 14];
            for (const char* c = w; *c && i < size; ++c, ++col)
                v[i++] = static_cast<uint8_t>(*c);
            if (i < size) {
                if (col > 70) {
                    v[i++] = '\n';
                    col = 0;
                } else {
                    v[i++] = ' ';
                    ++col;
                }
            }
        }
    } else {
        uint64_t x = 0x9E3779B97F4A7C15ull;
        for (auto& b : v) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            b = static_cast<uint8_t>(x >> 24);
        }
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(v.size()));
}

enum class Who { SzToRz, OursToRz, SzToOurs };

// Returns seconds for the transfer of src/name into a fresh directory, or -1 on failure.
double run(Who who, const std::string& src, const std::string& name, uint32_t rate, bool eightK)
{
    const std::string dst = tempDir();
    double secs = -1;
    {
        Pty a, b;
        Relay relay(a.master, b.master, rate);
        const int64_t t0 = platform::monotonicMs();
        int64_t t1 = 0;
        bool ok = false;
        if (who == Who::SzToRz) {
            std::vector<std::string> sz = {"sz", "-q"};
            if (eightK)
                sz.push_back("-8");
            sz.push_back(name);
            ReceiverWatch rx(spawn({"rz", "-q"}, b, dst));
            const pid_t tx = spawn(sz, a, src);
            ok = rx.join() == 0;
            t1 = rx.endMs;
            reap(tx);
        } else {
            Protocol p;
            p.setProtocolType(ptZmodem);
            p.setUpcaseFileNames(false);
            p.setZmodem8K(eightK);
            p.setFinishWait(91);
            DirectLine line;
            line.adopt(::dup(a.slave), 115200);
            p.setComPort(&line);
            if (who == Who::OursToRz) {
                ReceiverWatch rx(spawn({"rz", "-q"}, b, dst));
                p.setFileName(src + "/" + name);
                const int rc = p.BeginTransmit() == 0 ? line.run(p) : -1;
                ok = rx.join() == 0 && rc == 0;
                t1 = rx.endMs;
            } else {
                std::vector<std::string> sz = {"sz", "-q"};
                if (eightK)
                    sz.push_back("-8");
                sz.push_back(name);
                const pid_t tx = spawn(sz, b, src);
                p.setDestinationDirectory(dst);
                const int rc = p.BeginReceive() == 0 ? line.run(p) : -1;
                t1 = platform::monotonicMs();
                ok = rc == 0;
                reap(tx);
            }
            line.close();
        }
        if (ok && sameFile(src + "/" + name, dst + "/" + name))
            secs = static_cast<double>(t1 - t0) / 1000.0;
    }
    std::filesystem::remove_all(dst);
    return secs;
}

void report(const char* name, double value, const char* unit)
{
    if (value < 0)
        std::printf("%s: failed %s\n", name, unit);
    else
        std::printf("%s: %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    if (argc > 2 && std::strcmp(argv[1], "--probe") == 0) {
        // One rate-limited run of a given size, for looking into efficiency.
        const std::string dir = tempDir();
        const size_t n = std::strtoul(argv[2], nullptr, 10);
        makeFile(dir + "/probe.bin", n, false);
        const double a = run(Who::SzToRz, dir, "probe.bin", 11520, false);
        const double b = run(Who::OursToRz, dir, "probe.bin", 11520, false);
        const double c = run(Who::SzToOurs, dir, "probe.bin", 11520, false);
        std::printf("sz->rz %.3f s, ours->rz %.3f s, sz->ours %.3f s\n", a, b, c);
        std::filesystem::remove_all(dir);
        return 0;
    }
    const std::string src = tempDir();
    const size_t big = 64u << 20;
    makeFile(src + "/random64.bin", big, false);
    makeFile(src + "/random1.bin", 1u << 20, false);
    makeFile(src + "/text1.txt", 1u << 20, true);

    // The machine may be shared: each throughput figure is the best of three runs, taken
    // in turns so that all three pairs see the same conditions.
    auto mbps = [](double secs, size_t n) { return secs > 0 ? n / secs / 1e6 : -1.0; };
    double best[3] = {-1, -1, -1};
    const Who order[3] = {Who::SzToRz, Who::OursToRz, Who::SzToOurs};
    for (int round = 0; round < 3; ++round)
        for (int k = 0; k < 3; ++k)
            best[k] = std::max(best[k], mbps(run(order[k], src, "random64.bin", 0, false), big));
    report("sz to rz 64 MiB", best[0], "MB/s");
    report("zelvo sender to rz 64 MiB", best[1], "MB/s");
    report("sz to zelvo receiver 64 MiB", best[2], "MB/s");

    if (!quick) {
        const double line = 11520.0;
        auto eff = [&](double secs) { return secs > 0 ? (1u << 20) / secs / line : -1.0; };
        report("sz to rz efficiency 1K random", eff(run(Who::SzToRz, src, "random1.bin", 11520, false)), "");
        report("zelvo sender efficiency 1K random", eff(run(Who::OursToRz, src, "random1.bin", 11520, false)), "");
        report("zelvo receiver efficiency 1K random", eff(run(Who::SzToOurs, src, "random1.bin", 11520, false)), "");
        report("sz to rz efficiency 8K random", eff(run(Who::SzToRz, src, "random1.bin", 11520, true)), "");
        report("zelvo sender efficiency 8K random", eff(run(Who::OursToRz, src, "random1.bin", 11520, true)), "");
        report("zelvo sender efficiency 1K text", eff(run(Who::OursToRz, src, "text1.txt", 11520, false)), "");
    }
    std::filesystem::remove_all(src);
    return 0;
}
