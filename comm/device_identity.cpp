#include "comm/device_identity.h"

#include "comm/port_table.h"
#include "comm/serial_device_info.h"

#include <filesystem>
#include <system_error>

namespace zelvo::comm {

DeviceIdentity IdentifyDevice(const std::string& path, const std::string& byIdDir)
{
    if (path.empty() || IsExecDevice(path))
        return {};
    return {path, FindByIdLink(path, byIdDir)};
}

std::string LocateDevice(const DeviceIdentity& id)
{
    // exists() follows links: a link left behind to a gone device does not count.
    std::error_code ec;
    const std::string& where = id.byIdPath.empty() ? id.path : id.byIdPath;
    if (where.empty() || !std::filesystem::exists(where, ec))
        return {};
    return where;
}

} // namespace zelvo::comm
