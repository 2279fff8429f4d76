#pragma once
// The texts of the status window, computed from the protocol component without any
// window code, so that they can be tested and shown by any front end.

#include <string>

#include "protocols/engine_host.h"

namespace zelvo::protocols {

class Protocol;

struct StatusValues {
    std::string Protocol;
    std::string BlockCheck;
    std::string FileName;
    std::string FileSize;
    std::string BlockSize;
    std::string TotalBlocks;
    std::string BytesTransferred;
    std::string BytesRemaining;
    std::string BlocksTransferred;
    std::string BlocksRemaining;
    std::string BlockErrors;
    std::string TotalErrors;
    std::string EstimatedTime;
    std::string ElapsedTime;
    std::string RemainingTime;
    std::string Throughput;
    std::string Efficiency;
    std::string KermitWindows;
    std::string StatusMsg;
    int Meter = 0; // 0..100
};

// Seconds as m:ss.
std::string MinutesSeconds(uint64_t seconds);
// A file name without its directory; longer than 18 characters, its beginning and "...".
std::string ShortFileName(const std::string& path);

StatusValues ComputeStatusValues(const Protocol& protocol);

} // namespace zelvo::protocols
