#pragma once
// What identifies a serial device: its /dev/serial/by-id name and, from sysfs, the USB
// vendor, product and serial number and the kernel driver. Read for the line list and
// for finding an adapter again after it was unplugged.
//
// The trees are parameters so that tests can build fake ones:
//   DeviceTreeRoots roots{"/tmp/fake/sys", "/tmp/fake/dev/serial/by-id"};
//   SerialDeviceInfo info = DescribeSerialDevice("/tmp/fake/dev/ttyUSB0", roots);

#include <string>

namespace zelvo::comm {

struct DeviceTreeRoots {
    std::string sys = "/sys";
    std::string byIdDir = "/dev/serial/by-id";
};

struct SerialDeviceInfo {
    std::string byIdPath;     // the by-id link that leads to the device; empty when none
    std::string vendorId;     // "0403"
    std::string productId;    // "6001"
    std::string manufacturer; // "FTDI"
    std::string product;      // "FT232R USB UART"
    std::string serial;       // "A50285BI"
    std::string driver;       // "ftdi_sio"

    bool empty() const { return byIdPath.empty() && vendorId.empty() && driver.empty(); }
    // One line for the line list, e.g. "FTDI FT232R USB UART, serial A50285BI
    // (0403:6001, ftdi_sio)"; empty when nothing is known.
    std::string Summary() const;
};

// Describes the device a path names (the path may itself be a link, a by-id name say).
// Whatever cannot be read stays empty.
SerialDeviceInfo DescribeSerialDevice(const std::string& devicePath, const DeviceTreeRoots& roots = {});
// The by-id link that leads to the same device as devicePath; empty when none does.
std::string FindByIdLink(const std::string& devicePath, const std::string& byIdDir);

} // namespace zelvo::comm
