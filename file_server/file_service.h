#pragma once
// The 21 file operations of the server, carried out on the drive directories of this
// machine. Each operation reads its parameters from the unpacked request payload and
// writes its reply payload over it; the result is a DOS error number (0 for success).
//
// The client sees a DOS disk: 8.3 names (long names through aliases), attribute words,
// DOS date and time words of the last write in local time, 20 file handles (slots) and
// directory searches identified by a 32-bit number.

#include "file_server/drive_table.h"
#include "file_server/path_resolver.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

namespace zelvo::file_server {

enum RequestCode : uint16_t {
    RfsRemoveDir = 0,
    RfsMakeDir = 1,
    RfsCheckDir = 2,
    RfsClose = 3,
    RfsCommit = 4,
    RfsRead = 5,
    RfsWrite = 6,
    RfsLock = 7,
    RfsLockUnlock = 8,
    RfsDiskSpace = 9,
    RfsSetAttr = 10,
    RfsGetAttr = 11,
    RfsRename = 12,
    RfsDelete = 13,
    RfsOpen = 14,
    RfsCreate = 15,
    RfsFindFirst = 16,
    RfsFindNext = 17,
    RfsCloseAll = 18,
    RfsUnsupported = 19,
    RfsGetCwd = 20,
};

class FileService {
public:
    static constexpr size_t kSlots = 20;
    static constexpr size_t kMaxPayload = 1032;
    static constexpr size_t kMaxRead = 1030;  // 2-byte count plus the data fill a payload
    static constexpr size_t kMaxWrite = 1024; // 8 bytes of parameters plus the data
    static constexpr size_t kFindBlock = 43;
    static constexpr size_t kOpenBlock = 12;
    // Searches that a client starts and never finishes would pile up for ever; past this
    // many, the oldest search is dropped (its identifier then answers "no more files").
    static constexpr size_t kMaxSearches = 128;

    struct Reply {
        bool known = true;   // false when the code names no operation
        uint16_t result = 0; // DOS error number
        uint16_t length = 0; // reply payload length
    };

    FileService();
    ~FileService();
    FileService(const FileService&) = delete;
    FileService& operator=(const FileService&) = delete;

    // Carries out one request; payload holds requestLength bytes of parameters and has room
    // for kMaxPayload bytes of reply.
    Reply perform(uint16_t code, uint16_t owner, uint8_t* payload, size_t requestLength);

    // Closes every file, drops every search and forgets drives and aliases.
    void reset();

    size_t openSlots() const;
    size_t searchCount() const { return searches_.size(); }

private:
    // A byte range locked through a slot, exactly as the client asked for it.
    struct LockedRange {
        uint32_t offset = 0;
        uint32_t length = 0;
    };
    struct Slot {
        uint16_t owner = 0;
        int fd = -1;
        int access = 0; // 0 read, 1 write, 2 read and write
        dev_t device = 0;  // identity of the open file, to find other slots' locks on it
        ino_t inode = 0;
        std::vector<LockedRange> locks;
    };
    struct Search {
        uint16_t owner = 0;
        uint16_t mask = 0;
        uint32_t id = 0;
        std::vector<DirEntry> entries; // entries that match the pattern, in listing order
        size_t next = 0;
    };

    // Parameters of a request, read with bounds checks against its payload.
    class Params {
    public:
        Params(const uint8_t* p, size_t n) : p_(p), n_(n) {}
        bool has(size_t bytes) const { return bytes <= n_; }
        uint16_t u16(size_t at) const;
        uint32_t u32(size_t at) const;
        // NUL-terminated string at offset; false when it does not end within the payload.
        bool string(size_t at, std::string& out, size_t* end = nullptr) const;

    private:
        const uint8_t* p_;
        size_t n_;
    };

    Reply removeDir(const Params& in);
    Reply makeDir(const Params& in);
    Reply checkDir(const Params& in);
    Reply close(const Params& in);
    Reply read(const Params& in, uint8_t* out);
    Reply write(const Params& in, uint8_t* out);
    Reply lock(const Params& in);
    Reply lockUnlock(const Params& in);
    Reply diskSpace(const Params& in, uint8_t* out);
    Reply setAttr(const Params& in);
    Reply getAttr(const Params& in, uint8_t* out);
    Reply rename(const Params& in);
    Reply remove(const Params& in);
    Reply open(const Params& in, uint16_t owner, uint8_t* out);
    Reply create(const Params& in, uint16_t owner, uint8_t* out);
    Reply findFirst(const Params& in, uint16_t owner, uint8_t* out);
    Reply findNext(const Params& in, uint8_t* out);
    Reply closeAll(uint16_t owner);
    Reply getCwd(uint8_t* out);

    Slot* slot(uint16_t number);
    int freeSlot() const;
    // Lists the entries of a normalised pattern's directory that match its last component.
    uint16_t searchPattern(const std::string& pattern, HostPath& dir, std::vector<DirEntry>& found);
    // Locks and unlocks byte ranges as DOS does: a lock is exclusive whatever the open
    // mode, overlaps no range locked through any handle (the slot's own included), and an
    // unlock must name a locked range exactly (else kErrNotLocked).
    uint16_t lockRange(Slot& s, uint32_t offset, uint32_t length);
    uint16_t unlockRange(Slot& s, uint32_t offset, uint32_t length);
    // Whether a slot other than `self` holds a lock on the same file overlapping the range.
    bool lockedByOtherSlot(const Slot& self, uint64_t offset, uint64_t length) const;
    // Tests whether another holder's lock covers the range a read or write would touch.
    uint16_t rangeConflict(const Slot& s, uint64_t offset, uint64_t length, bool writing);
    static void fillFindBlock(uint8_t* out, uint32_t id, const DirEntry& e);
    static void fillOpenBlock(uint8_t* out, uint16_t slot, uint16_t attributes, const struct stat& st);
    static uint16_t pathError(PathError e);
    // The path of a directory request (make, remove), resolved: kErrNone, kErrAccessDenied
    // for a refused path, kErrInvalidData for anything else that is wrong with it.
    uint16_t resolveDirRequest(const Params& in, HostPath& h);
    // Resolves a path that must name an existing entry: kErrNone, the error of a path
    // that does not resolve, or kErrFileNotFound.
    uint16_t resolveExisting(const std::string& path, HostPath& h);
    // Finishes an open or create: fd (from ::open, errno telling why when negative) must
    // be a regular file; it then fills slot number and the reply's open block.
    Reply takeSlot(int fd, int number, uint16_t owner, int access, const std::string& name, uint8_t* out);

    DriveTable drives_;
    PathResolver paths_;
    Slot slots_[kSlots];
    std::list<Search> searches_; // newest first
    uint32_t nextSearchId_ = 0;
};

// DOS date and time words of a modification time, in local time; both 0 when the time
// lies outside the DOS range (1980 to 2107).
void dosDateTime(time_t t, uint16_t& date, uint16_t& time);

} // namespace zelvo::file_server
