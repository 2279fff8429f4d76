#pragma once
// A pseudo-terminal pair for port tests: the port opens the slave device by name, the
// test plays the far end on the master.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelvo::comm::test {

struct PtyPair {
    int master = -1;
    int slave = -1;
    std::string slaveName;

    PtyPair()
    {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            slaveName = name;
            ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        }
    }
    ~PtyPair()
    {
        closeMaster();
        if (slave >= 0)
            ::close(slave);
    }
    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    // Writes everything, waiting for room as needed.
    bool send(const void* data, size_t n, int timeoutMs = 10000) const
    {
        const auto* p = static_cast<const uint8_t*>(data);
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (n > 0) {
            const ssize_t w = ::write(master, p, n);
            if (w > 0) {
                p += w;
                n -= static_cast<size_t>(w);
                continue;
            }
            if (std::chrono::steady_clock::now() > end)
                return false;
            pollfd pf{master, POLLOUT, 0};
            ::poll(&pf, 1, 50);
        }
        return true;
    }
    bool send(const std::string& s) const { return send(s.data(), s.size()); }
    // Reads until n bytes came or the time is up.
    std::string receive(size_t n, int timeoutMs = 5000) const
    {
        std::string out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n && std::chrono::steady_clock::now() < end) {
            pollfd pf{master, POLLIN, 0};
            if (::poll(&pf, 1, 20) <= 0)
                continue;
            char buf[4096];
            const ssize_t r = ::read(master, buf, std::min(sizeof buf, n - out.size()));
            if (r > 0)
                out.append(buf, static_cast<size_t>(r));
        }
        return out;
    }
};

// Waits (without spinning hard) until pred() holds; false on time-out.
inline bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace zelvo::comm::test
