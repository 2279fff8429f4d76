#pragma once
// Which device a line uses, remembered when it opens, so that the same device can be
// found again after it went away: by its /dev/serial/by-id name when it has one (an
// adapter plugged back in may get another ttyUSB number, and another adapter may take
// the old one), else by its path.

#include <string>

namespace zelvo::comm {

struct DeviceIdentity {
    std::string path;     // the device the line opened ("/dev/ttyUSB0")
    std::string byIdPath; // its by-id link when it had one

    bool empty() const { return path.empty(); }
    bool operator==(const DeviceIdentity&) const = default;
};

// The identity of the device at path; empty for exec: lines, which are no device.
DeviceIdentity IdentifyDevice(const std::string& path, const std::string& byIdDir = "/dev/serial/by-id");
// Where the device is now: its by-id link, or for a device without one its path; empty
// while it is away.
std::string LocateDevice(const DeviceIdentity& id);

} // namespace zelvo::comm
