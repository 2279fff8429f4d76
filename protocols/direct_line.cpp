#include "protocols/direct_line.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "comm/port_table.h"
#include "platform/clock.h"
#include "protocols/protocol.h"

namespace zelvo::protocols {

namespace {

speed_t speedFor(uint32_t baud)
{
    switch (baud) {
    case 300: return B300;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
    }
}

void makeRaw(int fd, uint32_t baud)
{
    struct termios t {};
    if (::tcgetattr(fd, &t) != 0)
        return;
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    const speed_t sp = speedFor(baud);
    if (sp != B0)
        ::cfsetspeed(&t, sp);
    ::tcsetattr(fd, TCSANOW, &t);
}

} // namespace

DirectLine::DirectLine(size_t outSize) : outSize_(outSize)
{
    out_.reserve(outSize);
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        wake_[0] = wake_[1] = -1;
}

DirectLine::~DirectLine()
{
    close();
    for (int f : wake_)
        if (f >= 0)
            ::close(f);
}

int DirectLine::adopt(int fd, uint32_t baud)
{
    close();
    fd_ = fd;
    baud_ = baud;
    hungUp_ = false;
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    return 0;
}

int DirectLine::open(const std::string& device, uint32_t baud)
{
    close();
    error_.clear();
    baud_ = baud;
    hungUp_ = false;
    if (comm::IsExecDevice(device)) {
        const std::string command = device.substr(5);
        if (command.empty()) {
            error_ = "exec: needs a command";
            return -EINVAL;
        }
        const int rc = child_.Start(command, fd_);
        if (rc < 0) {
            error_ = "cannot start \"" + command + "\": " + std::strerror(-rc);
            fd_ = -1;
            return rc;
        }
        // The line is binary: no echo, no character translation, whatever the command
        // sets up for itself later.
        makeRaw(fd_, baud);
        return 0;
    }
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        const int e = errno;
        error_ = "cannot open " + device + ": " + std::strerror(e);
        return -e;
    }
    if (::isatty(fd_)) {
        if (::ioctl(fd_, TIOCEXCL) != 0 && errno == EBUSY) {
            const int e = errno;
            error_ = device + " is in use";
            ::close(fd_);
            fd_ = -1;
            return -e;
        }
        makeRaw(fd_, baud);
    }
    return 0;
}

void DirectLine::close()
{
    if (child_.pid() > 0 && fd_ >= 0) {
        // Let the command read what it was sent and end by itself before its line goes.
        for (int i = 0; i < 150; ++i) {
            if (child_.Reap())
                break;
            char sink[4096];
            while (::read(fd_, sink, sizeof sink) > 0) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    child_.Terminate();
    out_.clear();
    outHead_ = 0;
}

int DirectLine::putBlock(const uint8_t* data, size_t n)
{
    if (n == 0)
        return 0;
    if (n > outputFree())
        return -3006;
    // Written bytes are dropped from the front only once they are half the queue, so
    // the queue costs a constant amount of copying per byte.
    if (outHead_ >= outSize_ / 2) {
        out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(outHead_));
        outHead_ = 0;
    }
    out_.insert(out_.end(), data, data + n);
    return 0;
}

size_t DirectLine::outputUsed()
{
    return out_.size() - outHead_;
}

size_t DirectLine::outputFree()
{
    return hungUp_ ? outSize_ : outSize_ - outputUsed();
}

void DirectLine::flushOutput()
{
    out_.clear();
    outHead_ = 0;
    if (fd_ >= 0)
        ::tcflush(fd_, TCOFLUSH);
}

void DirectLine::flushInput()
{
    if (fd_ >= 0)
        ::tcflush(fd_, TCIFLUSH);
}

bool DirectLine::nominalRate()
{
    // A command's pseudo-terminal, or any device without modem lines, is not paced.
    int bits = 0;
    return child_.pid() > 0 || fd_ < 0 || ::ioctl(fd_, TIOCMGET, &bits) != 0;
}

bool DirectLine::carrier()
{
    if (hungUp_)
        return false;
    int bits = 0;
    // Pseudo-terminals have no modem lines and count as connected.
    if (fd_ >= 0 && child_.pid() <= 0 && ::ioctl(fd_, TIOCMGET, &bits) == 0)
        return (bits & TIOCM_CD) != 0;
    return true;
}

void DirectLine::setRTS(bool on)
{
    int bit = TIOCM_RTS;
    if (fd_ >= 0)
        ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit);
}

void DirectLine::wake()
{
    if (wake_[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] ssize_t r = ::write(wake_[1], &c, 1);
    }
}

bool DirectLine::writeSome()
{
    while (outHead_ < out_.size()) {
        const size_t want = out_.size() - outHead_;
        const ssize_t w = ::write(fd_, out_.data() + outHead_, want);
        if (w > 0) {
            outHead_ += static_cast<size_t>(w);
            // A short write means the device is full: wait for room rather than ask
            // again at once and be told so.
            if (static_cast<size_t>(w) < want)
                return true;
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        // EIO and friends: the far side is gone.
        hungUp_ = true;
        out_.clear();
        outHead_ = 0;
        return false;
    }
    out_.clear();
    outHead_ = 0;
    return true;
}

int DirectLine::run(Protocol& protocol, const std::atomic<bool>* interrupt)
{
    std::vector<uint8_t> in(65536);
    leftover_.clear();
    bool cancelled = false;
    while (protocol.InProgress()) {
        if (interrupt && interrupt->load() && !cancelled) {
            cancelled = true;
            protocol.CancelTransfer();
        }
        if (!hungUp_)
            writeSome();
        if (hungUp_) {
            protocol.lineLost();
            continue;
        }
        const int64_t now = platform::monotonicMs();
        const int64_t next = protocol.nextServiceMs();
        int timeout = 1000;
        if (next != ProtocolEngine::kNoDeadline)
            timeout = static_cast<int>(std::clamp<int64_t>(next - now, 0, 1000));
        struct pollfd fds[2];
        fds[0].fd = fd_;
        fds[0].events = POLLIN | (outputUsed() ? POLLOUT : 0);
        fds[0].revents = 0;
        fds[1].fd = wake_[0];
        fds[1].events = POLLIN;
        fds[1].revents = 0;
        const int pr = ::poll(fds, 2, timeout);
        if (pr < 0 && errno != EINTR)
            break;
        if (pr > 0 && (fds[1].revents & POLLIN)) {
            char buf[64];
            while (::read(wake_[0], buf, sizeof buf) > 0) {
            }
        }
        if (pr > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            for (int k = 0; k < 16; ++k) {
                const ssize_t r = ::read(fd_, in.data(), in.size());
                if (r > 0) {
                    const size_t used = protocol.lineData(in.data(), static_cast<size_t>(r));
                    if (used < static_cast<size_t>(r)) {
                        leftover_.assign(in.begin() + static_cast<std::ptrdiff_t>(used), in.begin() + r);
                        break;
                    }
                    if (static_cast<size_t>(r) < in.size())
                        break;
                    continue;
                }
                if (r < 0 && errno == EINTR)
                    continue;
                if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                    break;
                hungUp_ = true; // end of file or EIO: the other end closed
                break;
            }
        }
        if (hungUp_) {
            protocol.lineLost();
            continue;
        }
        protocol.service();
    }
    drain(10000);
    return protocol.LastResult();
}

void DirectLine::drain(int timeoutMs)
{
    const int64_t end = platform::monotonicMs() + timeoutMs;
    while (!hungUp_ && fd_ >= 0 && outputUsed() > 0 && platform::monotonicMs() < end) {
        if (!writeSome())
            break;
        if (outputUsed() == 0)
            break;
        struct pollfd p {fd_, POLLOUT, 0};
        ::poll(&p, 1, 100);
    }
    // A terminal's tcdrain does not wait for the far side of a pseudo-terminal to read,
    // so wait until the kernel's queue toward it is empty, for a little while at most.
    for (int i = 0; i < 100 && fd_ >= 0 && !hungUp_; ++i) {
        int queued = 0;
        if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace zelvo::protocols
