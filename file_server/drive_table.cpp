#include "file_server/drive_table.h"

#include "platform/paths.h"
#include "platform/registry_store.h"

#include <climits>
#include <cstdlib>

namespace zelvo::file_server {

namespace {

std::string canonical(const std::string& dir)
{
    if (dir.empty())
        return {};
    char buf[PATH_MAX];
    if (!::realpath(dir.c_str(), buf))
        return {};
    struct stat st;
    if (::stat(buf, &st) != 0 || !S_ISDIR(st.st_mode))
        return {};
    return buf;
}

std::string expandHome(const std::string& dir)
{
    if (dir == "~")
        return platform::homeDir();
    if (dir.rfind("~/", 0) == 0)
        return platform::homeDir() + dir.substr(1);
    return dir;
}

} // namespace

void DriveTable::reset()
{
    loaded_ = false;
    storePath_.clear();
}

void DriveTable::refresh()
{
    const std::string path = platform::RegistryStore::defaultPath();
    struct stat st;
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (loaded_ && path == storePath_ && exists == storeExists_
        && (!exists
            || (st.st_mtim.tv_sec == storeTime_.tv_sec && st.st_mtim.tv_nsec == storeTime_.tv_nsec
                && st.st_size == storeSize_ && st.st_ino == storeInode_)))
        return;

    loaded_ = true;
    storePath_ = path;
    storeExists_ = exists;
    if (exists) {
        storeTime_ = st.st_mtim;
        storeSize_ = st.st_size;
        storeInode_ = st.st_ino;
    }

    platform::RegistryStore store(path);
    store.load();
    bool any = false;
    for (int d = 0; d < 26; ++d) {
        const std::string letter(1, char('A' + d));
        const auto dir = store.readString(kKey, letter);
        configured_[d] = dir && !dir->empty() ? expandHome(*dir) : std::string();
        any = any || !configured_[d].empty();
    }
    if (!any) {
        configured_[2] = platform::homeDir() + "/zelvo32-share";
        platform::makeDirs(configured_[2]);
    }
    for (int d = 0; d < 26; ++d)
        roots_[d] = canonical(configured_[d]);
}

const std::string& DriveTable::root(int drive)
{
    static const std::string none;
    if (drive < 0 || drive >= 26)
        return none;
    // A directory that appeared after the table was read is picked up here.
    if (roots_[drive].empty() && !configured_[drive].empty())
        roots_[drive] = canonical(configured_[drive]);
    return roots_[drive];
}

bool DriveTable::configured(int drive) const
{
    return drive >= 0 && drive < 26 && !configured_[drive].empty();
}

int DriveTable::firstDrive() const
{
    for (int d = 0; d < 26; ++d)
        if (!configured_[d].empty())
            return d;
    return -1;
}

} // namespace zelvo::file_server
