#include "terminal/hex_dump.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace zelvo::terminal {

std::string hexDumpRow(uint64_t offset, const uint8_t* bytes, std::size_t count)
{
    static const char kDigits[] = "0123456789ABCDEF";
    count = std::min(count, kHexRowBytes);
    char head[24];
    std::snprintf(head, sizeof head, "%08" PRIX64 "  ", offset);
    std::string row(head);
    row.reserve(kHexRowWidth + 8);
    for (std::size_t i = 0; i < kHexRowBytes; ++i) {
        if (i == 8)
            row += ' ';
        if (i < count) {
            row += kDigits[bytes[i] >> 4];
            row += kDigits[bytes[i] & 0x0F];
            row += ' ';
        } else {
            row += "   ";
        }
    }
    row += " |";
    for (std::size_t i = 0; i < count; ++i)
        row += bytes[i] >= 0x20 && bytes[i] < 0x7F ? char(bytes[i]) : '.';
    row += '|';
    return row;
}

std::string hexDump(uint64_t offset, const uint8_t* bytes, std::size_t count)
{
    std::string out;
    for (std::size_t at = 0; at < count; at += kHexRowBytes) {
        out += hexDumpRow(offset + at, bytes + at, count - at);
        out += '\n';
    }
    return out;
}

} // namespace zelvo::terminal
