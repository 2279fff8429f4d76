#include "platform/device_watcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace zelvo::platform {

namespace fs = std::filesystem;

namespace {
constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                           IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// The directory itself when it exists, else its nearest existing parent.
std::string existingDirectory(fs::path p)
{
    std::error_code ec;
    while (!p.empty() && !fs::is_directory(p, ec)) {
        if (p == p.parent_path())
            return {};
        p = p.parent_path();
    }
    return p.string();
}
} // namespace

DeviceWatcher::DeviceWatcher() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

DeviceWatcher::~DeviceWatcher()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void DeviceWatcher::setDirectories(std::vector<std::string> directories)
{
    directories_ = std::move(directories);
    rewatch();
}

void DeviceWatcher::rewatch()
{
    // Adding a watch that exists already keeps it; watches of directories that went
    // away end by themselves; a parent watched in place of a missing directory stays
    // (it only brings a few more wake-ups).
    if (fd_ < 0)
        return;
    for (const auto& d : directories_) {
        const std::string dir = existingDirectory(d);
        if (!dir.empty())
            ::inotify_add_watch(fd_, dir.c_str(), kMask);
    }
}

bool DeviceWatcher::readEvents()
{
    if (fd_ < 0)
        return false;
    bool any = false;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0)
            break;
        any = true;
    }
    // A directory may have appeared or gone (the by-id directory comes and goes with
    // the adapters): the watches follow.
    if (any)
        rewatch();
    return any;
}

} // namespace zelvo::platform
