#include "file_server/path_resolver.h"

#include "file_server/dos_name.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <unordered_set>

namespace zelvo::file_server {

namespace {

// Drops the trailing dots and spaces that DOS ignores; "." and ".." stay as they are.
std::string trimComponent(std::string_view c)
{
    if (c == "." || c == "..")
        return std::string(c);
    size_t end = c.size();
    while (end > 0 && (c[end - 1] == '.' || c[end - 1] == ' '))
        --end;
    return std::string(c.substr(0, end));
}

bool canonical(const std::string& path, std::string& out)
{
    char buf[PATH_MAX];
    if (!::realpath(path.c_str(), buf))
        return false;
    out = buf;
    return true;
}

} // namespace

std::string PathResolver::join(const std::string& dir, const std::string& name)
{
    if (dir == "/")
        return "/" + name;
    return dir + "/" + name;
}

bool PathResolver::inside(const std::string& path, const std::string& root)
{
    if (root == "/")
        return !path.empty() && path[0] == '/';
    return path.size() >= root.size() && path.compare(0, root.size(), root) == 0
        && (path.size() == root.size() || path[root.size()] == '/');
}

uint16_t PathResolver::attributesOf(std::string_view name, const struct stat& st)
{
    uint16_t a = 0;
    if (S_ISDIR(st.st_mode)) {
        a |= 0x10;
    } else {
        a |= 0x20;
        if (!(st.st_mode & S_IWUSR))
            a |= 0x01;
    }
    if (!name.empty() && name[0] == '.' && name != "." && name != "..")
        a |= 0x02;
    return a;
}

const PathResolver::AliasTable& PathResolver::aliases(const std::string& dir)
{
    struct stat st = {};
    ::stat(dir.c_str(), &st);
    auto it = aliases_.find(dir);
    if (it != aliases_.end() && it->second.inode == st.st_ino && it->second.mtime.tv_sec == st.st_mtim.tv_sec
        && it->second.mtime.tv_nsec == st.st_mtim.tv_nsec)
        return it->second;
    if (it == aliases_.end() && aliases_.size() >= kMaxAliasDirs)
        aliases_.clear();

    AliasTable fresh;
    fresh.mtime = st.st_mtim;
    fresh.inode = st.st_ino;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (struct dirent* e = ::readdir(d)) {
            const std::string_view n(e->d_name);
            if (n != "." && n != "..")
                fresh.names.emplace_back(n);
        }
        ::closedir(d);
    }
    std::sort(fresh.names.begin(), fresh.names.end());

    const AliasTable* old = it != aliases_.end() ? &it->second : nullptr;
    std::unordered_set<std::string> claimed;
    std::vector<const std::string*> pending;
    for (const std::string& n : fresh.names) {
        if (isValidShortName(n)) {
            std::string u = dosUpper(n);
            if (claimed.insert(u).second) {
                fresh.shortOf.emplace(n, std::move(u));
                continue;
            }
        }
        pending.push_back(&n);
    }
    // Names that had an alias keep it, before new names are numbered.
    std::vector<const std::string*> unnamed;
    for (const std::string* n : pending) {
        if (old) {
            auto prev = old->shortOf.find(*n);
            if (prev != old->shortOf.end() && !isValidShortName(*n) && claimed.insert(prev->second).second) {
                fresh.shortOf.emplace(*n, prev->second);
                continue;
            }
        }
        unnamed.push_back(n);
    }
    for (const std::string* n : unnamed) {
        std::string base;
        std::string ext;
        aliasParts(*n, base, ext);
        for (unsigned k = 1;; ++k) {
            std::string alias = makeAlias(base, ext, k);
            if (claimed.insert(alias).second) {
                fresh.shortOf.emplace(*n, std::move(alias));
                break;
            }
        }
    }
    for (const std::string& n : fresh.names) {
        fresh.byShort.emplace(fresh.shortOf[n], n);
        fresh.byUpper.emplace(dosUpper(n), n);
    }
    AliasTable& slot = aliases_[dir];
    slot = std::move(fresh);
    return slot;
}

bool PathResolver::lookup(const std::string& dir, const std::string& component, std::string& hostName)
{
    struct stat st;
    if (::lstat(join(dir, component).c_str(), &st) == 0) {
        hostName = component;
        return true;
    }
    const AliasTable& t = aliases(dir);
    const std::string u = dosUpper(component);
    auto it = t.byUpper.find(u);
    if (it != t.byUpper.end()) {
        hostName = it->second;
        return true;
    }
    auto alias = t.byShort.find(u);
    if (alias != t.byShort.end()) {
        hostName = alias->second;
        return true;
    }
    return false;
}

std::string PathResolver::shortNameOf(const std::string& dir, const std::string& hostName)
{
    if (hostName == "." || hostName == "..")
        return hostName;
    const AliasTable& t = aliases(dir);
    auto it = t.shortOf.find(hostName);
    return it == t.shortOf.end() ? dosUpper(hostName) : it->second;
}

PathResolver::Current PathResolver::current()
{
    Current c;
    char buf[PATH_MAX];
    std::string cwd;
    if (::getcwd(buf, sizeof buf)) {
        std::string canon;
        if (canonical(buf, canon))
            cwd = canon;
    }
    size_t best = 0;
    for (int d = 0; d < 26 && !cwd.empty(); ++d) {
        const std::string& root = drives_.root(d);
        if (!root.empty() && inside(cwd, root) && (c.drive < 0 || root.size() > best)) {
            c.drive = d;
            best = root.size();
        }
    }
    if (c.drive < 0) {
        c.drive = drives_.firstDrive();
        return c;
    }
    const std::string& root = drives_.root(c.drive);
    std::string_view rest(cwd);
    rest.remove_prefix(root == "/" ? 0 : root.size());
    while (!rest.empty()) {
        while (!rest.empty() && rest.front() == '/')
            rest.remove_prefix(1);
        const size_t slash = rest.find('/');
        if (!rest.empty())
            c.components.emplace_back(rest.substr(0, slash));
        rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash);
    }
    return c;
}

int PathResolver::currentDrive()
{
    return current().drive;
}

std::string PathResolver::currentDirectory()
{
    const Current c = current();
    if (c.drive < 0)
        return {};
    std::string dos;
    dos.push_back(char('A' + c.drive));
    dos += ":\\";
    std::string dir = drives_.root(c.drive);
    for (size_t i = 0; i < c.components.size(); ++i) {
        if (i)
            dos.push_back('\\');
        dos += shortNameOf(dir, c.components[i]);
        dir = join(dir, c.components[i]);
    }
    return dos;
}

PathError PathResolver::split(std::string_view path, int& drive, std::vector<std::string>& components)
{
    components.clear();
    // Network paths name other machines' shares, which this server does not serve.
    if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/'))
        return PathError::BadDrive;
    Current cur;
    bool haveCurrent = false;
    if (path.size() >= 2 && path[1] == ':') {
        const char letter = dosUpper(path[0]);
        if (letter < 'A' || letter > 'Z')
            return PathError::BadDrive;
        drive = letter - 'A';
        path.remove_prefix(2);
    } else {
        cur = current();
        haveCurrent = true;
        drive = cur.drive;
    }
    if (!drives_.configured(drive))
        return PathError::BadDrive;
    if (drives_.root(drive).empty())
        return PathError::NoPath;
    if (path.empty() || (path[0] != '\\' && path[0] != '/')) {
        // A relative path continues from the current directory when it is on this drive.
        if (!haveCurrent)
            cur = current();
        if (cur.drive == drive)
            components = cur.components;
    }
    while (!path.empty()) {
        const size_t sep = path.find_first_of("\\/");
        const std::string_view raw = path.substr(0, sep);
        path.remove_prefix(sep == std::string_view::npos ? path.size() : sep + 1);
        if (raw.empty() || raw == ".")
            continue;
        if (raw == "..") {
            if (components.empty())
                return PathError::Refused;
            components.pop_back();
            continue;
        }
        std::string c = trimComponent(raw);
        if (c.empty())
            return PathError::BadName;
        components.push_back(std::move(c));
    }
    return PathError::None;
}

PathError PathResolver::walk(int drive, const std::vector<std::string>& components, size_t count, std::string& dir)
{
    const std::string& root = drives_.root(drive);
    dir = root;
    for (size_t i = 0; i < count; ++i) {
        std::string name;
        if (!lookup(dir, components[i], name))
            return PathError::NoPath;
        const std::string next = join(dir, name);
        struct stat st;
        if (::lstat(next.c_str(), &st) != 0)
            return PathError::NoPath;
        if (S_ISLNK(st.st_mode)) {
            std::string target;
            if (!canonical(next, target) || !inside(target, root))
                return PathError::Refused;
            if (::stat(target.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                return PathError::NoPath;
            dir = target;
        } else if (S_ISDIR(st.st_mode)) {
            dir = next;
        } else {
            return PathError::NoPath;
        }
    }
    return PathError::None;
}

PathError PathResolver::resolve(std::string_view dosPath, HostPath& out)
{
    out = HostPath();
    std::vector<std::string> components;
    PathError e = split(dosPath, out.drive, components);
    if (e != PathError::None)
        return e;
    out.root = drives_.root(out.drive);
    if (components.empty()) {
        out.isRoot = true;
        out.exists = ::stat(out.root.c_str(), &out.st) == 0;
        out.host = out.root;
        return out.exists ? PathError::None : PathError::NoPath;
    }
    e = walk(out.drive, components, components.size() - 1, out.parent);
    if (e != PathError::None)
        return e;
    const std::string& last = components.back();
    std::string name;
    if (!lookup(out.parent, last, name)) {
        out.name = last;
        out.host = join(out.parent, last);
        return PathError::None;
    }
    out.name = name;
    const std::string path = join(out.parent, name);
    if (::lstat(path.c_str(), &out.st) != 0) {
        out.host = path;
        return PathError::None;
    }
    out.host = path;
    if (S_ISLNK(out.st.st_mode)) {
        std::string target;
        if (!canonical(path, target) || !inside(target, out.root) || ::stat(target.c_str(), &out.st) != 0)
            return PathError::Refused;
        out.host = target;
    }
    if (!S_ISREG(out.st.st_mode) && !S_ISDIR(out.st.st_mode))
        return PathError::Refused;
    out.exists = true;
    return PathError::None;
}

PathError PathResolver::resolveParent(std::string_view dosPath, HostPath& dir, std::string& last)
{
    dir = HostPath();
    last.clear();
    std::vector<std::string> components;
    PathError e = split(dosPath, dir.drive, components);
    if (e != PathError::None)
        return e;
    dir.root = drives_.root(dir.drive);
    // The last component is the text after the last separator (or after the drive), kept
    // exactly as written: trailing dots and '?' matter in a pattern.
    std::string_view raw = dosPath;
    const size_t sep = raw.find_last_of("\\/");
    if (sep != std::string_view::npos)
        raw.remove_prefix(sep + 1);
    else if (raw.size() >= 2 && raw[1] == ':')
        raw.remove_prefix(2);
    if (!raw.empty() && raw != "." && raw != "..") {
        last = std::string(raw);
        if (!components.empty())
            components.pop_back();
    }
    e = walk(dir.drive, components, components.size(), dir.host);
    if (e != PathError::None)
        return e;
    dir.isRoot = dir.host == dir.root;
    dir.exists = ::stat(dir.host.c_str(), &dir.st) == 0;
    return dir.exists ? PathError::None : PathError::NoPath;
}

std::vector<DirEntry> PathResolver::list(const HostPath& dir)
{
    std::vector<DirEntry> out;
    if (!dir.isRoot) {
        DirEntry self;
        self.hostName = self.shortName = ".";
        if (::stat(dir.host.c_str(), &self.st) == 0) {
            self.attributes = attributesOf(".", self.st);
            out.push_back(self);
        }
        DirEntry up;
        up.hostName = up.shortName = "..";
        const std::string parent = dir.host.substr(0, std::max<size_t>(1, dir.host.rfind('/')));
        if (::stat(parent.c_str(), &up.st) == 0) {
            up.attributes = attributesOf("..", up.st);
            out.push_back(up);
        }
    }
    const AliasTable& t = aliases(dir.host);
    out.reserve(out.size() + t.names.size());
    for (const std::string& name : t.names) {
        DirEntry e;
        const std::string path = join(dir.host, name);
        if (::lstat(path.c_str(), &e.st) != 0)
            continue;
        if (S_ISLNK(e.st.st_mode)) {
            std::string target;
            if (!canonical(path, target) || !inside(target, dir.root) || ::stat(target.c_str(), &e.st) != 0)
                continue;
        }
        if (!S_ISREG(e.st.st_mode) && !S_ISDIR(e.st.st_mode))
            continue;
        e.hostName = name;
        auto s = t.shortOf.find(name);
        e.shortName = s != t.shortOf.end() ? s->second : dosUpper(name);
        e.attributes = attributesOf(name, e.st);
        out.push_back(std::move(e));
    }
    return out;
}

} // namespace zelvo::file_server
