#pragma once
// Pseudo-terminal helpers shared by the port benchmarks.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace zelvo::comm::bench {

struct Pty {
    int master = -1, slave = -1;
    std::string name;
    Pty()
    {
        char n[256] = {};
        ::openpty(&master, &slave, n, nullptr, nullptr);
        name = n;
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
    }
    void rawSlave() const
    {
        termios t{};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        ::tcsetattr(slave, TCSANOW, &t);
    }
};

// Writes n bytes of a pattern to fd, blocking as the pty fills.
inline void writeAll(int fd, size_t n)
{
    char buf[16384];
    for (size_t i = 0; i < sizeof buf; ++i)
        buf[i] = static_cast<char>(i * 7);
    while (n > 0) {
        const ssize_t w = ::write(fd, buf, n < sizeof buf ? n : sizeof buf);
        if (w > 0)
            n -= static_cast<size_t>(w);
        else {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
    }
}

inline double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

inline double cpuSeconds()
{
    rusage r{};
    ::getrusage(RUSAGE_SELF, &r);
    return r.ru_utime.tv_sec + r.ru_utime.tv_usec / 1e6 + r.ru_stime.tv_sec + r.ru_stime.tv_usec / 1e6;
}

} // namespace zelvo::comm::bench
