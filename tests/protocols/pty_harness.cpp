#include "pty_harness.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "platform/clock.h"

namespace zelvo::protocols::test {

namespace {
void makeRaw(int fd)
{
    struct termios t {};
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
}
} // namespace

PtyPair::PtyPair()
{
    char name[128];
    if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
        slaveName = name;
        makeRaw(slave);
        makeRaw(master);
        ::fcntl(master, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    }
}

PtyPair::~PtyPair()
{
    closeSlave();
    if (master >= 0)
        ::close(master);
}

void PtyPair::closeSlave()
{
    if (slave >= 0)
        ::close(slave);
    slave = -1;
}

Relay::Relay(int ours, int peer, RelayOptions options) : ours_(ours), peer_(peer), opt_(options)
{
    if (::pipe2(stopPipe_, O_CLOEXEC) != 0)
        stopPipe_[0] = stopPipe_[1] = -1;
    ::fcntl(ours_, F_SETFL, ::fcntl(ours_, F_GETFL) | O_NONBLOCK);
    ::fcntl(peer_, F_SETFL, ::fcntl(peer_, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { run(); });
}

Relay::~Relay()
{
    stop();
    for (int f : stopPipe_)
        if (f >= 0)
            ::close(f);
}

void Relay::stop()
{
    if (thread_.joinable()) {
        const char c = 0;
        [[maybe_unused]] ssize_t r = ::write(stopPipe_[1], &c, 1);
        thread_.join();
    }
}

void Relay::run()
{
    struct Dir {
        int from, to;
        std::vector<uint8_t> pending;
        std::vector<int64_t> readyAt; // per chunk: when it may go (delay)
        std::vector<size_t> chunkEnd;
        uint64_t count = 0;
        double budget = 0;
        bool closed = false;
    };
    Dir dirs[2] = {{ours_, peer_, {}, {}, {}, 0, 0, false}, {peer_, ours_, {}, {}, {}, 0, 0, false}};
    std::vector<uint8_t> buf(16384);
    int64_t last = platform::monotonicMs();
    for (;;) {
        const int64_t now = platform::monotonicMs();
        const double elapsed = static_cast<double>(now - last) / 1000.0;
        last = now;
        int timeout = 100;
        for (int d = 0; d < 2; ++d) {
            Dir& dir = dirs[d];
            if (opt_.bytesPerSecond)
                dir.budget = std::min(dir.budget + elapsed * opt_.bytesPerSecond, opt_.bytesPerSecond / 20.0 + 64);
            // Write what is due.
            size_t due = dir.pending.size();
            if (opt_.delayMs) {
                due = 0;
                for (size_t k = 0; k < dir.chunkEnd.size() && dir.readyAt[k] <= now; ++k)
                    due = dir.chunkEnd[k];
                if (due < dir.pending.size() && !dir.readyAt.empty()) {
                    for (size_t k = 0; k < dir.readyAt.size(); ++k)
                        if (dir.readyAt[k] > now) {
                            timeout = std::min<int>(timeout, static_cast<int>(dir.readyAt[k] - now) + 1);
                            break;
                        }
                }
            }
            if (opt_.bytesPerSecond) {
                due = std::min<size_t>(due, static_cast<size_t>(dir.budget));
                if (due < dir.pending.size())
                    timeout = std::min(timeout, 5);
            }
            if (due > 0) {
                const ssize_t w = ::write(dir.to, dir.pending.data(), due);
                if (w > 0) {
                    dir.pending.erase(dir.pending.begin(), dir.pending.begin() + w);
                    if (opt_.bytesPerSecond)
                        dir.budget -= static_cast<double>(w);
                    for (auto& e : dir.chunkEnd)
                        e = e > static_cast<size_t>(w) ? e - static_cast<size_t>(w) : 0;
                    while (!dir.chunkEnd.empty() && dir.chunkEnd.front() == 0) {
                        dir.chunkEnd.erase(dir.chunkEnd.begin());
                        dir.readyAt.erase(dir.readyAt.begin());
                    }
                    (d == 0 ? toPeer : toUs) += static_cast<uint64_t>(w);
                } else if (w < 0 && errno != EAGAIN) {
                    dir.pending.clear();
                }
            }
        }
        struct pollfd fds[5];
        int n = 0;
        fds[n++] = {stopPipe_[0], POLLIN, 0};
        int idx[2] = {-1, -1};
        // A rate-limited relay holds little, as a line does: what it cannot pass on stays
        // behind in the pseudo-terminal, where the sender's flush reaches it.
        const size_t maxPending = opt_.bytesPerSecond ? std::max<size_t>(4096, opt_.bytesPerSecond / 20) : (1u << 20);
        for (int d = 0; d < 2; ++d) {
            if (!dirs[d].closed && dirs[d].pending.size() < maxPending) {
                idx[d] = n;
                fds[n++] = {dirs[d].from, POLLIN, 0};
            }
            if (!dirs[d].pending.empty()) {
                fds[n++] = {dirs[d].to, POLLOUT, 0};
            }
        }
        const bool anyPending = !dirs[0].pending.empty() || !dirs[1].pending.empty();
        if (anyPending && !opt_.delayMs && !opt_.bytesPerSecond)
            timeout = 10;
        ::poll(fds, static_cast<nfds_t>(n), timeout);
        if (fds[0].revents & POLLIN)
            return;
        for (int d = 0; d < 2; ++d) {
            if (idx[d] < 0 || !(fds[idx[d]].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Dir& dir = dirs[d];
            const ssize_t r = ::read(dir.from, buf.data(), buf.size());
            if (r <= 0) {
                if (r == 0 || (errno != EAGAIN && errno != EINTR))
                    dir.closed = true;
                continue;
            }
            for (ssize_t k = 0; k < r; ++k) {
                ++dir.count;
                const bool faulty = d == 0 && dir.count > opt_.corruptFrom;
                if (faulty && opt_.dropEvery && dir.count % opt_.dropEvery == 0)
                    continue;
                uint8_t b = buf[static_cast<size_t>(k)];
                if (faulty && opt_.corruptEvery && dir.count % opt_.corruptEvery == 0)
                    b ^= 0x04;
                dir.pending.push_back(b);
            }
            if (opt_.delayMs) {
                dir.readyAt.push_back(platform::monotonicMs() + opt_.delayMs);
                dir.chunkEnd.push_back(dir.pending.size());
            }
        }
        // A closed pty on one side with nothing left to deliver ends the relay's work
        // for that direction only; the test decides when to stop.
        if (dirs[0].closed && dirs[1].closed && dirs[0].pending.empty() && dirs[1].pending.empty()) {
            struct pollfd s {stopPipe_[0], POLLIN, 0};
            ::poll(&s, 1, -1);
            return;
        }
    }
}

pid_t spawnOnPty(const std::vector<std::string>& argv, int slave, const std::string& cwd)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        ::ioctl(slave, TIOCSCTTY, 0);
        ::dup2(slave, 0);
        ::dup2(slave, 1);
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
    return pid;
}

Peer::Peer(const std::vector<std::string>& argv, PtyPair& pty, const std::string& cwd)
    : pid_(spawnOnPty(argv, pty.slave, cwd))
{
    pty.closeSlave();
}

Peer::~Peer()
{
    if (pid_ > 0 && status_ < 0)
        wait(100);
}

int Peer::wait(int timeoutMs)
{
    if (pid_ <= 0)
        return status_;
    const int64_t end = platform::monotonicMs() + timeoutMs;
    for (;;) {
        int st = 0;
        const pid_t r = ::waitpid(pid_, &st, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            pid_ = -1;
            return status_;
        }
        if (platform::monotonicMs() >= end) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
            status_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool haveProgram(const char* name)
{
    const char* path = std::getenv("PATH");
    std::string p = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= p.size()) {
        const size_t colon = p.find(':', start);
        const std::string dir = p.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (::access((dir + "/" + name).c_str(), X_OK) == 0)
            return true;
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    return false;
}

std::string makeTempDir()
{
    char tmpl[] = "/tmp/zelvo-interop-XXXXXX";
    return ::mkdtemp(tmpl);
}

void removeTree(const std::string& dir)
{
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& data)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                static_cast<std::streamsize>(data.size()));
}

std::vector<uint8_t> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

bool fileExists(const std::string& path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

} // namespace zelvo::protocols::test
