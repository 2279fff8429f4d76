#pragma once
// The link's check sum: the reflected CRC-32 polynomial 0xEDB88320 with the usual table,
// but started at 0 and never inverted at the end. A packet built with the common CRC-32
// conventions therefore fails the test, which keeps foreign traffic from being accepted.

#include <array>
#include <cstddef>
#include <cstdint>

namespace zelvo::file_server {

namespace detail {
constexpr std::array<uint32_t, 256> makeCheckSumTable()
{
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        t[i] = c;
    }
    return t;
}
} // namespace detail

inline constexpr std::array<uint32_t, 256> kCheckSumTable = detail::makeCheckSumTable();
static_assert(kCheckSumTable[1] == 0x77073096u, "table of the reflected CRC-32 polynomial");

inline uint32_t checkSumByte(uint32_t crc, uint8_t b)
{
    return kCheckSumTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

// Check sum of n bytes, continuing from crc (0 for a new packet).
inline uint32_t checkSum(const uint8_t* data, size_t n, uint32_t crc = 0)
{
    for (size_t i = 0; i < n; ++i)
        crc = checkSumByte(crc, data[i]);
    return crc;
}

} // namespace zelvo::file_server
