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

// What the texts are computed from.
struct StatusInputs {
    TransferState state;
    TProtocolType type = ptNoProtocol;
    uint32_t baud = 0;            // bits per second, 0 when unknown
    bool nominalRate = false;     // the rate paces nothing (a pseudo-terminal)
    bool transmitting = false;
    uint32_t overhead = 0;
    uint32_t turnDelayMs = 0;
    uint32_t kermitWindows = 0;
    int64_t nowMs = 0;
};

// On a line with a real rate the estimates come from that rate and the protocol's
// overheads, and the efficiency is the throughput against the rate. Where the rate is
// only nominal they come from the measured throughput and the bytes that crossed the
// line, and are left empty until a second has passed. The efficiency never exceeds 100%.
StatusValues ComputeStatusValues(const StatusInputs& in);
StatusValues ComputeStatusValues(const Protocol& protocol);

} // namespace zelvo::protocols
