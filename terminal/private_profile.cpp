#include "terminal/private_profile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace zelvo::terminal {

PrivateProfile::PrivateProfile(std::string path)
    : path_(std::move(path))
{
}

bool PrivateProfile::sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace

bool PrivateProfile::load()
{
    sections_.clear();
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string text;
    char chunk[8192];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            errno = err;
            return false;
        }
        if (n == 0)
            break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    parse(text);
    return true;
}

void PrivateProfile::parse(std::string_view text)
{
    sections_.clear();
    Section* current = nullptr;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::string_view t = trim(line);
        if (t.empty() || t.front() == ';')
            continue;
        if (t.front() == '[') {
            const std::size_t close = t.find(']');
            const std::string_view name = trim(t.substr(1, close == std::string_view::npos ? t.size() - 1 : close - 1));
            addSection(name);
            current = find(name);
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!current || eq == std::string_view::npos)
            continue;
        const std::string_view key = trim(line.substr(0, eq));
        if (key.empty())
            continue;
        const std::string_view value = line.substr(eq + 1);
        bool replaced = false;
        for (Entry& e : current->entries) {
            if (sameName(e.key, key)) {
                // A repeated key: the first one counts, as a reader would find it.
                replaced = true;
                break;
            }
        }
        if (!replaced)
            current->entries.push_back(Entry{std::string(key), std::string(value)});
    }
}

std::string PrivateProfile::serialize() const
{
    std::string out;
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        if (i > 0)
            out += '\n';
        out += '[';
        out += sections_[i].name;
        out += "]\n";
        for (const Entry& e : sections_[i].entries) {
            out += e.key;
            out += '=';
            out += e.value;
            out += '\n';
        }
    }
    return out;
}

bool PrivateProfile::save() const
{
    const std::string text = serialize();
    const std::string tmp = path_ + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const char* p = text.data();
    std::size_t left = text.size();
    bool ok = true;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (ok && ::fsync(fd) != 0)
        ok = false;
    if (::close(fd) != 0)
        ok = false;
    if (ok && ::rename(tmp.c_str(), path_.c_str()) != 0)
        ok = false;
    if (!ok)
        ::unlink(tmp.c_str());
    return ok;
}

PrivateProfile::Section* PrivateProfile::find(std::string_view section)
{
    for (Section& s : sections_)
        if (sameName(s.name, section))
            return &s;
    return nullptr;
}

const PrivateProfile::Section* PrivateProfile::find(std::string_view section) const
{
    for (const Section& s : sections_)
        if (sameName(s.name, section))
            return &s;
    return nullptr;
}

bool PrivateProfile::hasSection(std::string_view section) const
{
    return find(section) != nullptr;
}

std::vector<std::string> PrivateProfile::sections() const
{
    std::vector<std::string> names;
    for (const Section& s : sections_)
        names.push_back(s.name);
    return names;
}

std::vector<std::string> PrivateProfile::keys(std::string_view section) const
{
    std::vector<std::string> names;
    if (const Section* s = find(section))
        for (const Entry& e : s->entries)
            names.push_back(e.key);
    return names;
}

std::optional<std::string> PrivateProfile::read(std::string_view section, std::string_view key) const
{
    if (const Section* s = find(section))
        for (const Entry& e : s->entries)
            if (sameName(e.key, key))
                return e.value;
    return std::nullopt;
}

void PrivateProfile::addSection(std::string_view section)
{
    if (!find(section))
        sections_.push_back(Section{std::string(section), {}});
}

void PrivateProfile::write(std::string_view section, std::string_view key, std::string_view value)
{
    addSection(section);
    Section* s = find(section);
    for (Entry& e : s->entries) {
        if (sameName(e.key, key)) {
            e.value = std::string(value);
            return;
        }
    }
    s->entries.push_back(Entry{std::string(key), std::string(value)});
}

bool PrivateProfile::removeKey(std::string_view section, std::string_view key)
{
    Section* s = find(section);
    if (!s)
        return false;
    for (auto it = s->entries.begin(); it != s->entries.end(); ++it) {
        if (sameName(it->key, key)) {
            s->entries.erase(it);
            return true;
        }
    }
    return false;
}

bool PrivateProfile::removeSection(std::string_view section)
{
    for (auto it = sections_.begin(); it != sections_.end(); ++it) {
        if (sameName(it->name, section)) {
            sections_.erase(it);
            return true;
        }
    }
    return false;
}

} // namespace zelvo::terminal
