#include "script_host/file_names.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <cctype>

namespace zelvo::script_host {

namespace {

size_t lastSeparator(const std::string& path)
{
    return path.find_last_of("\\:/");
}

bool isFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

} // namespace

std::string FileNamePart(const std::string& path)
{
    const size_t at = lastSeparator(path);
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string FilePathPart(const std::string& path)
{
    const size_t at = lastSeparator(path);
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

bool FileExistsAt(const std::string& path)
{
    return !path.empty() && isFile(path);
}

bool AnyFileMatches(const std::string& mask)
{
    const size_t slash = mask.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : mask.substr(0, slash + 1);
    std::string pattern = slash == std::string::npos ? mask : mask.substr(slash + 1);
    if (pattern.find_first_of("*?[") == std::string::npos)
        return FileExistsAt(mask);
    if (pattern == "*.*")
        pattern = "*";
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d)
        return false;
    bool found = false;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || ::fnmatch(pattern.c_str(), name.c_str(), FNM_PERIOD) != 0)
            continue;
        struct stat st {};
        if (::stat((dir + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            found = true;
            break;
        }
    }
    ::closedir(d);
    return found;
}

protocols::TProtocolType ProtocolByName(const std::string& name)
{
    static const struct {
        const char* name;
        protocols::TProtocolType type;
    } kNames[] = {
        {"XMODEM", protocols::ptXmodem},     {"XMODEMCRC", protocols::ptXmodemCRC},
        {"XMODEM1K", protocols::ptXmodem1K}, {"XMODEM1KG", protocols::ptXmodem1KG},
        {"YMODEM", protocols::ptYmodem},     {"YMODEMG", protocols::ptYmodemG},
        {"ZMODEM", protocols::ptZmodem},     {"KERMIT", protocols::ptKermit},
        {"ASCII", protocols::ptAscii},
    };
    std::string upper = name;
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    for (const auto& n : kNames)
        if (upper == n.name)
            return n.type;
    return protocols::ptNoProtocol;
}

} // namespace zelvo::script_host
