#pragma once
// The one line that records a finished transfer (in the terminal, so that a scrolled-back
// session shows what moved): the protocol and direction, the files, their size, the time
// and the rate, or the error it ended with.
//
//   [Zmodem receive: image.bin, 153677 bytes in 1.2 s, 128.1 kB/s]
//   [Ymodem send: a.bin, b.txt (2 files), 70513 bytes in 0.6 s, 117.5 kB/s]
//   [Xmodem receive failed: Fatal time out]
//   [Zmodem send failed: Cancel requested; done before: a.bin, 1234 bytes in 3.0 s, 411 B/s]

#include <cstdint>
#include <string>
#include <vector>

#include "protocols/protocol_types.h"

namespace zelvo::protocols {

struct TransferRecord {
    struct File {
        std::string path;
        uint64_t bytes = 0;   // what crossed the line (less a resumed beginning)
        uint64_t size = 0;    // the file's length
    };
    TProtocolType type = ptNoProtocol;
    bool transmit = false;
    int result = 0;           // the finish code
    int64_t elapsedMs = 0;
    std::vector<File> files;  // the files that were completed, in order
};

std::string TransferSummary(const TransferRecord& record);

} // namespace zelvo::protocols
