#include "protocols/transfer_summary.h"

#include <cstdio>

namespace zelvo::protocols {

namespace {

// The name without its directory; characters that would act on the terminal are
// shown as '?'.
std::string displayName(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return name;
}

std::string duration(int64_t ms)
{
    char buf[32];
    if (ms < 60000)
        std::snprintf(buf, sizeof buf, "%.1f s", static_cast<double>(ms) / 1000.0);
    else
        std::snprintf(buf, sizeof buf, "%lld:%02lld", static_cast<long long>(ms / 60000),
                      static_cast<long long>(ms / 1000 % 60));
    return buf;
}

std::string rate(uint64_t bytes, int64_t ms)
{
    const double perSecond = ms > 0 ? static_cast<double>(bytes) * 1000.0 / static_cast<double>(ms) : 0.0;
    char buf[32];
    if (perSecond >= 1e6)
        std::snprintf(buf, sizeof buf, "%.2f MB/s", perSecond / 1e6);
    else if (perSecond >= 1e3)
        std::snprintf(buf, sizeof buf, "%.1f kB/s", perSecond / 1e3);
    else
        std::snprintf(buf, sizeof buf, "%.0f B/s", perSecond);
    return buf;
}

std::string files(const TransferRecord& r)
{
    constexpr size_t kNamed = 3;
    std::string s;
    for (size_t i = 0; i < r.files.size() && i < kNamed; ++i)
        s += (i ? ", " : "") + displayName(r.files[i].path);
    if (r.files.size() > kNamed)
        s += " and " + std::to_string(r.files.size() - kNamed) + " more";
    if (r.files.size() > 1)
        s += " (" + std::to_string(r.files.size()) + " files)";
    uint64_t size = 0, moved = 0;
    for (const auto& f : r.files) {
        size += f.size;
        moved += f.bytes;
    }
    return s + ", " + std::to_string(size) + " bytes in " + duration(r.elapsedMs) + ", " + rate(moved, r.elapsedMs);
}

} // namespace

std::string TransferSummary(const TransferRecord& r)
{
    std::string s = std::string("[") + ProtocolName(r.type) + (r.transmit ? " send" : " receive");
    if (r.result == 0) {
        if (r.files.empty())
            return s + ": no files]";
        return s + ": " + files(r) + "]";
    }
    s += " failed: " + ErrorText(r.result);
    if (!r.files.empty())
        s += "; done before: " + files(r);
    return s + "]";
}

} // namespace zelvo::protocols
