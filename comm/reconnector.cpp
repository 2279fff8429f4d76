#include "comm/reconnector.h"

#include <filesystem>

namespace zelvo::comm {

bool Reconnector::LineLost(const DeviceIdentity& id)
{
    if (id.empty())
        return false;
    id_ = id;
    waiting_ = true;
    if (hooks_.show)
        hooks_.show("[disconnected]");
    return true;
}

void Reconnector::Check()
{
    if (!waiting_)
        return;
    const std::string path = LocateDevice(id_);
    if (path.empty() || !hooks_.reopen || !hooks_.reopen(path))
        return;
    Reopened();
}

void Reconnector::Reopened()
{
    if (!waiting_)
        return;
    waiting_ = false;
    if (hooks_.show)
        hooks_.show("[reconnected]");
    if (hooks_.reconnected)
        hooks_.reconnected();
}

std::vector<std::string> Reconnector::WatchDirectories() const
{
    std::vector<std::string> dirs;
    if (!id_.path.empty())
        dirs.push_back(std::filesystem::path(id_.path).parent_path().string());
    if (!id_.byIdPath.empty())
        dirs.push_back(std::filesystem::path(id_.byIdPath).parent_path().string());
    return dirs;
}

} // namespace zelvo::comm
