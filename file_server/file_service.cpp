#include "file_server/file_service.h"

#include "file_server/dos_error.h"
#include "file_server/dos_name.h"
#include "file_server/wire.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace zelvo::file_server {

namespace {

// An entry qualifies when each of its hidden, system and directory bits is in the mask;
// read-only and archive never keep an entry out.
bool attributesPass(uint16_t attributes, uint16_t mask)
{
    return (attributes & ~(mask | 0x21) & 0xB7) == 0;
}

// Label of a drive: the name of its directory, in upper case, within 11 characters.
std::string volumeLabel(const std::string& root)
{
    std::string name = root.substr(root.rfind('/') + 1);
    if (name.empty())
        name = "ROOT";
    std::string label;
    for (char c : name) {
        if (label.size() >= 11)
            break;
        label.push_back(isShortNameChar(c) ? dosUpper(c) : '_');
    }
    return label;
}

std::string trimName(std::string s)
{
    while (!s.empty() && (s.back() == '.' || s.back() == ' '))
        s.pop_back();
    return s;
}

} // namespace

void dosDateTime(time_t t, uint16_t& date, uint16_t& time)
{
    date = 0;
    time = 0;
    struct tm tm;
    if (!::localtime_r(&t, &tm))
        return;
    const int year = tm.tm_year + 1900;
    if (year < 1980 || year > 2107)
        return;
    date = uint16_t(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    time = uint16_t((tm.tm_hour << 11) | (tm.tm_min << 5) | (std::min(tm.tm_sec, 59) / 2));
}

uint16_t FileService::Params::u16(size_t at) const
{
    return at + 2 <= n_ ? get16(p_ + at) : 0;
}

uint32_t FileService::Params::u32(size_t at) const
{
    return at + 4 <= n_ ? get32(p_ + at) : 0;
}

bool FileService::Params::string(size_t at, std::string& out, size_t* end) const
{
    if (at >= n_)
        return false;
    const void* nul = std::memchr(p_ + at, 0, n_ - at);
    if (!nul)
        return false;
    const size_t len = size_t(static_cast<const uint8_t*>(nul) - (p_ + at));
    out.assign(reinterpret_cast<const char*>(p_ + at), len);
    if (end)
        *end = at + len + 1;
    return true;
}

FileService::FileService() : paths_(drives_) {}

FileService::~FileService()
{
    reset();
}

void FileService::reset()
{
    for (Slot& s : slots_) {
        if (s.fd >= 0)
            ::close(s.fd);
        s = Slot();
    }
    searches_.clear();
    nextSearchId_ = 0;
    drives_.reset();
    paths_.reset();
}

size_t FileService::openSlots() const
{
    return size_t(std::count_if(std::begin(slots_), std::end(slots_), [](const Slot& s) { return s.fd >= 0; }));
}

uint16_t FileService::pathError(PathError e)
{
    switch (e) {
    case PathError::None:
        return kErrNone;
    case PathError::BadDrive:
    case PathError::NoPath:
        return kErrPathNotFound;
    case PathError::Refused:
        return kErrAccessDenied;
    case PathError::BadName:
        return kErrInvalidName;
    }
    return kErrPathNotFound;
}

FileService::Slot* FileService::slot(uint16_t number)
{
    if (number >= kSlots || slots_[number].fd < 0)
        return nullptr;
    return &slots_[number];
}

int FileService::freeSlot() const
{
    for (size_t i = 0; i < kSlots; ++i)
        if (slots_[i].owner == 0 && slots_[i].fd < 0)
            return int(i);
    return -1;
}

FileService::Reply FileService::perform(uint16_t code, uint16_t owner, uint8_t* payload, size_t requestLength)
{
    drives_.refresh();
    const Params in(payload, std::min(requestLength, kMaxPayload));
    switch (code) {
    case RfsRemoveDir:
        return removeDir(in);
    case RfsMakeDir:
        return makeDir(in);
    case RfsCheckDir:
        return checkDir(in);
    case RfsClose:
        return close(in);
    case RfsCommit:
        return {};
    case RfsRead:
        return read(in, payload);
    case RfsWrite:
        return write(in, payload);
    case RfsLock:
        return lock(in);
    case RfsLockUnlock:
        return lockUnlock(in);
    case RfsDiskSpace:
        return diskSpace(in, payload);
    case RfsSetAttr:
        return setAttr(in);
    case RfsGetAttr:
        return getAttr(in, payload);
    case RfsRename:
        return rename(in);
    case RfsDelete:
        return remove(in);
    case RfsOpen:
        return open(in, owner, payload);
    case RfsCreate:
        return create(in, owner, payload);
    case RfsFindFirst:
        return findFirst(in, owner, payload);
    case RfsFindNext:
        return findNext(in, payload);
    case RfsCloseAll:
        return closeAll(owner);
    case RfsUnsupported:
        return {true, kErrAccessDenied, 0};
    case RfsGetCwd:
        return getCwd(payload);
    default:
        return {false, kErrAccessDenied, 0};
    }
}

uint16_t FileService::resolveDirRequest(const Params& in, HostPath& h)
{
    std::string path;
    if (!in.string(0, path))
        return kErrInvalidData;
    const PathError e = paths_.resolve(path, h);
    if (e == PathError::Refused)
        return kErrAccessDenied;
    return e == PathError::None ? uint16_t(kErrNone) : uint16_t(kErrInvalidData);
}

uint16_t FileService::resolveExisting(const std::string& path, HostPath& h)
{
    const PathError e = paths_.resolve(path, h);
    if (e != PathError::None)
        return pathError(e);
    return h.exists ? uint16_t(kErrNone) : uint16_t(kErrFileNotFound);
}

FileService::Reply FileService::removeDir(const Params& in)
{
    HostPath h;
    if (const uint16_t result = resolveDirRequest(in, h); result != kErrNone)
        return {true, result, 0};
    if (!h.exists || h.isRoot || !S_ISDIR(h.st.st_mode))
        return {true, kErrInvalidData, 0};
    // The entry itself is removed, never the target of a link that names it.
    if (::rmdir(PathResolver::join(h.parent, h.name).c_str()) != 0)
        return {true, kErrInvalidData, 0};
    return {};
}

FileService::Reply FileService::makeDir(const Params& in)
{
    HostPath h;
    if (const uint16_t result = resolveDirRequest(in, h); result != kErrNone)
        return {true, result, 0};
    if (h.exists || !isValidNewName(h.name))
        return {true, kErrInvalidData, 0};
    if (::mkdir(h.host.c_str(), 0777) != 0)
        return {true, kErrInvalidData, 0};
    return {};
}

FileService::Reply FileService::checkDir(const Params& in)
{
    std::string path;
    if (!in.string(0, path))
        return {true, kErrInvalidParameter, 0};
    if (path.size() == 2 && path[1] == ':')
        path.push_back('\\');
    HostPath h;
    if (const uint16_t result = resolveExisting(path, h); result != kErrNone)
        return {true, result, 0};
    return {true, uint16_t(S_ISDIR(h.st.st_mode) ? kErrNone : kErrPathNotFound), 0};
}

FileService::Reply FileService::close(const Params& in)
{
    Slot* s = in.has(2) ? slot(in.u16(0)) : nullptr;
    if (!s)
        return {true, kErrInvalidHandle, 0};
    const int rc = ::close(s->fd);
    const int err = errno;
    *s = Slot();
    return {true, rc == 0 ? uint16_t(kErrNone) : dosErrorFromErrno(err), 0};
}

namespace {

bool overlaps(uint64_t offsetA, uint64_t lengthA, uint64_t offsetB, uint64_t lengthB)
{
    return offsetA < offsetB + lengthB && offsetB < offsetA + lengthA;
}

// Sets or clears an open-file-description lock, which also keeps other programs that
// lock the file out of the range.
int setHostLock(int fd, short type, uint32_t offset, uint32_t length)
{
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(offset);
    fl.l_len = off_t(length);
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0 ? 0 : errno;
}

} // namespace

bool FileService::lockedByOtherSlot(const Slot& self, uint64_t offset, uint64_t length) const
{
    for (const Slot& other : slots_) {
        if (&other == &self || other.fd < 0 || other.device != self.device || other.inode != self.inode)
            continue;
        for (const LockedRange& r : other.locks)
            if (overlaps(offset, length, r.offset, r.length))
                return true;
    }
    return false;
}

uint16_t FileService::rangeConflict(const Slot& s, uint64_t offset, uint64_t length, bool writing)
{
    if (length == 0)
        return kErrNone;
    if (lockedByOtherSlot(s, offset, length))
        return kErrLockViolation;
    struct flock fl = {};
    fl.l_type = writing ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(offset);
    fl.l_len = off_t(length);
    if (::fcntl(s.fd, F_OFD_GETLK, &fl) != 0)
        return kErrNone;
    return fl.l_type == F_UNLCK ? kErrNone : kErrLockViolation;
}

uint16_t FileService::lockRange(Slot& s, uint32_t offset, uint32_t length)
{
    // A range of no bytes locks nothing (for fcntl a length of 0 would mean "to the end").
    if (length == 0)
        return kErrNone;
    if (lockedByOtherSlot(s, offset, length))
        return kErrLockViolation;
    for (const LockedRange& r : s.locks)
        if (overlaps(offset, length, r.offset, r.length))
            return kErrLockViolation;
    // A descriptor opened only for reading can hold only a shared host lock; the table
    // above still makes the range exclusive among the server's handles.
    const int err = setHostLock(s.fd, s.access == 0 ? short(F_RDLCK) : short(F_WRLCK), offset, length);
    if (err != 0)
        return (err == EAGAIN || err == EACCES) ? uint16_t(kErrLockViolation) : dosErrorFromErrno(err);
    s.locks.push_back({offset, length});
    return kErrNone;
}

uint16_t FileService::unlockRange(Slot& s, uint32_t offset, uint32_t length)
{
    if (length == 0)
        return kErrNone;
    auto it = std::find_if(s.locks.begin(), s.locks.end(),
                           [&](const LockedRange& r) { return r.offset == offset && r.length == length; });
    if (it == s.locks.end())
        return kErrNotLocked;
    const int err = setHostLock(s.fd, F_UNLCK, offset, length);
    if (err != 0)
        return dosErrorFromErrno(err);
    s.locks.erase(it);
    return kErrNone;
}

FileService::Reply FileService::read(const Params& in, uint8_t* out)
{
    Reply r{true, kErrNone, 2};
    if (!in.has(8)) {
        put16(out, 0);
        r.result = kErrInvalidParameter;
        return r;
    }
    Slot* s = slot(in.u16(0));
    const uint32_t offset = in.u32(2);
    // A count beyond what one reply can carry is served as far as it fits.
    const size_t count = std::min<size_t>(in.u16(6), kMaxRead);
    put16(out, 0);
    if (!s) {
        r.result = kErrInvalidHandle;
        return r;
    }
    if (s->access == 1) {
        r.result = kErrAccessDenied;
        return r;
    }
    if ((r.result = rangeConflict(*s, offset, count, false)) != kErrNone)
        return r;
    size_t total = 0;
    while (total < count) {
        const ssize_t n = ::pread(s->fd, out + 2 + total, count - total, off_t(offset) + off_t(total));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            r.result = dosErrorFromErrno(errno);
            return r;
        }
        if (n == 0)
            break;
        total += size_t(n);
    }
    put16(out, uint16_t(total));
    r.length = uint16_t(2 + total);
    return r;
}

FileService::Reply FileService::write(const Params& in, uint8_t* out)
{
    Reply r{true, kErrNone, 2};
    const uint16_t number = in.u16(0);
    const uint32_t offset = in.u32(2);
    const size_t count = in.u16(6);
    // The data must have arrived in full: a write is never made from bytes that were not
    // part of this request.
    if (!in.has(8) || count > kMaxWrite || !in.has(8 + count)) {
        put16(out, 0);
        r.result = kErrInvalidParameter;
        return r;
    }
    Slot* s = slot(number);
    if (!s) {
        put16(out, 0);
        r.result = kErrInvalidHandle;
        return r;
    }
    if (s->access == 0) {
        put16(out, 0);
        r.result = kErrAccessDenied;
        return r;
    }
    if ((r.result = rangeConflict(*s, offset, count, true)) != kErrNone) {
        put16(out, 0);
        return r;
    }
    size_t total = 0;
    while (total < count) {
        const ssize_t n = ::pwrite(s->fd, out + 8 + total, count - total, off_t(offset) + off_t(total));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            r.result = dosErrorFromErrno(errno);
            break;
        }
        if (n == 0) {
            r.result = kErrDiskFull;
            break;
        }
        total += size_t(n);
    }
    put16(out, uint16_t(total));
    return r;
}

FileService::Reply FileService::lock(const Params& in)
{
    if (!in.has(10))
        return {true, kErrInvalidParameter, 0};
    Slot* s = slot(in.u16(0));
    if (!s)
        return {true, kErrInvalidHandle, 0};
    return {true, lockRange(*s, in.u32(2), in.u32(6)), 0};
}

FileService::Reply FileService::lockUnlock(const Params& in)
{
    if (!in.has(12))
        return {true, kErrInvalidParameter, 0};
    Slot* s = slot(in.u16(0));
    if (!s)
        return {true, kErrInvalidHandle, 0};
    if (in.u16(2) == 0)
        return {true, lockRange(*s, in.u32(4), in.u32(8)), 0};
    return {true, unlockRange(*s, in.u32(4), in.u32(8)), 0};
}

FileService::Reply FileService::diskSpace(const Params& in, uint8_t* out)
{
    if (!in.has(1))
        return {true, kErrInvalidParameter, 0};
    std::string host;
    const uint8_t first = out[0];
    if (first < 27) {
        // Drive 0 is the current drive, as in DOS.
        const int drive = first == 0 ? paths_.currentDrive() : first - 1;
        if (!drives_.configured(drive) || drives_.root(drive).empty())
            return {true, kErrPathNotFound, 0};
        host = drives_.root(drive);
    } else {
        std::string path;
        if (!in.string(0, path))
            return {true, kErrInvalidParameter, 0};
        HostPath h;
        const PathError e = paths_.resolve(path, h);
        if (e != PathError::None)
            return {true, pathError(e), 0};
        if (!h.exists || !S_ISDIR(h.st.st_mode))
            return {true, kErrPathNotFound, 0};
        host = h.host;
    }
    struct statvfs vfs;
    if (::statvfs(host.c_str(), &vfs) != 0)
        return {true, dosErrorFromErrno(errno), 0};
    const uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    const uint64_t total = uint64_t(vfs.f_blocks) * unit;
    const uint64_t avail = uint64_t(vfs.f_bavail) * unit;
    // The words are 16 bits wide: the cluster size grows (up to 32 KiB, which every DOS
    // client handles) until the disk fits, and a larger disk is reported as full words
    // rather than cut to a meaningless low part.
    constexpr uint64_t kSector = 512;
    uint64_t perCluster = 1;
    while (perCluster < 64 && total / (perCluster * kSector) > 0xFFFF)
        perCluster *= 2;
    const uint64_t cluster = perCluster * kSector;
    put16(out, uint16_t(std::min<uint64_t>(total / cluster, 0xFFFF)));
    put16(out + 2, uint16_t(std::min<uint64_t>(avail / cluster, 0xFFFF)));
    put16(out + 4, uint16_t(perCluster));
    put16(out + 6, uint16_t(kSector));
    return {true, kErrNone, 8};
}

FileService::Reply FileService::setAttr(const Params& in)
{
    std::string path;
    if (!in.has(2) || !in.string(2, path))
        return {true, kErrInvalidParameter, 0};
    const uint16_t attributes = in.u16(0) & 0x37;
    HostPath h;
    if (const uint16_t result = resolveExisting(path, h); result != kErrNone)
        return {true, result, 0};
    if (S_ISDIR(h.st.st_mode))
        return {};
    mode_t mode = h.st.st_mode & 07777;
    if (attributes & 0x01)
        mode &= mode_t(~0222);
    else
        mode |= S_IWUSR;
    if (mode != (h.st.st_mode & 07777) && ::chmod(h.host.c_str(), mode) != 0)
        return {true, dosErrorFromErrno(errno), 0};
    return {};
}

FileService::Reply FileService::getAttr(const Params& in, uint8_t* out)
{
    std::string path;
    const bool ok = in.string(0, path);
    put16(out, 0);
    if (!ok)
        return {true, kErrInvalidParameter, 2};
    HostPath h;
    if (const uint16_t result = resolveExisting(path, h); result != kErrNone)
        return {true, result, 2};
    put16(out, PathResolver::attributesOf(h.name, h.st) & 0x37);
    return {true, kErrNone, 2};
}

uint16_t FileService::searchPattern(const std::string& pattern, HostPath& dir, std::vector<DirEntry>& found)
{
    found.clear();
    std::string last;
    const PathError e = paths_.resolveParent(pattern, dir, last);
    if (e != PathError::None)
        return pathError(e);
    if (last.empty())
        return kErrFileNotFound;
    for (DirEntry& entry : paths_.list(dir))
        if (patternMatches(last, entry.shortName, entry.hostName))
            found.push_back(std::move(entry));
    return found.empty() ? uint16_t(kErrFileNotFound) : uint16_t(kErrNone);
}

FileService::Reply FileService::rename(const Params& in)
{
    std::string from;
    std::string to;
    size_t end = 0;
    if (!in.string(0, from, &end) || !in.string(end, to))
        return {true, kErrInvalidParameter, 0};
    normalisePattern(from);
    normalisePattern(to);
    HostPath fromDir;
    std::vector<DirEntry> entries;
    uint16_t result = searchPattern(from, fromDir, entries);
    if (result != kErrNone)
        return {true, result, 0};
    HostPath toDir;
    std::string toPattern;
    const PathError e = paths_.resolveParent(to, toDir, toPattern);
    if (e != PathError::None)
        return {true, pathError(e), 0};
    if (toPattern.empty())
        return {true, kErrInvalidName, 0};
    if (toDir.drive != fromDir.drive)
        return {true, kErrNotSameDevice, 0};

    for (const DirEntry& entry : entries) {
        // Hidden entries are left alone, as DOS does: a pattern must not sweep up files
        // the client cannot even see.
        if (entry.attributes & 0x12)
            continue;
        const std::string name = trimName(applyDestinationPattern(toPattern, entry.shortName));
        if (!isValidNewName(name)) {
            result = kErrInvalidName;
            break;
        }
        const std::string source = PathResolver::join(fromDir.host, entry.hostName);
        std::string existing;
        if (paths_.lookup(toDir.host, name, existing)) {
            // Only a change of case of the entry itself may reuse its own name.
            if (toDir.host != fromDir.host || existing != entry.hostName) {
                result = kErrFileExists;
                break;
            }
            if (existing == name)
                continue;
        }
        const std::string target = PathResolver::join(toDir.host, name);
        // Never replace an existing file: a rename that would overwrite fails instead.
        if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
            int err = errno;
            if (err == EINVAL || err == ENOSYS) {
                struct stat st;
                if (::lstat(target.c_str(), &st) == 0)
                    err = EEXIST;
                else if (::rename(source.c_str(), target.c_str()) == 0)
                    continue;
                else
                    err = errno;
            }
            result = dosErrorFromErrno(err);
            break;
        }
    }
    return {true, result, 0};
}

FileService::Reply FileService::remove(const Params& in)
{
    std::string pattern;
    if (!in.string(0, pattern))
        return {true, kErrInvalidParameter, 0};
    normalisePattern(pattern);
    HostPath dir;
    std::vector<DirEntry> entries;
    uint16_t result = searchPattern(pattern, dir, entries);
    if (result != kErrNone)
        return {true, result, 0};
    for (const DirEntry& entry : entries) {
        // Directories and read-only files are skipped silently; hidden ones too (as DOS
        // does), so "*.*" never removes dot files that the client does not list.
        if (entry.attributes & 0x13)
            continue;
        if (::unlink(PathResolver::join(dir.host, entry.hostName).c_str()) != 0) {
            result = dosErrorFromErrno(errno);
            break;
        }
    }
    return {true, result, 0};
}

void FileService::fillOpenBlock(uint8_t* out, uint16_t number, uint16_t attributes, const struct stat& st)
{
    uint16_t date;
    uint16_t time;
    dosDateTime(st.st_mtime, date, time);
    put16(out, number);
    put16(out + 2, attributes);
    put16(out + 4, time);
    put16(out + 6, date);
    put32(out + 8, uint32_t(uint64_t(st.st_size)));
}

void FileService::fillFindBlock(uint8_t* out, uint32_t id, const DirEntry& e)
{
    uint16_t date;
    uint16_t time;
    dosDateTime(e.st.st_mtime, date, time);
    std::memset(out, 0, kFindBlock);
    put32(out + 1, id);
    out[21] = uint8_t(e.attributes & 0x37);
    put16(out + 22, time);
    put16(out + 24, date);
    put32(out + 26, S_ISDIR(e.st.st_mode) ? 0u : uint32_t(uint64_t(e.st.st_size)));
    const size_t n = std::min<size_t>(e.shortName.size(), 12);
    std::memcpy(out + 30, e.shortName.data(), n);
}

FileService::Reply FileService::takeSlot(int fd, int number, uint16_t owner, int access,
                                         const std::string& name, uint8_t* out)
{
    if (fd < 0)
        return {true, dosErrorFromErrno(errno), 0};
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {true, kErrAccessDenied, 0};
    }
    slots_[number] = Slot{owner, fd, access, st.st_dev, st.st_ino, {}};
    fillOpenBlock(out, uint16_t(number), PathResolver::attributesOf(name, st), st);
    return {true, kErrNone, uint16_t(kOpenBlock)};
}

FileService::Reply FileService::open(const Params& in, uint16_t owner, uint8_t* out)
{
    std::string path;
    if (!in.has(2) || !in.string(2, path))
        return {true, kErrInvalidParameter, 0};
    const uint16_t mode = in.u16(0);
    const int number = freeSlot();
    if (number < 0)
        return {true, kErrAccessDenied, 0};
    HostPath h;
    const PathError e = paths_.resolve(path, h);
    if (e == PathError::BadDrive || e == PathError::Refused)
        return {true, pathError(e), 0};
    if (e != PathError::None || !h.exists)
        return {true, kErrFileNotFound, 0};
    if (S_ISDIR(h.st.st_mode))
        return {true, kErrAccessDenied, 0};
    int access = mode & 3;
    if (access == 3)
        access = 0;
    // The read-only attribute holds for every user, the superuser included, as on DOS.
    if (access != 0 && (PathResolver::attributesOf(h.name, h.st) & 0x01))
        return {true, kErrAccessDenied, 0};
    const int flags = access == 0 ? O_RDONLY : access == 1 ? O_WRONLY : O_RDWR;
    // No link is followed and nothing blocks: a pipe put in the file's place is refused
    // (takeSlot keeps regular files only) instead of hanging the server.
    const int fd = ::open(h.host.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    return takeSlot(fd, number, owner, access, h.name, out);
}

FileService::Reply FileService::create(const Params& in, uint16_t owner, uint8_t* out)
{
    std::string path;
    if (!in.has(2) || !in.string(2, path))
        return {true, kErrInvalidParameter, 0};
    const uint16_t attributes = in.u16(0) & 0x37;
    const int number = freeSlot();
    if (number < 0)
        return {true, kErrAccessDenied, 0};
    HostPath h;
    const PathError e = paths_.resolve(path, h);
    if (e != PathError::None)
        return {true, pathError(e), 0};
    if (h.exists && (S_ISDIR(h.st.st_mode) || (PathResolver::attributesOf(h.name, h.st) & 0x01)))
        return {true, kErrAccessDenied, 0};
    if (!h.exists && !isValidNewName(h.name))
        return {true, kErrInvalidName, 0};
    const mode_t mode = (attributes & 0x01) ? 0444 : 0666;
    const int fd = ::open(h.host.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    return takeSlot(fd, number, owner, 2, h.name, out);
}

FileService::Reply FileService::findFirst(const Params& in, uint16_t owner, uint8_t* out)
{
    std::string pattern;
    if (!in.has(2) || !in.string(2, pattern))
        return {true, kErrNoMoreFiles, 0};
    const uint16_t attributes = in.u16(0);
    if (attributes & 0x08) {
        // Volume label: the drive named by the pattern, or the current one. No search is
        // kept for it, so label queries never pile up.
        int drive = paths_.currentDrive();
        const bool network = pattern.size() >= 2 && (pattern[0] == '\\' || pattern[0] == '/')
            && (pattern[1] == '\\' || pattern[1] == '/');
        if (network)
            return {true, kErrNoMoreFiles, 0};
        if (pattern.size() >= 2 && pattern[1] == ':') {
            const char letter = dosUpper(pattern[0]);
            drive = (letter >= 'A' && letter <= 'Z') ? letter - 'A' : -1;
        }
        const std::string& root = drives_.root(drive);
        if (root.empty())
            return {true, kErrNoMoreFiles, 0};
        const std::string label = volumeLabel(root);
        std::memset(out, 0, kFindBlock);
        std::memcpy(out + 30, label.data(), std::min<size_t>(label.size(), 12));
        return {true, kErrNone, uint16_t(kFindBlock)};
    }
    normalisePattern(pattern);
    HostPath dir;
    Search search;
    if (searchPattern(pattern, dir, search.entries) != kErrNone)
        return {true, kErrNoMoreFiles, 0};
    search.owner = owner;
    search.mask = attributes & 0x37;
    while (search.next < search.entries.size() && !attributesPass(search.entries[search.next].attributes, search.mask))
        ++search.next;
    if (search.next >= search.entries.size())
        return {true, kErrNoMoreFiles, 0};
    search.id = nextSearchId_++;
    const DirEntry& first = search.entries[search.next++];
    fillFindBlock(out, search.id, first);
    searches_.push_front(std::move(search));
    if (searches_.size() > kMaxSearches)
        searches_.pop_back();
    return {true, kErrNone, uint16_t(kFindBlock)};
}

FileService::Reply FileService::findNext(const Params& in, uint8_t* out)
{
    if (!in.has(4))
        return {true, kErrNoMoreFiles, 0};
    const uint32_t id = in.u32(0);
    auto it = std::find_if(searches_.begin(), searches_.end(), [id](const Search& s) { return s.id == id; });
    if (it == searches_.end())
        return {true, kErrNoMoreFiles, 0};
    while (it->next < it->entries.size()) {
        const DirEntry& e = it->entries[it->next++];
        if (attributesPass(e.attributes, it->mask)) {
            fillFindBlock(out, id, e);
            return {true, kErrNone, uint16_t(kFindBlock)};
        }
    }
    searches_.erase(it);
    return {true, kErrNoMoreFiles, 0};
}

FileService::Reply FileService::closeAll(uint16_t owner)
{
    for (Slot& s : slots_) {
        if (s.owner != 0 && (owner == 0 || s.owner == owner)) {
            if (s.fd >= 0)
                ::close(s.fd);
            s = Slot();
        }
    }
    searches_.remove_if([owner](const Search& s) { return owner == 0 || s.owner == owner; });
    return {};
}

FileService::Reply FileService::getCwd(uint8_t* out)
{
    std::string dir = paths_.currentDirectory();
    if (dir.empty())
        return {true, kErrFileNotFound, 0};
    if (dir.size() == 3)
        dir.pop_back();
    if (dir.size() + 1 > 80)
        return {true, kErrFileNotFound, 0};
    std::memcpy(out, dir.c_str(), dir.size() + 1);
    return {true, kErrNone, uint16_t(dir.size() + 1)};
}

} // namespace zelvo::file_server
