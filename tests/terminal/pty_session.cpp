#include "pty_session.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zelvo::terminal::test {

namespace {

// The program's path: as given when it holds a '/', else the first match in PATH.
std::string findProgram(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return {};
}

} // namespace

PtySession::PtySession(int rows, int cols)
    : screen_(etXterm, cols, rows, rows + 100)
{
}

PtySession::~PtySession()
{
    if (pid_ > 0 && !exited_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    if (master_ >= 0)
        ::close(master_);
}

bool PtySession::start(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    const std::string program = findProgram(argv.at(0));
    if (program.empty()) {
        error_ = argv[0] + " is not installed";
        return false;
    }
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(screen_.buffer.PageHeight());
    ws.ws_col = static_cast<unsigned short>(screen_.buffer.Cols());
    int slave = -1;
    if (::openpty(&master_, &slave, nullptr, nullptr, &ws) != 0) {
        error_ = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    std::vector<char*> args, envp;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setsid();
        ::ioctl(slave, TIOCSCTTY, 0);
        ::dup2(slave, 0);
        ::dup2(slave, 1);
        ::dup2(slave, 2);
        if (slave > 2)
            ::close(slave);
        ::close(master_);
        ::execve(program.c_str(), args.data(), envp.data());
        ::_exit(127);
    }
    ::close(slave);
    if (pid_ < 0) {
        error_ = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
}

void PtySession::send(const std::string& keys)
{
    std::size_t done = 0;
    while (done < keys.size() && master_ >= 0) {
        const ssize_t n = ::write(master_, keys.data() + done, keys.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{master_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            break;
        }
    }
}

bool PtySession::pump(int waitMs)
{
    pollfd p{master_, POLLIN, 0};
    const int ready = ::poll(&p, 1, waitMs);
    if (ready <= 0)
        return true;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            const std::string bytes(buf, static_cast<std::size_t>(n));
            recording_ += bytes;
            screen_.feed(bytes);
            // The emulation's answers go back at once, as a terminal's would.
            if (!screen_.output.sent.empty()) {
                const std::string replies = std::move(screen_.output.sent);
                screen_.output.sent.clear();
                send(replies);
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return true;
        return false; // EIO: the program's side is closed
    }
}

bool PtySession::waitFor(const std::function<bool()>& pred, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        if (!pump(static_cast<int>(std::min<long long>(left, 100)))) {
            return pred();
        }
    }
    return true;
}

bool PtySession::waitForText(const std::string& text, int timeoutMs)
{
    return waitFor([&] { return pageContains(text); }, timeoutMs);
}

bool PtySession::waitExit(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool open = true;
    while (std::chrono::steady_clock::now() < deadline) {
        if (open)
            open = pump(50);
        int status = 0;
        if (!exited_ && ::waitpid(pid_, &status, WNOHANG) == pid_)
            exited_ = true;
        if (exited_) {
            // What is still in the pty comes out once the program is gone.
            while (open && pump(0)) {
                pollfd p{master_, POLLIN, 0};
                if (::poll(&p, 1, 0) <= 0)
                    break;
            }
            return true;
        }
        if (!open) {
            pollfd none{-1, 0, 0};
            ::poll(&none, 0, 20);
        }
    }
    return false;
}

bool PtySession::pageContains(const std::string& text) const
{
    return pageText().find(text) != std::string::npos;
}

std::string PtySession::pageText() const
{
    std::string text;
    const Buffer& b = screen_.buffer;
    for (int r = 0; r < b.PageHeight(); ++r)
        text += b.rowUtf8(b.ViewRow() + r) + "\n";
    return text;
}

} // namespace zelvo::terminal::test
