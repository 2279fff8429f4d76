#pragma once
// The served drives: which directory of this machine each DOS drive letter stands for.
// The table lives in the per-user settings store under software\brunmo\zelvo32\rfs,
// string values "A".."Z" naming directories ("~/" means the home directory). Without any
// value, only C: is served, from ~/zelvo32-share, which is created when missing.
//
// The store is read by the library itself and read again whenever its file changes, so
// a drive that the user maps in the program is served from the next request on.

#include <array>
#include <string>
#include <sys/stat.h>

namespace zelvo::file_server {

class DriveTable {
public:
    static constexpr const char* kKey = "software\\brunmo\\zelvo32\\rfs";

    // Reads the table again if the settings store changed since the last look.
    void refresh();
    // Canonical directory of drive 0 (A) to 25 (Z); empty when the drive is not served or
    // its directory does not exist.
    const std::string& root(int drive);
    // True when the table names the drive, whether or not its directory exists.
    bool configured(int drive) const;
    // Lowest served drive, or -1 when there is none.
    int firstDrive() const;
    // Forgets what was read, so the next refresh reads the store again.
    void reset();

private:
    std::array<std::string, 26> configured_;
    std::array<std::string, 26> roots_;
    bool loaded_ = false;
    std::string storePath_;
    bool storeExists_ = false;
    struct timespec storeTime_ = {};
    off_t storeSize_ = 0;
    ino_t storeInode_ = 0;
};

} // namespace zelvo::file_server
