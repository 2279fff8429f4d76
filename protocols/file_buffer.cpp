#include "protocols/file_buffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "protocols/protocol_types.h"

namespace zelvo::protocols {

FileBuffer::FileBuffer() : buf_(kSize) {}

FileBuffer::~FileBuffer()
{
    abandon();
}

int FileBuffer::openRead(const std::string& path)
{
    abandon();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        return -errno;
    writing_ = false;
    start_ = 0;
    used_ = 0;
    eof_ = false;
    return 0;
}

int FileBuffer::load(uint64_t offset)
{
    size_t got = 0;
    while (got < kSize) {
        const ssize_t r = ::pread(fd_, buf_.data() + got, kSize - got, static_cast<off_t>(offset + got));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -errno;
        }
        if (r == 0)
            break;
        got += static_cast<size_t>(r);
    }
    start_ = offset;
    used_ = got;
    eof_ = got < kSize;
    return 0;
}

int FileBuffer::read(uint64_t offset, uint8_t* out, size_t n)
{
    if (fd_ < 0 || writing_)
        return -ecFileNotOpen;
    size_t done = 0;
    while (done < n) {
        const uint64_t at = offset + done;
        if (at < start_ || at >= start_ + used_) {
            if (at == start_ + used_ && eof_ && at >= start_)
                break;
            const int rc = load(at);
            if (rc < 0)
                return rc;
            if (used_ == 0)
                break;
        }
        const size_t avail = static_cast<size_t>(start_ + used_ - at);
        const size_t take = std::min(avail, n - done);
        std::memcpy(out + done, buf_.data() + (at - start_), take);
        done += take;
    }
    return static_cast<int>(done);
}

int FileBuffer::openWrite(const std::string& path, OpenMode mode, uint64_t offset)
{
    abandon();
    // A symbolic link at the name is never written through.
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
    if (mode == OpenMode::Create)
        flags |= O_TRUNC;
    fd_ = ::open(path.c_str(), flags, 0666);
    if (fd_ < 0)
        return -errno;
    writing_ = true;
    start_ = mode == OpenMode::Create ? 0 : offset;
    used_ = 0;
    return 0;
}

int FileBuffer::flush()
{
    if (used_ == 0)
        return 0;
    if (onDiskWrite)
        onDiskWrite(true);
    size_t done = 0;
    int rc = 0;
    while (done < used_) {
        const ssize_t w = ::pwrite(fd_, buf_.data() + done, used_ - done, static_cast<off_t>(start_ + done));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            rc = errno == ENOSPC ? -ecDiskWriteShort : -errno;
            break;
        }
        if (w == 0) {
            rc = -ecDiskWriteShort;
            break;
        }
        done += static_cast<size_t>(w);
    }
    if (onDiskWrite)
        onDiskWrite(false);
    start_ += used_;
    used_ = 0;
    return rc;
}

int FileBuffer::write(uint64_t offset, const uint8_t* data, size_t n)
{
    if (fd_ < 0 || !writing_)
        return -ecFileNotOpen;
    while (n > 0) {
        if (offset != start_ + used_ || used_ == kSize) {
            // Data that does not continue the buffered run: write the run out first.
            const int rc = flush();
            if (rc < 0)
                return rc;
            start_ = offset;
        }
        const size_t take = std::min(n, kSize - used_);
        std::memcpy(buf_.data() + used_, data, take);
        used_ += take;
        data += take;
        offset += take;
        n -= take;
    }
    return 0;
}

int FileBuffer::close(int64_t mtime)
{
    if (fd_ < 0)
        return -ecFileNotOpen;
    int rc = writing_ ? flush() : 0;
    if (rc == 0 && writing_ && mtime > 0) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = static_cast<time_t>(mtime);
        times[1].tv_nsec = 0;
        ::futimens(fd_, times);
    }
    if (::close(fd_) != 0 && rc == 0 && writing_)
        rc = -errno;
    fd_ = -1;
    used_ = 0;
    return rc;
}

void FileBuffer::abandon()
{
    if (fd_ >= 0) {
        if (writing_)
            flush();
        ::close(fd_);
        fd_ = -1;
    }
    used_ = 0;
}

} // namespace zelvo::protocols
