#pragma once
// What the protocol benchmarks share: pseudo-terminal pairs, a relay between two of them
// that can limit the rate each way, peers started on a pty with the flush shim, test
// files, and the report lines.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/clock.h"
#include "tests/protocols/pty_harness.h"

namespace zelvo::bench {

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

inline pid_t spawn(const std::vector<std::string>& argv, Pty& pty, const std::string& cwd)
{
    const pid_t pid = protocols::test::spawnOnPty(argv, pty.slave, cwd);
    ::close(pty.slave);
    pty.slave = -1;
    return pid;
}

inline int reap(pid_t pid)
{
    int st = 0;
    ::waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
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

inline std::string tempDir()
{
    char t[] = "/tmp/zelvo-bench-XXXXXX";
    return ::mkdtemp(t);
}

inline bool sameFile(const std::string& a, const std::string& b)
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

inline void makeFile(const std::string& path, size_t size, bool text)
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

inline void report(const char* name, double value, const char* unit)
{
    if (value < 0)
        std::printf("%s: failed %s\n", name, unit);
    else
        std::printf("%s: %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

} // namespace zelvo::bench
