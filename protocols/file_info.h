#pragma once
// The file information that the batch protocols send ahead of each file (the ZFILE
// subpacket of Zmodem, block 0 of Ymodem): the name with '/' separators, in lower case,
// a NUL, the length in decimal, a space, the modification time in octal seconds since
// 1970 (and, when known, a space and the file mode in octal), a NUL.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocols/engine_host.h"

namespace zelvo::protocols {

// The name a file goes on the line with: '/' separators, the directory dropped or made
// relative, in lower case when asked.
std::string WireFileName(const SendFile& file, bool includeDirectory, bool lowerCase);

std::vector<uint8_t> BatchFileInfo(const SendFile& file, bool includeDirectory);

struct BatchFileHeader {
    std::string name;          // as it came; empty ends a Ymodem batch
    bool haveLength = false;
    uint64_t length = 0;
    int64_t mtime = 0;         // 0 when absent or unreadable
    bool badTime = false;      // a time was given but could not be read
};

// Reads the fields that are there; missing ones stay at their defaults. Never reads
// beyond n bytes.
BatchFileHeader ParseBatchFileInfo(const uint8_t* data, size_t n);

} // namespace zelvo::protocols
