#include "platform/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace zelvo::platform {

namespace {
bool isDir(const std::string& p)
{
    struct stat st{};
    return !p.empty() && stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
} // namespace

std::string homeDir()
{
    if (const char* h = std::getenv("HOME"); h && *h)
        return h;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/";
}

std::string configDir()
{
    const char* x = std::getenv("XDG_CONFIG_HOME");
    std::string base = (x && *x == '/') ? std::string(x) : homeDir() + "/.config";
    return base + "/zelvo32";
}

std::string downloadDir()
{
    if (const char* d = std::getenv("XDG_DOWNLOAD_DIR"); d && isDir(d))
        return d;
    std::string dl = homeDir() + "/Downloads";
    if (isDir(dl))
        return dl;
    return homeDir();
}

std::string programDir()
{
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    std::string p(buf, size_t(n));
    auto slash = p.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
}

bool isWritableDir(const std::string& dir)
{
    return isDir(dir) && access(dir.c_str(), W_OK | X_OK) == 0;
}

bool makeDirs(const std::string& dir)
{
    if (dir.empty())
        return false;
    if (isDir(dir))
        return true;
    auto slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeDirs(dir.substr(0, slash)))
        return false;
    return mkdir(dir.c_str(), 0700) == 0 || (errno == EEXIST && isDir(dir));
}

} // namespace zelvo::platform
