#include "protocols/file_info.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zelvo::protocols {

std::string WireFileName(const SendFile& file, bool includeDirectory, bool lowerCase)
{
    std::string name = file.wireName.empty() ? file.path : file.wireName;
    for (char& c : name) {
        if (c == '\\')
            c = '/';
        if (lowerCase && c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    if (!includeDirectory) {
        const size_t slash = name.rfind('/');
        if (slash != std::string::npos)
            name.erase(0, slash + 1);
    } else {
        // A directory goes on the line relative: receivers refuse absolute names.
        while (!name.empty() && name[0] == '/')
            name.erase(0, 1);
    }
    return name;
}

std::vector<uint8_t> BatchFileInfo(const SendFile& file, bool includeDirectory)
{
    const std::string name = WireFileName(file, includeDirectory, true);
    std::vector<uint8_t> info(name.begin(), name.end());
    info.push_back(0);
    char tail[64];
    // The file mode follows as the published descriptions allow, so that the far side
    // gives the file sensible permissions.
    const int len = file.mode
        ? std::snprintf(tail, sizeof tail, "%llu %llo %o", static_cast<unsigned long long>(file.length),
                        static_cast<unsigned long long>(file.mtime > 0 ? file.mtime : 0), 0100000u | (file.mode & 0777u))
        : std::snprintf(tail, sizeof tail, "%llu %llo", static_cast<unsigned long long>(file.length),
                        static_cast<unsigned long long>(file.mtime > 0 ? file.mtime : 0));
    info.insert(info.end(), tail, tail + len);
    info.push_back(0);
    return info;
}

BatchFileHeader ParseBatchFileInfo(const uint8_t* data, size_t n)
{
    BatchFileHeader h;
    const char* text = reinterpret_cast<const char*>(data);
    const size_t nameLen = strnlen(text, n);
    h.name.assign(text, nameLen);
    if (nameLen + 1 >= n)
        return h;
    // "length mtime-octal ..." after the NUL, all optional, up to the next NUL.
    const std::string rest(text + nameLen + 1, strnlen(text + nameLen + 1, n - nameLen - 1));
    const char* s = rest.c_str();
    char* e = nullptr;
    while (*s == ' ')
        ++s;
    if (*s < '0' || *s > '9')
        return h;
    errno = 0;
    h.length = std::strtoull(s, &e, 10);
    h.haveLength = errno == 0;
    s = e;
    while (*s == ' ')
        ++s;
    if (*s && *s != ' ') {
        errno = 0;
        const long long t = std::strtoll(s, &e, 8);
        if (e == s || (*e && *e != ' ') || errno != 0 || t < 0)
            h.badTime = true;
        else
            h.mtime = t;
    }
    return h;
}

} // namespace zelvo::protocols
