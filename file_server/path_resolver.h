#pragma once
// Turns the client's DOS paths into paths of this machine, confined to the drive's
// directory.
//
// A path is split at '\' (or '/'), "." and ".." are applied to the components as text
// (as DOS does), and ".." above the drive's root is refused. Each component is then looked
// up in its directory: the exact name first, then the same name in another case, then an
// 8.3 alias. A symbolic link is followed only when its target lies inside the drive's
// directory; device files, pipes and sockets are refused. Trailing dots and spaces of a
// component are dropped ("FILE." names FILE), as DOS does.
//
// Names that are not valid 8.3 names get a stable alias BASE~n.EXT: numbers are handed out
// in name order when a directory is first seen, and a name keeps its alias while it exists
// and the server runs, whatever is added beside it. A valid 8.3 name is shown in upper
// case; when two names differ only in case, the later in name order gets an alias.
//
// Attributes of this machine's files as the client sees them:
//   directory (0x10)  a directory
//   archive   (0x20)  every regular file (there is no backup bit to clear)
//   read-only (0x01)  a regular file without the owner's write permission
//   hidden    (0x02)  a name that begins with '.'
//   system    (0x04)  never
// Setting read-only removes every write permission; clearing it gives the owner write
// permission back. The other bits cannot be stored and are ignored when set.

#include "file_server/drive_table.h"

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zelvo::file_server {

enum class PathError {
    None,
    BadDrive, // no such drive (DOS error 3)
    NoPath,   // a directory on the way does not exist (3)
    Refused,  // leaves the drive, or is a device or a link that leads outside (5)
    BadName,  // a component that is no name at all (123)
};

struct HostPath {
    int drive = -1;
    std::string root;   // canonical directory of the drive
    std::string parent; // canonical directory that holds the object (empty for the root)
    std::string name;   // name of the object in parent (empty for the root)
    std::string host;   // canonical path of the object (parent/name when it does not exist)
    bool exists = false;
    bool isRoot = false;
    struct stat st = {}; // of the object, links followed, when it exists
};

struct DirEntry {
    std::string hostName;  // name in the directory ("." and ".." for those entries)
    std::string shortName; // 8.3 name that the client sees
    uint16_t attributes = 0;
    struct stat st = {};
};

class PathResolver {
public:
    explicit PathResolver(DriveTable& drives) : drives_(drives) {}

    // Resolves a path. Every directory on the way must exist; the last component need
    // not (exists is false then, and name is the component as the client wrote it).
    PathError resolve(std::string_view dosPath, HostPath& out);
    // Resolves all but the last component, which must exist as a directory, and gives the
    // last component exactly as written (a search pattern); empty when the path ends in a
    // separator or in "." or "..".
    PathError resolveParent(std::string_view dosPath, HostPath& dir, std::string& last);

    // Entries of a resolved directory in name order, "." and ".." first below the root;
    // entries that lead outside the drive or are neither files nor directories are left out.
    std::vector<DirEntry> list(const HostPath& dir);
    // Client-side 8.3 name of an entry of a directory (its alias, or its upper-case name).
    std::string shortNameOf(const std::string& dir, const std::string& hostName);

    // The server's current directory in DOS form: the process's working directory when it
    // lies inside a served drive, else the root of the lowest drive; empty with no drive.
    std::string currentDirectory();
    // Drive of the current directory, or -1.
    int currentDrive();

    // Host name of a component in a canonical directory: the exact name, the name in
    // another case, or the entry whose 8.3 alias it is.
    bool lookup(const std::string& dir, const std::string& component, std::string& hostName);

    static uint16_t attributesOf(std::string_view name, const struct stat& st);
    static std::string join(const std::string& dir, const std::string& name);
    static bool inside(const std::string& path, const std::string& root);

    // Forgets every alias (for a fresh start in tests).
    void reset() { aliases_.clear(); }

private:
    struct AliasTable {
        struct timespec mtime = {};
        ino_t inode = 0;
        std::vector<std::string> names; // in name order
        std::unordered_map<std::string, std::string> shortOf; // host name -> 8.3 name
        std::unordered_map<std::string, std::string> byShort; // 8.3 name -> host name
        std::unordered_map<std::string, std::string> byUpper; // upper-case name -> host name
    };
    struct Current {
        int drive = -1;
        std::vector<std::string> components; // host names below the drive's root
    };

    PathError split(std::string_view dosPath, int& drive, std::vector<std::string>& components);
    PathError walk(int drive, const std::vector<std::string>& components, size_t count, std::string& dir);
    const AliasTable& aliases(const std::string& dir);
    Current current();

    // Too many directories seen: the cache starts over rather than grow without bound.
    static constexpr size_t kMaxAliasDirs = 1024;

    DriveTable& drives_;
    std::unordered_map<std::string, AliasTable> aliases_;
};

} // namespace zelvo::file_server
