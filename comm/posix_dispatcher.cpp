#include "comm/posix_dispatcher.h"

#include "comm/baud_rates.h"
#include "comm/port_table.h"
#include "platform/clock.h"
#include "platform/serial_speed.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace zelvo::comm {

namespace {

void drainEventFd(int fd)
{
    uint64_t v;
    while (::read(fd, &v, sizeof v) > 0) {
    }
}

void signalEventFd(int fd)
{
    if (fd < 0)
        return;
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

// Result code for a failed open: ecFileNotFound or ecPathNotFound for a port that does
// not exist, ecAccessDenied for one in use, else minus errno.
int openError(int err)
{
    switch (err) {
    case ENOENT: return ecFileNotFound;
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
    case EIO: return ecPathNotFound;
    case EBUSY:
    case EWOULDBLOCK: return ecAccessDenied;
    default: return -err;
    }
}

// Closing waits for queued output at most this long in all, and gives up sooner when
// nothing has moved for kCloseStallMs.
constexpr int64_t kCloseDrainMs = 2000;
constexpr int64_t kCloseStallMs = 500;

} // namespace

PosixDispatcher::PosixDispatcher(void* owner, UiBridge* bridge) : BaseDispatcher(owner, bridge) {}

PosixDispatcher::~PosixDispatcher()
{
    if (IsOpen() || ThreadsRunning())
        ClosePort();
    // A deferred release is carried out by the dispatch thread; wait for it.
    if (CloseDeferred())
        WaitThreadsEnded();
    if (eventThread_.joinable() && eventThread_.get_id() != std::this_thread::get_id())
        eventThread_.join();
    if (outThread_.joinable() && outThread_.get_id() != std::this_thread::get_id())
        outThread_.join();
    CloseDevice();
}

int PosixDispatcher::OpenDevice(const std::string& name, uint32_t, uint32_t)
{
    hupSeen_ = false;
    pendingErrors_ = 0;
    dtrDroppedByFlow_ = false;
    if (name.empty() && adoptFd_ >= 0) {
        fd_ = ::fcntl(adoptFd_, F_DUPFD_CLOEXEC, 0);
        if (fd_ < 0)
            return -errno;
        isPtyMaster_ = adoptPty_;
        int lines = 0;
        hasModemLines_ = !adoptPty_ && ::ioctl(fd_, TIOCMGET, &lines) == 0;
    } else if (IsExecDevice(name)) {
        const int rc = child_.Start(name.substr(std::char_traits<char>::length(ExecPrefix)), fd_, childTerm_);
        if (rc < 0)
            return rc;
        isPtyMaster_ = true;
        hasModemLines_ = false;
    } else {
        fd_ = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return openError(errno);
        if (!::isatty(fd_)) {
            ::close(fd_);
            fd_ = -1;
            return ecPathNotFound;
        }
        // Exclusive use: TIOCEXCL keeps other programs from opening the device, the
        // lock covers programs that run as root (which TIOCEXCL does not stop).
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd_);
            fd_ = -1;
            return err == EWOULDBLOCK ? ecAccessDenied : -err;
        }
        ::ioctl(fd_, TIOCEXCL);
        isPtyMaster_ = false;
        int lines = 0;
        hasModemLines_ = ::ioctl(fd_, TIOCMGET, &lines) == 0;
    }
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    killFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0 || killFd_ < 0)
        return ecOutOfMemory;
    haveCounts_ = false;
    if (hasModemLines_) {
        serial_icounter_struct ic{};
        if (::ioctl(fd_, TIOCGICOUNT, &ic) == 0) {
            haveCounts_ = true;
            counts_ = {ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
        }
        lastLines_ = ReadModemLines();
    }
    return 0;
}

void PosixDispatcher::CloseDevice()
{
    if (fd_ >= 0) {
        // A real UART may still hold bytes that flow control keeps back; the kernel
        // would wait up to 30 s for them at close. Pseudo-terminals are left alone:
        // their "sent" bytes already sit in the peer's input.
        if (hasModemLines_)
            ::tcflush(fd_, TCOFLUSH);
        ::close(fd_);
        fd_ = -1;
    }
    child_.Terminate();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
    if (killFd_ >= 0)
        ::close(killFd_);
    wakeFd_ = killFd_ = -1;
    isPtyMaster_ = false;
    hasModemLines_ = false;
    baudInUse_ = 0;
}

int PosixDispatcher::SetWindowSize(uint16_t rows, uint16_t cols, uint16_t width, uint16_t height)
{
    if (fd_ < 0 || !isPtyMaster_)
        return 0;
    winsize ws{};
    ws.ws_row = rows;
    ws.ws_col = cols;
    ws.ws_xpixel = width;
    ws.ws_ypixel = height;
    return ::ioctl(fd_, TIOCSWINSZ, &ws) == 0 ? 0 : -errno;
}

int PosixDispatcher::SetQueueSizes(uint32_t inSize, uint32_t)
{
    // Linux drivers have fixed queues; InSize only bounds BufferFull, and the output
    // buffer keeps the size it was opened with.
    inSize_ = inSize;
    return 0;
}

int PosixDispatcher::ReadDeviceBlock(DeviceControlBlock& dcb)
{
    if (fd_ < 0)
        return -1;
    if (isPtyMaster_) {
        dcb = applied_;
        return 0;
    }
    termios t{};
    if (::tcgetattr(fd_, &t) != 0)
        return -1;
    uint32_t baud = platform::serialSpeed(fd_);
    if (baud == 0)
        baud = BaudOfSpeedCode(::cfgetospeed(&t));
    dcb.baud = baud ? baud : 9600;
    switch (t.c_cflag & CSIZE) {
    case CS5: dcb.dataBits = 5; break;
    case CS6: dcb.dataBits = 6; break;
    case CS7: dcb.dataBits = 7; break;
    default: dcb.dataBits = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        dcb.parity = pNone;
    else if (t.c_cflag & CMSPAR)
        dcb.parity = (t.c_cflag & PARODD) ? pMark : pSpace;
    else
        dcb.parity = (t.c_cflag & PARODD) ? pOdd : pEven;
    dcb.stopBits = (t.c_cflag & CSTOPB) ? (dcb.dataBits == 5 ? 1 : 2) : 0;
    dcb.outX = (t.c_iflag & IXON) != 0;
    dcb.inX = (t.c_iflag & IXOFF) != 0;
    dcb.xonChar = t.c_cc[VSTART];
    dcb.xoffChar = t.c_cc[VSTOP];
    return 0;
}

int PosixDispatcher::WriteDeviceBlock(const DeviceControlBlock& d)
{
    if (fd_ < 0)
        return ecNotOpen;
    if (d.baud < MinBaud || d.baud > MaxBaud)
        return ecBaudRate;
    if (d.dataBits < 5 || d.dataBits > 8 || d.parity > pSpace)
        return ecBadArgument;
    if (!isPtyMaster_) {
        // On the master side of an exec: line the settings belong to the command's
        // terminal, which keeps its own (cooked) modes; only the checks above apply.
        termios t{};
        if (::tcgetattr(fd_, &t) != 0)
            return -errno;
        const termios before = t;
        const uint32_t speedBefore = platform::serialSpeed(fd_);
        t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
        t.c_oflag &= ~OPOST;
        t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
        t.c_cflag |= CREAD | CLOCAL;
        static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        t.c_cflag |= sizes[d.dataBits - 5];
        switch (d.parity) {
        case pOdd: t.c_cflag |= PARENB | PARODD; break;
        case pEven: t.c_cflag |= PARENB; break;
        case pMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case pSpace: t.c_cflag |= PARENB | CMSPAR; break;
        default: break;
        }
        if (d.parityCheck)
            t.c_iflag |= INPCK;
        if (d.stopBits != 0)
            t.c_cflag |= CSTOPB; // with five data bits the UART makes it 1.5
        if (d.outX)
            t.c_iflag |= IXON;
        if (d.inX)
            t.c_iflag |= IXOFF;
        t.c_cc[VSTART] = d.xonChar;
        t.c_cc[VSTOP] = d.xoffChar;
        // RTS/CTS is one flag on Linux: either half asks for both.
        if (d.rtsControl == 2 || d.outxCtsFlow)
            t.c_cflag |= CRTSCTS;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        // A standard rate goes with the other settings; any other one follows them.
        const speed_t code = SpeedCodeOf(d.baud);
        if (code != 0) {
            ::cfsetispeed(&t, code);
            ::cfsetospeed(&t, code);
        }
        if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
            const int err = errno;
            // Pseudo-terminals carry whole bytes without parity, and recent kernels
            // refuse other frame settings with EINVAL; the bytes pass unchanged, so
            // the settings are kept as nominal ones.
            if (err != EINVAL || hasModemLines_)
                return -err;
            t.c_cflag &= ~(PARENB | PARODD | CMSPAR | CSIZE);
            t.c_cflag |= CS8;
            t.c_iflag &= ~INPCK;
            if (::tcsetattr(fd_, TCSANOW, &t) != 0)
                return -errno;
        }
        if (const int rc = applySpeed(d.baud, code, before, speedBefore); rc < 0)
            return rc;
        if (hasModemLines_) {
            int bits = TIOCM_DTR;
            if (d.dtrControl == 0 || (d.dtrControl == 2 && dtrDroppedByFlow_))
                ::ioctl(fd_, TIOCMBIC, &bits);
            else
                ::ioctl(fd_, TIOCMBIS, &bits);
            if (d.rtsControl <= 1) {
                bits = TIOCM_RTS;
                ::ioctl(fd_, d.rtsControl ? TIOCMBIS : TIOCMBIC, &bits);
            }
            serial_rs485 rs{};
            if (::ioctl(fd_, TIOCGRS485, &rs) == 0) {
                const bool want = d.rtsControl == 3;
                if (want != ((rs.flags & SER_RS485_ENABLED) != 0)) {
                    rs.flags = want ? (SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND) : 0;
                    ::ioctl(fd_, TIOCSRS485, &rs);
                }
            }
        }
    }
    applied_ = d;
    if (isPtyMaster_)
        baudInUse_ = d.baud;
    dtrFlowEmulated_ = d.dtrControl == 2;
    dsrFlowEmulated_ = d.outxDsrFlow;
    return 0;
}

int PosixDispatcher::applySpeed(uint32_t baud, unsigned code, const termios& before, uint32_t speedBefore)
{
    int rc = code != 0 ? 0 : platform::setArbitrarySpeed(fd_, baud);
    // The driver reports what it set: the rate asked for, the nearest its clock divides
    // to, or its old rate when it refuses. A rate too far from the one asked for would
    // garble every character, so it counts as refused and the old settings come back.
    const uint32_t actual = platform::serialSpeed(fd_);
    if (rc == 0 && actual != 0 && !BaudRateClose(baud, actual))
        rc = ecBaudRate;
    if (rc < 0) {
        ::tcsetattr(fd_, TCSANOW, &before);
        if (speedBefore != 0 && platform::serialSpeed(fd_) != speedBefore)
            platform::setArbitrarySpeed(fd_, speedBefore);
        return rc == -EINVAL ? ecBaudRate : rc;
    }
    baudInUse_ = actual != 0 ? actual : baud;
    return 0;
}

int PosixDispatcher::ReadPort(uint8_t* buffer, uint32_t size)
{
    if (fd_ < 0 || size == 0)
        return 0;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n > 0)
            return static_cast<int>(n);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (n < 0 && errno == EIO) || (n < 0 && errno == EAGAIN && hupSeen_)) {
            // End of file or EIO: the far end hung up (the command ended, the pty peer
            // closed). Reported as carrier lost; the device is not watched any more.
            if (n == 0 || errno == EIO || hupSeen_)
                NoteHangUp();
        }
        return 0;
    }
}

uint32_t PosixDispatcher::DriverInputCount()
{
    int n = 0;
    if (fd_ < 0 || ::ioctl(fd_, FIONREAD, &n) != 0 || n < 0)
        return 0;
    return static_cast<uint32_t>(n);
}

uint32_t PosixDispatcher::ReadErrorState()
{
    std::lock_guard lock(errMutex_);
    const uint32_t bits = pendingErrors_;
    pendingErrors_ = 0;
    return bits;
}

uint8_t PosixDispatcher::ReadModemLines()
{
    if (!hasModemLines_ || fd_ < 0)
        return msCTS | msDSR | msDCD;
    int bits = 0;
    if (::ioctl(fd_, TIOCMGET, &bits) != 0)
        return lastLines_;
    uint8_t s = 0;
    if (bits & TIOCM_CTS)
        s |= msCTS;
    if (bits & TIOCM_DSR)
        s |= msDSR;
    if (bits & TIOCM_RNG)
        s |= msRing;
    if (bits & TIOCM_CD)
        s |= msDCD;
    return s;
}

void PosixDispatcher::LineControl(bool dtr, bool on)
{
    if (fd_ < 0 || !hasModemLines_)
        return;
    int bits = dtr ? TIOCM_DTR : TIOCM_RTS;
    ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits);
}

int PosixDispatcher::PurgeQueue(int queue)
{
    if (fd_ < 0)
        return 0;
    if (queue == 0) {
        // Bytes written to a pseudo-terminal already are in the peer's input, as if on
        // the wire; purging them there would lose data the peer is entitled to.
        if (!hasModemLines_)
            return 0;
        return ::tcflush(fd_, TCOFLUSH) == 0 ? 0 : -errno;
    }
    if (isPtyMaster_)
        return 0; // the master's input is the command's output: nothing queued to drop
    return ::tcflush(fd_, TCIFLUSH) == 0 ? 0 : -errno;
}

int PosixDispatcher::SetBreakState(bool on)
{
    if (fd_ < 0)
        return ecNotOpen;
    if (::ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) != 0 && errno != ENOTTY && errno != EINVAL)
        return -errno;
    return 0;
}

// ---- Event thread ----------------------------------------------------------------------

void PosixDispatcher::StartEventThread()
{
    ThreadStarted();
    eventThread_ = std::thread([this] { eventThreadMain(); });
}

void PosixDispatcher::StopEventThread()
{
    signalEventFd(wakeFd_);
    if (eventThread_.joinable() && eventThread_.get_id() != std::this_thread::get_id())
        eventThread_.join();
}

uint32_t PosixDispatcher::pollModemAndErrors()
{
    uint32_t mask = 0;
    const uint8_t lines = ReadModemLines();
    const uint8_t changed = lines ^ lastLines_;
    if (changed & msCTS)
        mask |= evCTS;
    if (changed & msDSR)
        mask |= evDSR;
    if (changed & msDCD)
        mask |= evRLSD;
    if ((changed & msRing) && !(lines & msRing))
        mask |= evRing; // trailing edge of a ring
    lastLines_ = lines;
    if (haveCounts_) {
        serial_icounter_struct ic{};
        if (::ioctl(fd_, TIOCGICOUNT, &ic) == 0) {
            uint32_t bits = 0;
            if (ic.buf_overrun != counts_.bufOverrun)
                bits |= leOverflow;
            if (ic.overrun != counts_.overrun)
                bits |= leOverrun;
            if (ic.parity != counts_.parity)
                bits |= leParity;
            if (ic.frame != counts_.frame)
                bits |= leFraming;
            if (ic.brk != counts_.brk)
                bits |= leBreak;
            counts_ = {ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
            if (bits) {
                std::lock_guard lock(errMutex_);
                pendingErrors_ |= bits;
                mask |= (bits & leBreak) ? evBreak : 0;
                mask |= (bits & ~leBreak) ? evErr : 0;
            }
        }
    }
    return mask;
}

void PosixDispatcher::eventThreadMain()
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastInput{};
    while (!StopRequested()) {
        // Paced input: for a while after a delivery the device is not watched, so bytes
        // that arrive meanwhile gather in the driver and go out together. Anything on the
        // wake-up descriptor (a stop, a re-watch) cuts the wait short.
        const uint32_t pacing = InputPacingNow();
        if (pacing > 0) {
            const auto due = lastInput + std::chrono::milliseconds(pacing);
            const auto now = Clock::now();
            if (now < due) {
                pollfd w{wakeFd_, POLLIN, 0};
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
                if (::poll(&w, 1, int(left) + 1) > 0)
                    drainEventFd(wakeFd_);
                if (StopRequested())
                    break;
            }
        }
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
        // The device is left out while the input buffer is full (the driver keeps the
        // bytes) and after a hang-up, so a readable or hung-up descriptor never spins.
        const bool watch = fd_ >= 0 && !LineHungUp() && !InputBlocked();
        const int timeout = hasModemLines_ ? 50 : -1;
        const int r = ::poll(fds, watch ? 2 : 1, timeout);
        if (StopRequested())
            break;
        if (r < 0 && errno != EINTR)
            break;
        if (r < 0)
            continue;
        if (fds[0].revents & POLLIN)
            drainEventFd(wakeFd_);
        uint32_t mask = 0;
        if (watch) {
            if (fds[1].revents & POLLIN)
                mask |= evRxChar;
            if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                hupSeen_ = true;
                mask |= evRxChar;
            }
        }
        if (hasModemLines_)
            mask |= pollModemAndErrors();
        if (mask & evRxChar)
            lastInput = Clock::now();
        if (mask && !DeliverEvent(mask))
            break;
    }
    ThreadEnded();
}

// ---- Output thread ---------------------------------------------------------------------

void PosixDispatcher::StartOutputThread()
{
    {
        std::lock_guard lock(outMutex_);
        outStop_ = false;
        outReady_ = false;
        writing_ = false;
    }
    ThreadStarted();
    outThread_ = std::thread([this] { outputThreadMain(); });
}

void PosixDispatcher::StopOutputThread()
{
    {
        std::lock_guard lock(outMutex_);
        outStop_ = true;
    }
    outCv_.notify_all();
    signalEventFd(killFd_);
    if (outThread_.joinable() && outThread_.get_id() != std::this_thread::get_id())
        outThread_.join();
}

void PosixDispatcher::SignalOutputReady()
{
    {
        std::lock_guard lock(outMutex_);
        outReady_ = true;
    }
    outCv_.notify_one();
}

void PosixDispatcher::HoldWriter()
{
    std::unique_lock lock(outMutex_);
    ++holds_;
    if (!outThread_.joinable())
        return;
    signalEventFd(killFd_);
    abortCv_.wait(lock, [this] { return !writing_ || outStop_; });
    // The writer is idle and cannot start again while held: a kill signal it did not
    // consume must not abandon its next write.
    drainEventFd(killFd_);
}

void PosixDispatcher::ReleaseWriter()
{
    {
        std::lock_guard lock(outMutex_);
        if (holds_ > 0)
            --holds_;
        // Bytes queued while the writer was held must not wait for the next PutBlock.
        outReady_ = true;
    }
    outCv_.notify_one();
}

bool PosixDispatcher::writeStretch(const uint8_t* data, uint32_t len, uint32_t& written)
{
    written = 0;
    for (;;) {
        if (LineHungUp()) {
            written = len; // nobody is listening any more: the bytes are dropped
            return true;
        }
        const ssize_t n = ::write(fd_, data, len);
        if (n > 0) {
            written = static_cast<uint32_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            written = len; // a failed write drops the stretch
            return true;
        }
        // The driver is full (or flow control holds it): wait for room or an abort.
        pollfd fds[2] = {{fd_, POLLOUT, 0}, {killFd_, POLLIN, 0}};
        const int r = ::poll(fds, 2, -1);
        if (r < 0 && errno != EINTR)
            return false;
        if (fds[1].revents & POLLIN)
            return false;
        if (fds[0].revents & (POLLERR | POLLHUP) && !(fds[0].revents & POLLOUT)) {
            written = len;
            return true;
        }
        std::lock_guard lock(outMutex_);
        if (outStop_)
            return false;
    }
}

void PosixDispatcher::outputThreadMain()
{
    for (;;) {
        {
            std::unique_lock lock(outMutex_);
            outCv_.wait(lock, [this] { return (outReady_ && holds_ == 0) || outStop_; });
            if (outStop_)
                break;
            outReady_ = false;
            writing_ = true;
        }
        for (;;) {
            {
                // A flush waiting for the writer: let go of the buffer now.
                std::lock_guard lock(outMutex_);
                if (holds_ > 0 || outStop_)
                    break;
            }
            uint32_t len = 0;
            uint64_t gen = 0;
            const uint8_t* p = OutputStretch(len, gen);
            if (!p || len == 0)
                break;
            // DTR/DSR flow has no driver support: output waits while DSR is off.
            if (dsrFlowEmulated_ && hasModemLines_ && !(ReadModemLines() & msDSR)) {
                pollfd kf{killFd_, POLLIN, 0};
                if (::poll(&kf, 1, 50) > 0)
                    break;
                continue;
            }
            uint32_t written = 0;
            if (!writeStretch(p, len, written))
                break;
            OutputWritten(written, gen);
        }
        {
            std::lock_guard lock(outMutex_);
            writing_ = false;
        }
        abortCv_.notify_all();
    }
    {
        std::lock_guard lock(outMutex_);
        writing_ = false;
    }
    abortCv_.notify_all();
    ThreadEnded();
}

void PosixDispatcher::InputLevelChanged(uint32_t used, bool unblocked)
{
    if (unblocked)
        signalEventFd(wakeFd_);
    // DTR/DSR flow emulation on the receive side.
    if (dtrFlowEmulated_ && hasModemLines_ && fd_ >= 0) {
        int bits = TIOCM_DTR;
        if (!dtrDroppedByFlow_ && BufferFullLevel() && used >= BufferFullLevel()) {
            dtrDroppedByFlow_ = true;
            ::ioctl(fd_, TIOCMBIC, &bits);
        } else if (dtrDroppedByFlow_ && used <= BufferResumeLevel()) {
            dtrDroppedByFlow_ = false;
            ::ioctl(fd_, TIOCMBIS, &bits);
        }
    }
}

void PosixDispatcher::DrainDriver()
{
    if (fd_ < 0 || LineHungUp())
        return;
    // Queued output gets its chance to leave while it makes progress (our buffer, then
    // the driver's queue), but the whole wait is capped: at a slow rate a full buffer
    // would hold the closing thread (the UI) for minutes. The flush that follows
    // discards what is left.
    const int64_t start = platform::monotonicMs();
    int64_t lastProgress = start;
    uint64_t last = UINT64_MAX;
    for (;;) {
        int q = 0;
        if (::ioctl(fd_, TIOCOUTQ, &q) != 0 || q < 0 || !hasModemLines_)
            q = 0;
        const uint64_t pending = uint64_t(OutputUsed()) + uint64_t(q);
        if (pending == 0 || LineHungUp())
            return;
        const int64_t now = platform::monotonicMs();
        if (now - start >= kCloseDrainMs)
            return;
        if (pending != last) {
            last = pending;
            lastProgress = now;
        } else if (now - lastProgress > kCloseStallMs) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace zelvo::comm
