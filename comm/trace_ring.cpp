#include "comm/trace_ring.h"

#include "comm/comm_types.h"

#include <cerrno>
#include <cstdio>

namespace zelvo::comm {

int AppendTraceItem(std::string& out, uint8_t byte, bool inHex)
{
    const uint8_t lower = inHex ? 0x21 : 0x20;
    if (byte >= lower && byte <= 0x7E) {
        out += static_cast<char>(byte);
        return 1;
    }
    char buf[8];
    const int n = inHex ? std::snprintf(buf, sizeof buf, "[%02X]", byte)
                        : std::snprintf(buf, sizeof buf, "[%u]", static_cast<unsigned>(byte));
    out.append(buf, static_cast<size_t>(n));
    return n;
}

int TraceRing::Start(uint32_t size)
{
    if (size > MaxTraceSize || size == 0)
        return ecBadArgument;
    if (entries_.size() != size)
        entries_.assign(size, 0);
    index_ = 0;
    wrapped_ = false;
    on_ = true;
    return 0;
}

void TraceRing::Stop()
{
    entries_.clear();
    entries_.shrink_to_fit();
    index_ = 0;
    wrapped_ = false;
    on_ = false;
}

void TraceRing::Clear()
{
    index_ = 0;
    wrapped_ = false;
}

void TraceRing::Add(char kind, uint8_t byte)
{
    if (!on_ || entries_.empty())
        return;
    entries_[index_] = static_cast<uint16_t>((static_cast<uint8_t>(kind) << 8) | byte);
    if (++index_ >= entries_.size()) {
        index_ = 0;
        wrapped_ = true;
    }
}

void TraceRing::AddBlock(char kind, const uint8_t* data, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i)
        Add(kind, data[i]);
}

std::string TraceRing::Render(bool inHex) const
{
    std::string out;
    if (entries_.empty() || (!wrapped_ && index_ == 0))
        return out;
    const uint32_t n = wrapped_ ? static_cast<uint32_t>(entries_.size()) : index_;
    const uint32_t first = wrapped_ ? index_ : 0;
    int lastKind = -1;
    int column = 0;
    std::string item;
    for (uint32_t k = 0; k < n; ++k) {
        const uint16_t e = entries_[(first + k) % entries_.size()];
        const int kind = e >> 8;
        if (kind != lastKind) {
            if (lastKind != -1)
                out += '\n';
            if (kind == 'T')
                out += "Transmit: ";
            else if (kind == 'R')
                out += "Receive: ";
            else {
                out += "Special-";
                out += static_cast<char>(kind);
                out += ": ";
            }
            lastKind = kind;
            column = 0;
        }
        item.clear();
        const int width = AppendTraceItem(item, static_cast<uint8_t>(e & 0xFF), inHex);
        if (column + width >= 79) {
            out += '\n';
            column = 0;
        }
        out += item;
        column += width;
    }
    out += '\n';
    return out;
}

int TraceRing::dump(const std::string& fileName, bool inHex, bool append)
{
    on_ = false;
    const std::string text = Render(inHex);
    int result = 0;
    if (!text.empty()) {
        FILE* f = std::fopen(fileName.c_str(), append ? "ab" : "wb");
        if (!f) {
            result = -errno;
        } else {
            if (std::fwrite(text.data(), 1, text.size(), f) != text.size())
                result = -(errno ? errno : EIO);
            if (std::fclose(f) != 0 && result == 0)
                result = -(errno ? errno : EIO);
        }
    }
    Stop();
    return result;
}

} // namespace zelvo::comm
