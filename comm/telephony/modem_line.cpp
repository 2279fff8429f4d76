#include "comm/telephony/modem_line.h"

#include "comm/comm_types.h"
#include "comm/port_table.h"
#include "platform/clock.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zelvo::telephony {

namespace {

bool speedFor(uint32_t baud, speed_t& out)
{
    static const struct {
        uint32_t baud;
        speed_t speed;
    } kSpeeds[] = {{300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
                   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
                   {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
                   {921600, B921600}};
    for (const auto& s : kSpeeds)
        if (s.baud == baud) {
            out = s.speed;
            return true;
        }
    return false;
}

} // namespace

int ModemLine::open(const std::string& device, uint32_t baud, bool rtsCts)
{
    close();
    if (device.empty())
        return comm::ecFileNotFound;
    if (comm::IsExecDevice(device)) {
        int fd = -1;
        int rc = child_.Start(device.substr(std::strlen(comm::ExecPrefix)), fd);
        if (rc < 0)
            return rc;
        // A modem's line carries bytes as they are: the pseudo-terminal is raw from the
        // start, before the command has had the time to make it so.
        termios t{};
        if (::tcgetattr(fd, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(fd, TCSANOW, &t);
        }
        fd_ = fd;
        pty_ = true;
        modemLines_ = false;
        return 0;
    }
    speed_t speed;
    if (!speedFor(baud, speed))
        return -EINVAL;
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case ENOENT: return comm::ecFileNotFound;
        case EBUSY: return comm::ecAccessDenied;
        case ENXIO:
        case ENODEV: return comm::ecPathNotFound;
        default: return -errno;
        }
    }
    if (!::isatty(fd)) {
        ::close(fd);
        return comm::ecPathNotFound;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return err == EWOULDBLOCK ? comm::ecAccessDenied : -err;
    }
    ::ioctl(fd, TIOCEXCL);
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        const int err = errno;
        ::close(fd);
        return -err;
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CREAD | CLOCAL | HUPCL;
    t.c_cflag &= ~CRTSCTS;
    if (rtsCts)
        t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        const int err = errno;
        ::close(fd);
        return -err;
    }
    int lines = 0;
    fd_ = fd;
    pty_ = false;
    modemLines_ = ::ioctl(fd, TIOCMGET, &lines) == 0;
    // A modem answers commands only while DTR is up.
    setDTR(true);
    return 0;
}

void ModemLine::close()
{
    if (fd_ >= 0) {
        if (modemLines_)
            ::tcflush(fd_, TCIOFLUSH);
        ::close(fd_);
        fd_ = -1;
    }
    child_.Terminate();
    pty_ = false;
    modemLines_ = false;
}

void ModemLine::setDTR(bool on)
{
    if (fd_ < 0 || !modemLines_)
        return;
    int bits = TIOCM_DTR;
    ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits);
}

bool ModemLine::carrier() const
{
    int lines = 0;
    if (fd_ < 0 || !modemLines_ || ::ioctl(fd_, TIOCMGET, &lines) != 0)
        return false;
    return (lines & TIOCM_CAR) != 0;
}

bool ModemLine::write(std::string_view bytes, int timeoutMs)
{
    const int64_t end = platform::monotonicMs() + timeoutMs;
    while (!bytes.empty()) {
        if (fd_ < 0)
            return false;
        ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        const int64_t left = end - platform::monotonicMs();
        if (left <= 0)
            return false;
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, int(left)) < 0 && errno != EINTR)
            return false;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
            return false;
    }
    return true;
}

std::string ModemLine::OpenErrorText(int code)
{
    if (code == comm::ecAccessDenied)
        return "the device is in use by another program";
    if (code == comm::ecFileNotFound)
        return "the device does not exist";
    if (code == comm::ecPathNotFound)
        return "the device is not a serial line";
    if (code == -EINVAL)
        return "the device does not run at that speed";
    return std::strerror(code < 0 ? -code : code);
}

} // namespace zelvo::telephony
