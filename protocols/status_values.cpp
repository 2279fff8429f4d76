#include "protocols/status_values.h"

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
    const TransferState st = p.Snapshot();
    StatusValues v;
    const uint64_t block = st.BlockLength;
    v.Protocol = ProtocolName(p.ProtocolType());
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
    v.EstimatedTime = MinutesSeconds(p.EstimateTransferSecs(st.FileLength));
    const int64_t elapsedMs = st.fileStartMs ? platform::monotonicMs() - st.fileStartMs : 0;
    const uint64_t elapsedSecs = elapsedMs > 0 ? static_cast<uint64_t>(elapsedMs / 1000) : 0;
    v.ElapsedTime = MinutesSeconds(elapsedSecs);
    v.RemainingTime = MinutesSeconds(p.EstimateTransferSecs(st.BytesRemaining));
    double throughput = 0;
    if (elapsedMs >= 1000) {
        const uint64_t moved = st.BytesTransferred > st.InitialPosition ? st.BytesTransferred - st.InitialPosition : 0;
        throughput = static_cast<double>(moved) / (static_cast<double>(elapsedMs) / 1000.0);
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%5.0f CPS", throughput);
    v.Throughput = buf;
    const uint32_t baud = p.baudRate();
    const double efficiency = baud ? throughput / (baud / 10.0) * 100.0 : 0.0;
    std::snprintf(buf, sizeof buf, "%3.0f%%", efficiency);
    v.Efficiency = buf;
    v.KermitWindows = std::to_string(p.KermitWindowsUsed());
    v.StatusMsg = StatusMessage(st.ProtocolStatus);
    v.Meter = st.FileLength ? static_cast<int>(std::min<uint64_t>(st.BytesTransferred * 100 / st.FileLength, 100)) : 0;
    return v;
}

} // namespace zelvo::protocols
