#pragma once
// PosixDispatcher: the dispatcher on a Linux serial device (termios and ioctl), or on
// the master side of a pseudo-terminal running a command ("exec:COMMAND").
//
// The device is opened O_RDWR|O_NOCTTY|O_NONBLOCK and taken exclusively (TIOCEXCL and
// an flock), so a port in use by another program fails with -5 (access denied).
// The event thread blocks in poll() on the device and an eventfd; only a device with
// modem lines adds a 50 ms poll of the lines (TIOCMGET) and the error counters
// (TIOCGICOUNT). The output thread blocks on a condition until bytes are queued and
// in poll() while the driver is full. Idle, no thread wakes.
//
// Flow control on Linux serial drivers (what the port does with each option):
// - hwfUseRTS / hwfRequireCTS: Linux ties both directions into one flag (CRTSCTS),
//   so either option switches on RTS/CTS handshaking in both directions. The driver
//   drops RTS by its own fill thresholds; BufferFull/BufferResume do not set them.
// - hwfUseDTR / hwfRequireDSR: Linux drivers have no DTR/DSR handshake. The port
//   emulates it: with hwfUseDTR it lowers DTR when its own input buffer holds
//   BufferFull bytes and raises it again at BufferResume; with hwfRequireDSR the
//   output thread holds output while DSR is off (checked every 50 ms). The reaction
//   is slower than a UART's, so a fast sender may overrun a small FIFO.
// - swfReceive (IXOFF) / swfTransmit (IXON): done by the driver with XOnChar and
//   XOffChar; the driver sends XOFF and XON at its own fill thresholds, so
//   BufferFull/BufferResume are not honoured for software flow either.
// - Driver queue sizes (InSize, OutSize) cannot be set on Linux; InSize is only the
//   limit for BufferFull and OutSize the size of the port's own output buffer.
// - RS485Mode asks the driver for RTS-on-send (TIOCSRS485); drivers without RS485
//   support ignore it and RTS stays as set.
// - Pseudo-terminals have no modem lines: CTS, DSR and DCD read as on, and RTS/CTS or
//   DTR/DSR flow control has no effect on them. They carry whole bytes: data bits and
//   parity are accepted and reported but the bytes pass unchanged.
// - Baud rates: the standard rates (50 .. 4000000, comm/baud_rates.h) by their speed
//   codes, any other rate from 50 to 4000000 as an arbitrary rate (termios2, BOTHER).
//   The driver's own report of the rate it set is checked: one more than 2 % away from
//   the rate asked for (or a refusal) gives ecBaudRate and the old settings stay.
//   BaudInUse() is the rate the driver reports.
// - Closing lets queued output drain while it makes progress (up to 0.5 s without
//   progress, 2 s in all), then drops the rest; a pseudo-terminal's peer keeps what
//   was written.
//
// A far end that hangs up (read returns EIO or end of file, poll reports POLLHUP: an
// exec: command that exited, a closed pty peer) is reported as carrier lost: DCD goes
// off with its change bit, modem-status triggers fire, LineHungUp() becomes true, and
// the device is no longer polled. Output queued after that is discarded.

#include "comm/base_dispatcher.h"
#include "comm/pty_child.h"

#include <termios.h>

namespace zelvo::comm {

class PosixDispatcher : public BaseDispatcher {
public:
    PosixDispatcher(void* owner, UiBridge* bridge);
    ~PosixDispatcher() override;

    int SetQueueSizes(uint32_t inSize, uint32_t outSize) override;
    int SetWindowSize(uint16_t rows, uint16_t cols, uint16_t width, uint16_t height) override;
    // TERM for the command of an exec: line (empty: the environment as it is); takes
    // effect at the next open.
    void SetChildTerminalType(const std::string& term) { childTerm_ = term; }
    // A line that the telephony device has open already (a modem after its call was
    // placed, or in pass-through): OpenPort with an empty name works on a duplicate of
    // fd, and closing closes only that duplicate, so the device keeps its line. isPty
    // tells a pseudo-terminal master (an exec: modem) from a serial device.
    void AdoptDevice(int fd, bool isPty)
    {
        adoptFd_ = fd;
        adoptPty_ = isPty;
    }
    // The device descriptor (-1 when closed) and, for an exec: line, the child's pid.
    int DeviceFd() const { return fd_; }
    int ChildPid() const { return child_.pid(); }
    bool HasModemLines() const { return hasModemLines_; }
    // The rate the driver reports for the line (a driver may set the nearest rate its
    // clock divides to); 0 while closed.
    uint32_t BaudInUse() const { return baudInUse_.load(); }

protected:
    int OpenDevice(const std::string& name, uint32_t inSize, uint32_t outSize) override;
    void CloseDevice() override;
    int ReadDeviceBlock(DeviceControlBlock& dcb) override;
    int WriteDeviceBlock(const DeviceControlBlock& dcb) override;
    int ReadPort(uint8_t* buffer, uint32_t size) override;
    uint32_t DriverInputCount() override;
    uint32_t ReadErrorState() override;
    uint8_t ReadModemLines() override;
    void LineControl(bool dtr, bool on) override;
    int PurgeQueue(int queue) override;
    int SetBreakState(bool on) override;
    void StartEventThread() override;
    void StartOutputThread() override;
    void StopOutputThread() override;
    void StopEventThread() override;
    void SignalOutputReady() override;
    void HoldWriter() override;
    void ReleaseWriter() override;
    void InputLevelChanged(uint32_t used, bool unblocked) override;
    void DrainDriver() override;

private:
    void eventThreadMain();
    void outputThreadMain();
    uint32_t pollModemAndErrors();
    bool writeStretch(const uint8_t* data, uint32_t len, uint32_t& written);
    // Sets the rate after the other settings (code 0: an arbitrary rate) and checks
    // what the driver reports; on refusal the settings `before` come back.
    int applySpeed(uint32_t baud, unsigned code, const termios& before, uint32_t speedBefore);

    int fd_ = -1;
    int adoptFd_ = -1;
    bool adoptPty_ = false;
    int wakeFd_ = -1; // wakes the event thread
    int killFd_ = -1; // abandons a write in progress
    bool hasModemLines_ = false;
    bool isPtyMaster_ = false;
    std::atomic<uint32_t> baudInUse_{0};
    PtyChild child_;
    std::string childTerm_;
    DeviceControlBlock applied_;
    uint8_t lastLines_ = 0;
    struct Counts { int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0; } counts_;
    bool haveCounts_ = false;
    uint32_t pendingErrors_ = 0;
    std::mutex errMutex_;
    bool dtrDroppedByFlow_ = false;           // under the input lock
    std::atomic<bool> dtrFlowEmulated_{false}; // hwfUseDTR in force
    std::atomic<bool> dsrFlowEmulated_{false}; // hwfRequireDSR in force
    std::atomic<bool> hupSeen_{false};

    std::thread eventThread_;
    std::thread outThread_;
    std::mutex outMutex_;
    std::condition_variable outCv_;
    bool outReady_ = false;
    bool outStop_ = false;
    int holds_ = 0; // HoldWriter calls not yet released
    bool writing_ = false;
    std::condition_variable abortCv_;
};

} // namespace zelvo::comm
