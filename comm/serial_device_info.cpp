#include "comm/serial_device_info.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace zelvo::comm {

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute, without trailing blanks; empty when unreadable.
// Only printable characters are kept: the texts come from the device itself.
std::string attribute(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    std::string out;
    for (char c : line.substr(0, 128))
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
            out += c;
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

fs::path resolved(const fs::path& p)
{
    std::error_code ec;
    fs::path r = fs::canonical(p, ec);
    return ec ? fs::path() : r;
}

// The driver of a device. The serial core's own devices (a port and its controller,
// on the serial-base bus) say nothing about the hardware; the driver of the device
// above them does.
std::string driverOf(fs::path device)
{
    for (int level = 0; level < 4 && !device.empty(); ++level, device = device.parent_path()) {
        const fs::path d = resolved(device / "driver");
        if (d.empty())
            return {};
        if (d.parent_path().parent_path().filename() != "serial-base")
            return d.filename().string();
    }
    return {};
}

} // namespace

std::string SerialDeviceInfo::Summary() const
{
    std::string name = manufacturer;
    if (!product.empty()) {
        // Many adapters repeat the maker in the product name.
        if (!name.empty() && product.rfind(name, 0) != 0)
            name += " " + product;
        else
            name = product;
    }
    if (!serial.empty())
        name += (name.empty() ? "serial " : ", serial ") + serial;
    std::vector<std::string> ids;
    if (!vendorId.empty() || !productId.empty())
        ids.push_back(vendorId + ":" + productId);
    if (!driver.empty())
        ids.push_back(driver);
    std::string tail;
    for (const auto& s : ids)
        tail += (tail.empty() ? "" : ", ") + s;
    if (tail.empty())
        return name;
    return name.empty() ? "(" + tail + ")" : name + " (" + tail + ")";
}

std::string FindByIdLink(const std::string& devicePath, const std::string& byIdDir)
{
    const fs::path target = resolved(devicePath);
    if (target.empty())
        return {};
    std::error_code ec;
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(byIdDir, ec))
        if (resolved(e.path()) == target)
            found.push_back(e.path().string());
    if (found.empty())
        return {};
    // Several links may lead to one device; the choice must not depend on the order in
    // which the directory lists them.
    return *std::min_element(found.begin(), found.end());
}

SerialDeviceInfo DescribeSerialDevice(const std::string& devicePath, const DeviceTreeRoots& roots)
{
    SerialDeviceInfo info;
    info.byIdPath = FindByIdLink(devicePath, roots.byIdDir);
    const fs::path node = resolved(devicePath);
    if (node.empty())
        return info;
    const fs::path sysRoot = resolved(roots.sys);
    const fs::path device = resolved(fs::path(roots.sys) / "class" / "tty" / node.filename() / "device");
    if (sysRoot.empty() || device.empty())
        return info;
    info.driver = driverOf(device);
    // The USB device is the nearest one above that has vendor and product numbers.
    for (fs::path p = device; p != sysRoot && p.has_relative_path() && p != p.root_path(); p = p.parent_path()) {
        std::error_code ec;
        if (!fs::exists(p / "idVendor", ec))
            continue;
        info.vendorId = attribute(p / "idVendor");
        info.productId = attribute(p / "idProduct");
        info.manufacturer = attribute(p / "manufacturer");
        info.product = attribute(p / "product");
        info.serial = attribute(p / "serial");
        break;
    }
    return info;
}

} // namespace zelvo::comm
