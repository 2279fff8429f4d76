#include "file_server/dos_name.h"

#include <algorithm>
#include <cstring>

namespace zelvo::file_server {

char dosUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

std::string dosUpper(std::string_view s)
{
    std::string r(s);
    for (char& c : r)
        c = dosUpper(c);
    return r;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (dosUpper(a[i]) != dosUpper(b[i]))
            return false;
    return true;
}

bool isShortNameChar(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80)
        return true;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    return std::strchr("!#$%&'()-@^_`{}~", c) != nullptr && c != '\0';
}

bool isValidShortName(std::string_view name)
{
    const size_t dot = name.find('.');
    const std::string_view base = name.substr(0, dot);
    const std::string_view ext = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
    if (base.empty() || base.size() > 8)
        return false;
    if (dot != std::string_view::npos && (ext.empty() || ext.size() > 3))
        return false;
    for (char c : base)
        if (!isShortNameChar(c))
            return false;
    for (char c : ext)
        if (!isShortNameChar(c))
            return false;
    return true;
}

bool hasWildcards(std::string_view s)
{
    return s.find_first_of("*?") != std::string_view::npos;
}

bool isValidNewName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || std::strchr("\"*/:<>?\\|", c) != nullptr)
            return false;
    }
    return true;
}

void normalisePattern(std::string& pattern)
{
    constexpr size_t kPart = 255;
    std::string_view p(pattern);
    std::string drive;
    if (p.size() >= 2 && p[1] == ':') {
        drive = std::string(p.substr(0, 2));
        p.remove_prefix(2);
    }
    const size_t slash = p.find_last_of("\\/");
    std::string dir;
    if (slash != std::string_view::npos) {
        dir = std::string(p.substr(0, slash + 1));
        p.remove_prefix(slash + 1);
    }
    const size_t dot = p.rfind('.');
    std::string name(p.substr(0, dot));
    std::string ext = dot == std::string_view::npos ? std::string() : std::string(p.substr(dot));
    dir.resize(std::min(dir.size(), kPart));
    name.resize(std::min(name.size(), kPart));
    ext.resize(std::min(ext.size(), kPart));

    auto collapse = [](std::string& part, size_t from) {
        size_t end = part.size();
        while (end > from && part[end - 1] == '?')
            --end;
        part.resize(end);
        part.push_back('*');
    };
    if (ext.size() == 4 && ext.back() == '?')
        collapse(ext, 1);
    if (name.size() == 8 && name.back() == '?')
        collapse(name, 0);

    std::string out = drive;
    out += dir;
    if (!dir.empty() && dir.back() != '\\' && dir.back() != '/')
        out.push_back('\\');
    out += name;
    if (!ext.empty() && ext.front() != '.')
        out.push_back('.');
    out += ext;
    pattern = out;
}

namespace {

using Fcb = std::array<char, 11>;

// Lays a name out as 8 + 3 blank-padded characters. False when a part is too long to be
// an 8.3 pattern, in which case only the long-name rule applies.
bool toFcb(std::string_view s, Fcb& f)
{
    f.fill(' ');
    if (s == "." || s == "..") {
        for (size_t i = 0; i < s.size(); ++i)
            f[i] = '.';
        return true;
    }
    size_t i = 0;
    auto part = [&](size_t start, size_t width) {
        size_t pos = start;
        size_t seen = 0;
        while (i < s.size() && s[i] != '.') {
            ++seen;
            if (s[i] == '*') {
                while (pos < start + width)
                    f[pos++] = '?';
                // A star ends the part; whatever follows it up to the dot is ignored.
                while (i < s.size() && s[i] != '.')
                    ++i;
                return true;
            }
            if (pos < start + width)
                f[pos++] = dosUpper(s[i]);
            ++i;
        }
        return seen <= width;
    };
    if (!part(0, 8))
        return false;
    if (i < s.size() && s[i] == '.')
        ++i;
    if (!part(8, 3))
        return false;
    return i == s.size();
}

} // namespace

bool fcbMatches(std::string_view pattern, std::string_view shortName)
{
    Fcb p;
    Fcb n;
    if (!toFcb(pattern, p) || !toFcb(shortName, n))
        return false;
    for (size_t k = 0; k < p.size(); ++k)
        if (p[k] != '?' && p[k] != n[k])
            return false;
    return true;
}

bool globMatches(std::string_view pattern, std::string_view name)
{
    size_t p = 0;
    size_t n = 0;
    size_t starP = std::string_view::npos;
    size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || dosUpper(pattern[p]) == dosUpper(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool patternMatches(std::string_view pattern, std::string_view shortName, std::string_view longName)
{
    return fcbMatches(pattern, shortName) || globMatches(pattern, longName);
}

std::string applyDestinationPattern(std::string_view pattern, std::string_view name)
{
    std::string out;
    size_t r = 0;
    for (char c : pattern) {
        if (c == '*') {
            while (r < name.size() && name[r] != '.')
                out.push_back(name[r++]);
        } else if (c == '?') {
            if (r < name.size() && name[r] != '.')
                out.push_back(name[r++]);
        } else if (c == '.') {
            out.push_back('.');
            while (r < name.size() && name[r] != '.')
                ++r;
            if (r < name.size())
                ++r;
        } else {
            out.push_back(c);
            if (r < name.size() && name[r] != '.')
                ++r;
        }
    }
    return out;
}

void aliasParts(std::string_view longName, std::string& base, std::string& ext)
{
    std::string_view s = longName;
    while (!s.empty() && s.front() == '.')
        s.remove_prefix(1);
    const size_t dot = s.rfind('.');
    std::string_view b = s.substr(0, dot);
    std::string_view e = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
    auto clean = [](std::string_view in, size_t max) {
        std::string r;
        for (char c : in) {
            if (r.size() >= max)
                break;
            if (c == ' ' || c == '.')
                continue;
            r.push_back(isShortNameChar(c) ? dosUpper(c) : '_');
        }
        return r;
    };
    base = clean(b, 8);
    ext = clean(e, 3);
    if (base.empty())
        base = "_";
}

std::string makeAlias(std::string_view base, std::string_view ext, unsigned n)
{
    const std::string suffix = "~" + std::to_string(n);
    std::string r(base.substr(0, suffix.size() >= 8 ? 0 : 8 - suffix.size()));
    r += suffix;
    if (!ext.empty()) {
        r.push_back('.');
        r += ext;
    }
    return r;
}

} // namespace zelvo::file_server
