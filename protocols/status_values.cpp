#include "protocols/status_values.h"

#include <algorithm>
#include <cstdio>

#include "platform/clock.h"
#include "protocols/protocol.h"

namespace zelvo::protocols {

std::string MinutesSeconds(uint64_t seconds)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
    return buf;
}

std::string ShortFileName(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() > 18)
        name = name.substr(0, 15) + "...";
    return name;
}

StatusValues ComputeStatusValues(const Protocol& p)
{
    StatusInputs in;
    in.state = p.Snapshot();
    in.type = p.ProtocolType();
    in.baud = p.baudRate();
    in.nominalRate = p.NominalRate();
    in.transmitting = p.Transmitting();
    in.overhead = p.Overhead();
    in.turnDelayMs = p.TurnDelay();
    in.kermitWindows = p.KermitWindowsUsed();
    in.nowMs = platform::monotonicMs();
    return ComputeStatusValues(in);
}

StatusValues ComputeStatusValues(const StatusInputs& in)
{
    const TransferState& st = in.state;
    StatusValues v;
    const uint64_t block = st.BlockLength;
    v.Protocol = ProtocolName(in.type);
    v.BlockCheck = BlockCheckName(st.BlockCheck);
    v.FileName = ShortFileName(st.PathName);
    v.FileSize = std::to_string(st.FileLength);
    v.BlockSize = std::to_string(block);
    v.TotalBlocks = block ? std::to_string(st.FileLength / block) : "0";
    v.BytesTransferred = std::to_string(st.BytesTransferred);
    v.BytesRemaining = std::to_string(st.BytesRemaining);
    v.BlocksTransferred = block ? std::to_string(st.BytesTransferred / block) : "0";
    v.BlocksRemaining = block ? std::to_string((st.BytesRemaining + block - 1) / block) : "0";
    v.BlockErrors = std::to_string(st.BlockErrors);
    v.TotalErrors = std::to_string(st.TotalErrors);
    const int64_t elapsedMs = st.fileStartMs ? in.nowMs - st.fileStartMs : 0;
    const uint64_t elapsedSecs = elapsedMs > 0 ? static_cast<uint64_t>(elapsedMs / 1000) : 0;
    v.ElapsedTime = MinutesSeconds(elapsedSecs);
    const uint64_t moved = st.BytesTransferred > st.InitialPosition ? st.BytesTransferred - st.InitialPosition : 0;
    double throughput = 0;
    if (elapsedMs >= 1000)
        throughput = static_cast<double>(moved) / (static_cast<double>(elapsedMs) / 1000.0);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%5.0f CPS", throughput);
    v.Throughput = buf;
    double efficiency = 0;
    bool efficiencyKnown = true;
    if (!in.nominalRate) {
        v.EstimatedTime = MinutesSeconds(EstimateSecs(st.FileLength, in.baud, st.BlockLength, in.overhead, in.turnDelayMs));
        v.RemainingTime = MinutesSeconds(EstimateSecs(st.BytesRemaining, in.baud, st.BlockLength, in.overhead, in.turnDelayMs));
        efficiency = in.baud ? throughput / (in.baud / 10.0) * 100.0 : 0.0;
    } else {
        // Nothing paces the line: what it carries is measured.
        if (throughput >= 1) {
            v.EstimatedTime = MinutesSeconds(static_cast<uint64_t>(static_cast<double>(st.FileLength) / throughput));
            v.RemainingTime = MinutesSeconds(static_cast<uint64_t>(static_cast<double>(st.BytesRemaining) / throughput));
        }
        const uint64_t wire = in.transmitting ? st.LineBytesOut : st.LineBytesIn;
        efficiencyKnown = elapsedMs >= 1000 && wire > 0 && moved > 0;
        if (efficiencyKnown)
            efficiency = static_cast<double>(moved) / static_cast<double>(wire) * 100.0;
    }
    efficiency = std::min(efficiency, 100.0);
    if (efficiencyKnown) {
        std::snprintf(buf, sizeof buf, "%3.0f%%", efficiency);
        v.Efficiency = buf;
    }
    v.KermitWindows = std::to_string(in.kermitWindows);
    v.StatusMsg = StatusMessage(st.ProtocolStatus);
    v.Meter = st.FileLength ? static_cast<int>(std::min<uint64_t>(st.BytesTransferred * 100 / st.FileLength, 100)) : 0;
    return v;
}

} // namespace zelvo::protocols
