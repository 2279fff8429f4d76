#pragma once
// ModemLine: the telephony device's own hold on a modem's line, from the moment the
// line is opened for pass-through or a call until it is released.
//
// A serial device is opened O_NONBLOCK, taken exclusively (flock and TIOCEXCL, so a
// line in use elsewhere fails with ecAccessDenied), set raw with the modem's speed and
// HUPCL (closing the line drops DTR, which hangs up a modem set to &D2). An
// "exec:COMMAND" line runs the command on a pseudo-terminal (comm::PtyChild); such a
// line has no modem control lines.
//
// While the line is handed to the port (pass-through, a call that is up), the port
// works on a duplicate of the descriptor and this object keeps the original.

#include "comm/pty_child.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace zelvo::telephony {

class ModemLine {
public:
    ModemLine() = default;
    ~ModemLine() { close(); }
    ModemLine(const ModemLine&) = delete;
    ModemLine& operator=(const ModemLine&) = delete;

    // Opens a device path or "exec:COMMAND". Returns 0, or a result code of the port
    // layer: ecAccessDenied (in use), ecFileNotFound, ecPathNotFound (not a terminal),
    // minus errno, or -EINVAL for a speed the driver lacks.
    int open(const std::string& device, uint32_t baud, bool rtsCts);
    void close();

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    bool isPty() const { return pty_; }
    bool hasModemLines() const { return modemLines_; }
    void setDTR(bool on);
    bool carrier() const;
    // Writes all of bytes, waiting while the driver is full; false when the line
    // failed or did not take them within timeoutMs.
    bool write(std::string_view bytes, int timeoutMs);

    // The text of an open failure, in the user's words.
    static std::string OpenErrorText(int code);

private:
    int fd_ = -1;
    bool pty_ = false;
    bool modemLines_ = false;
    comm::PtyChild child_;
};

} // namespace zelvo::telephony
