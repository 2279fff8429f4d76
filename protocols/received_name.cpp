#include "protocols/received_name.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace zelvo::protocols {

namespace {
constexpr size_t kMaxComponent = 255;
constexpr size_t kMaxPath = 4095;
} // namespace

ReceivedName ReduceReceivedName(const std::string& wireName, const std::string& destination,
                                bool honorDirectory, bool upcase)
{
    ReceivedName r;
    std::string name = wireName;
    if (upcase) {
        for (char& c : name)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
    }
    for (char c : name) {
        if (c == '\0' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            r.reason = "control character in file name";
            return r;
        }
    }
    if (name.empty()) {
        r.reason = "empty file name";
        return r;
    }
    const bool absolute = name[0] == '/' || name[0] == '\\'
        || (name.size() >= 2 && name[1] == ':' && ((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z'));
    std::vector<std::string> parts;
    std::string cur;
    for (char c : name) {
        if (c == '/' || c == '\\') {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    parts.push_back(cur);

    std::vector<std::string> keep;
    if (honorDirectory) {
        if (absolute) {
            r.reason = "absolute path refused";
            return r;
        }
        for (const std::string& p : parts) {
            if (p.empty() || p == ".")
                continue;
            if (p == "..") {
                r.reason = "\"..\" in file name refused";
                return r;
            }
            keep.push_back(p);
        }
    } else {
        keep.push_back(parts.back());
    }
    if (keep.empty() || keep.back().empty()) {
        r.reason = "empty file name";
        return r;
    }
    for (const std::string& p : keep) {
        if (p == "." || p == "..") {
            r.reason = "\"" + p + "\" is not a file name";
            return r;
        }
        if (p.size() > kMaxComponent) {
            r.reason = "file name too long";
            return r;
        }
    }
    for (size_t i = 0; i < keep.size(); ++i) {
        if (i)
            r.relative.push_back('/');
        r.relative += keep[i];
    }
    std::string dest = destination.empty() ? "." : destination;
    if (dest.back() != '/')
        dest.push_back('/');
    r.path = dest + r.relative;
    if (r.path.size() > kMaxPath) {
        r.reason = "path too long";
        r.path.clear();
        r.relative.clear();
        return r;
    }
    r.ok = true;
    return r;
}

std::string RenamedPath(const std::string& path)
{
    std::string renamed = path;
    const size_t slash = renamed.rfind('/');
    const size_t first = slash == std::string::npos ? 0 : slash + 1;
    if (first < renamed.size())
        renamed[first] = '$';
    return renamed;
}

bool PrepareReceivedPath(const std::string& destination, const std::string& relative, std::string& reason)
{
    std::string path = destination.empty() ? "." : destination;
    if (path.back() != '/')
        path.push_back('/');
    size_t start = 0;
    for (;;) {
        const size_t slash = relative.find('/', start);
        const std::string part = relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        path += part;
        struct stat st {};
        const bool exists = ::lstat(path.c_str(), &st) == 0;
        if (!exists && errno != ENOENT) {
            reason = std::string("\"") + path + "\": " + std::strerror(errno);
            return false;
        }
        if (exists && S_ISLNK(st.st_mode)) {
            reason = "\"" + path + "\" is a symbolic link";
            return false;
        }
        if (slash == std::string::npos)
            return true;
        if (exists && !S_ISDIR(st.st_mode)) {
            reason = "\"" + path + "\" is not a directory";
            return false;
        }
        if (!exists && ::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
            reason = "cannot make directory \"" + path + "\": " + std::strerror(errno);
            return false;
        }
        path.push_back('/');
        start = slash + 1;
    }
}

} // namespace zelvo::protocols
