#pragma once
// Reads a file to send and writes a received file through one 8192-byte buffer, so the
// disk sees whole-buffer reads and writes however small the protocol's blocks are.
// Errors are negative numbers: minus errno, or -101 for a short write.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocols/engine_host.h"

namespace zelvo::protocols {

class FileBuffer {
public:
    static constexpr size_t kSize = 8192;

    FileBuffer();
    ~FileBuffer();
    FileBuffer(const FileBuffer&) = delete;
    FileBuffer& operator=(const FileBuffer&) = delete;

    // Called with true before and false after each write to disk (RTS low for writes).
    std::function<void(bool writing)> onDiskWrite;

    bool isOpen() const { return fd_ >= 0; }

    int openRead(const std::string& path);
    // Bytes copied (less than n only at the end of the file), or a negative code.
    int read(uint64_t offset, uint8_t* out, size_t n);

    // Create truncates; Append and Resume keep the contents and write from offset.
    int openWrite(const std::string& path, OpenMode mode, uint64_t offset);
    int write(uint64_t offset, const uint8_t* data, size_t n);
    // Writes out what is buffered and closes; a non-zero mtime is set as the file's time.
    int close(int64_t mtime = 0);
    // Closes after a failed transfer, keeping the good data received so far so that a
    // later transfer can resume it.
    void abandon();

private:
    int flush();
    int load(uint64_t offset);

    int fd_ = -1;
    bool writing_ = false;
    std::vector<uint8_t> buf_;
    uint64_t start_ = 0;   // file offset of buf_[0]
    size_t used_ = 0;      // valid bytes in buf_
    bool eof_ = false;     // the last load reached the end of the file
};

} // namespace zelvo::protocols
