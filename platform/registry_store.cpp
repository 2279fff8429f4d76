#include "platform/registry_store.h"

#include "platform/hex_digit.h"
#include "platform/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace zelvo::platform {

std::string RegistryStore::defaultPath()
{
    return configDir() + "/registry.reg";
}

RegistryStore::RegistryStore(std::string path) : path_(std::move(path)) {}

std::string RegistryStore::fold(std::string_view s)
{
    std::string r(s);
    for (char& c : r)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    // Trailing and doubled separators name the same key.
    std::string out;
    out.reserve(r.size());
    for (char c : r) {
        if (c == '\\' && (out.empty() || out.back() == '\\'))
            continue;
        out.push_back(c);
    }
    while (!out.empty() && out.back() == '\\')
        out.pop_back();
    return out;
}

RegistryStore::Key* RegistryStore::findKey(std::string_view key)
{
    auto it = keys_.find(fold(key));
    return it == keys_.end() ? nullptr : &it->second;
}

const RegistryStore::Key* RegistryStore::findKey(std::string_view key) const
{
    auto it = keys_.find(fold(key));
    return it == keys_.end() ? nullptr : &it->second;
}

RegistryStore::Key& RegistryStore::ensureKey(std::string_view key)
{
    std::string f = fold(key);
    auto it = keys_.find(f);
    if (it != keys_.end())
        return it->second;
    // Parents exist implicitly, as in a registry: create them so subKeys() lists them.
    auto slash = f.rfind('\\');
    if (slash != std::string::npos) {
        std::string_view parent = key.substr(0, std::min(key.size(), key.find_last_of('\\')));
        if (!parent.empty() && fold(parent) != f)
            ensureKey(parent);
    }
    std::string name(key);
    while (!name.empty() && name.back() == '\\')
        name.pop_back();
    return keys_.emplace(f, Key{name, {}}).first->second;
}

bool RegistryStore::keyExists(std::string_view key) const
{
    return findKey(key) != nullptr;
}

namespace {
bool hasLineBreak(std::string_view s)
{
    return s.find_first_of("\r\n") != std::string_view::npos;
}
} // namespace

bool RegistryStore::createKey(std::string_view key)
{
    if (hasLineBreak(key))
        return false;
    ensureKey(key);
    return true;
}

void RegistryStore::deleteKey(std::string_view key)
{
    std::string f = fold(key);
    for (auto it = keys_.begin(); it != keys_.end();) {
        if (it->first == f || (it->first.size() > f.size() && it->first.compare(0, f.size(), f) == 0
                                  && it->first[f.size()] == '\\'))
            it = keys_.erase(it);
        else
            ++it;
    }
}

std::vector<std::string> RegistryStore::subKeys(std::string_view key) const
{
    std::string f = fold(key) + "\\";
    std::vector<std::string> out;
    for (auto& [folded, k] : keys_) {
        if (folded.size() > f.size() && folded.compare(0, f.size(), f) == 0
            && folded.find('\\', f.size()) == std::string::npos)
            out.push_back(k.name.substr(k.name.size() - (folded.size() - f.size())));
    }
    return out;
}

std::vector<std::string> RegistryStore::valueNames(std::string_view key) const
{
    std::vector<std::string> out;
    if (const Key* k = findKey(key))
        for (auto& v : k->values)
            out.push_back(v.first);
    return out;
}

std::optional<RegistryStore::Value> RegistryStore::readValue(std::string_view key,
                                                             std::string_view name) const
{
    const Key* k = findKey(key);
    if (!k)
        return std::nullopt;
    std::string n = fold(name);
    for (auto& v : k->values)
        if (fold(v.first) == n)
            return v.second;
    return std::nullopt;
}

std::optional<uint32_t> RegistryStore::readDword(std::string_view key, std::string_view name) const
{
    auto v = readValue(key, name);
    if (v && std::holds_alternative<uint32_t>(*v))
        return std::get<uint32_t>(*v);
    return std::nullopt;
}

std::optional<std::string> RegistryStore::readString(std::string_view key,
                                                      std::string_view name) const
{
    auto v = readValue(key, name);
    if (v && std::holds_alternative<std::string>(*v))
        return std::get<std::string>(*v);
    return std::nullopt;
}

namespace {
template <class V>
void setValue(std::vector<std::pair<std::string, RegistryStore::Value>>& values,
              std::string_view name, V&& value)
{
    auto eq = [&](const std::string& a) {
        if (a.size() != name.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(a[i]))
                != std::tolower(static_cast<unsigned char>(name[i])))
                return false;
        return true;
    };
    for (auto& v : values)
        if (eq(v.first)) {
            v.second = std::forward<V>(value);
            return;
        }
    values.emplace_back(std::string(name), std::forward<V>(value));
}
} // namespace

bool RegistryStore::writeDword(std::string_view key, std::string_view name, uint32_t value)
{
    if (hasLineBreak(key) || hasLineBreak(name))
        return false;
    setValue(ensureKey(key).values, name, RegistryStore::Value(value));
    return true;
}

bool RegistryStore::writeString(std::string_view key, std::string_view name,
                                std::string_view value)
{
    if (hasLineBreak(key) || hasLineBreak(name) || hasLineBreak(value))
        return false;
    setValue(ensureKey(key).values, name, RegistryStore::Value(std::string(value)));
    return true;
}

bool RegistryStore::deleteValue(std::string_view key, std::string_view name)
{
    Key* k = findKey(key);
    if (!k)
        return false;
    std::string n = fold(name);
    for (auto it = k->values.begin(); it != k->values.end(); ++it)
        if (fold(it->first) == n) {
            k->values.erase(it);
            return true;
        }
    return false;
}

namespace {
std::string quote(std::string_view s)
{
    std::string r = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            r.push_back('\\');
        r.push_back(c);
    }
    return r + "\"";
}

// Reads a quoted string starting at s[i] == '"'; i ends after the closing quote.
bool unquote(std::string_view s, size_t& i, std::string& out)
{
    if (i >= s.size() || s[i] != '"')
        return false;
    ++i;
    out.clear();
    while (i < s.size()) {
        char c = s[i++];
        if (c == '"')
            return true;
        if (c == '\\') {
            if (i >= s.size() || (s[i] != '\\' && s[i] != '"'))
                return false;
            c = s[i++];
        }
        out.push_back(c);
    }
    return false;
}
} // namespace

std::string RegistryStore::serialize() const
{
    std::string out = "Windows Registry Editor Version 5.00\n";
    for (auto& [folded, k] : keys_) {
        out += "\n[" + k.name + "]\n";
        for (auto& [name, v] : k.values) {
            out += quote(name) + "=";
            if (std::holds_alternative<uint32_t>(v)) {
                char buf[24];
                std::snprintf(buf, sizeof buf, "dword:%08x", std::get<uint32_t>(v));
                out += buf;
            } else {
                out += quote(std::get<std::string>(v));
            }
            out += "\n";
        }
    }
    return out;
}

bool RegistryStore::parse(std::string_view text)
{
    keys_.clear();
    Key* current = nullptr;
    size_t pos = 0;
    bool first = true;
    while (pos <= text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos)
            eol = text.size();
        std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        size_t b = 0;
        while (b < line.size() && (line[b] == ' ' || line[b] == '\t'))
            ++b;
        line.remove_prefix(b);
        bool header = first;
        first = false;
        if (line.empty() || line[0] == ';')
            continue;
        if (header && line.rfind("Windows Registry Editor", 0) == 0)
            continue;
        if (line[0] == '[') {
            if (line.back() != ']' || line.size() < 3) {
                keys_.clear();
                return false;
            }
            current = &ensureKey(line.substr(1, line.size() - 2));
            continue;
        }
        std::string name, sval;
        size_t i = 0;
        if (!current || !unquote(line, i, name) || i >= line.size() || line[i] != '=') {
            keys_.clear();
            return false;
        }
        ++i;
        std::string_view rest = line.substr(i);
        if (rest.rfind("dword:", 0) == 0) {
            std::string_view hex = rest.substr(6);
            if (hex.size() != 8) {
                keys_.clear();
                return false;
            }
            uint32_t v = 0;
            for (char c : hex) {
                const int d = HexDigitValue(c);
                if (d < 0) {
                    keys_.clear();
                    return false;
                }
                v = v << 4 | uint32_t(d);
            }
            setValue(current->values, name, Value(v));
        } else {
            size_t j = 0;
            if (!unquote(rest, j, sval) || j != rest.size()) {
                keys_.clear();
                return false;
            }
            setValue(current->values, name, Value(sval));
        }
        if (eol == text.size())
            break;
    }
    return true;
}

bool RegistryStore::load()
{
    keepAsideOnSave_ = false;
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
        keys_.clear();
        struct stat st{};
        if (stat(path_.c_str(), &st) == 0) { // exists but cannot be read
            keepAsideOnSave_ = true;
            return false;
        }
        return true;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    if (!parse(ss.str())) {
        keepAsideOnSave_ = true;
        return false;
    }
    return true;
}

bool RegistryStore::save()
{
    auto slash = path_.rfind('/');
    if (slash != std::string::npos && slash > 0 && !makeDirs(path_.substr(0, slash)))
        return false;
    if (keepAsideOnSave_) {
        std::string bad = path_ + ".bad";
        if (std::rename(path_.c_str(), bad.c_str()) != 0 && errno != ENOENT)
            return false;
        keepAsideOnSave_ = false;
    }
    std::string tmp = path_ + ".tmp." + std::to_string(getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    std::string text = serialize();
    const char* p = text.data();
    size_t left = text.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        p += n;
        left -= size_t(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || std::rename(tmp.c_str(), path_.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace zelvo::platform
