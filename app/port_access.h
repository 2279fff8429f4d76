#pragma once
// What the main window uses of its port. The program binds this to the port component;
// tests bind it to a fake line. Everything here runs on the user-interface thread.

#include "app/port_options_logic.h"
#include "comm/device_identity.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zelvo::app {

// Why a line did not open.
struct LineOpenError {
    // True for the failures the user can mend by choosing another port: the port is in
    // use, does not exist or cannot be opened, or an input/output error occurred.
    bool notAvailable = true;
    std::string message;
};

class PortAccess {
public:
    virtual ~PortAccess() = default;

    virtual PortOptionValues settings() const = 0;
    // Stores the settings; an open line takes them at once.
    virtual void setSettings(const PortOptionValues& v) = 0;
    // The device that a port number opens ("/dev/ttyUSB0", "exec:/bin/bash -l").
    virtual std::string deviceOf(int comNumber) const = 0;

    virtual bool isOpen() const = 0;
    // The rate the open line runs at as its driver reports it (a driver may set the
    // nearest rate its clock divides to); the set rate while closed.
    virtual uint32_t baudInUse() const { return settings().Baud; }
    virtual std::optional<LineOpenError> open() = 0;
    // Opens the line at another path of the same device (an adapter that came back under
    // a new name); the port table stays as it is.
    virtual std::optional<LineOpenError> openAt(const std::string& path)
    {
        (void)path;
        return open();
    }
    // The device of the line as it was when the line last opened; empty for a line that
    // is no device (exec:).
    virtual comm::DeviceIdentity lineIdentity() const { return {}; }
    // TERM that the command of an exec: line gets at the next open.
    virtual void setExecTerminalType(const std::string& term) { (void)term; }
    virtual void close() = 0;

    virtual void putBlock(const uint8_t* data, size_t length) = 0;
    // Queues as many of the bytes as the output buffer takes now and returns how many;
    // a line without an output buffer of its own takes them all.
    virtual size_t putSome(const uint8_t* data, size_t length)
    {
        putBlock(data, length);
        return length;
    }
    // Raises onOutputRoom once, from an event, when at least `bytes` of the output buffer
    // are free; false when the line cannot tell (then nobody will be told).
    virtual bool watchOutputRoom(size_t bytes)
    {
        (void)bytes;
        return false;
    }
    // A case-sensitive data trigger; returns its handle, 0 when none could be made.
    virtual uint16_t addDataTrigger(std::string_view pattern) = 0;
    virtual void dropTrigger(uint16_t handle) = 0;

    // Hands what has arrived but was not read (it came while nobody listened, e.g. while a
    // transfer owned the line) to onData now; the line announces each byte only once.
    // The bytes are taken from the line: for a listener that owns it (a running script),
    // not while the terminal window reads the line itself.
    virtual void readWaiting() {}

    // The bytes of one data-available event, in order.
    std::function<void(const uint8_t* data, size_t length)> onData;
    // A data trigger matched.
    std::function<void(uint16_t handle)> onDataTrigger;
    // Room in the output buffer, as asked for by watchOutputRoom.
    std::function<void()> onOutputRoom;
    // The line went away while open (a USB adapter pulled out); the port is closed.
    std::function<void(const std::string& reason)> onLineLost;
    // The line has opened: also an open that had to wait for the previous close to
    // finish, which happens after the call that asked for it has returned.
    std::function<void()> onLineOpened;
};

} // namespace zelvo::app
