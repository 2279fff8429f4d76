#include "protocols/crc.h"

#include <array>

namespace zelvo::protocols {

namespace {

constexpr std::array<uint16_t, 256> makeCrc16Table()
{
    std::array<uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t c = static_cast<uint16_t>(i << 8);
        for (int k = 0; k < 8; ++k)
            c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : (c << 1));
        t[i] = c;
    }
    return t;
}

constexpr std::array<uint32_t, 256> makeCrc32Table()
{
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : (c >> 1);
        t[i] = c;
    }
    return t;
}

} // namespace

constinit const std::array<uint16_t, 256> kCrc16Table = makeCrc16Table();
constinit const std::array<uint32_t, 256> kCrc32Table = makeCrc32Table();

uint16_t crc16(const uint8_t* data, size_t n, uint16_t crc)
{
    for (size_t i = 0; i < n; ++i)
        crc = crc16Update(crc, data[i]);
    return crc;
}

namespace {

// Eight tables for taking eight bytes per step ("slicing by eight"): the same CRC as the
// byte-at-a-time table, several times faster on the long subpackets of a transfer.
constexpr std::array<std::array<uint32_t, 256>, 8> makeSlicingTables()
{
    std::array<std::array<uint32_t, 256>, 8> t{};
    t[0] = makeCrc32Table();
    for (int k = 1; k < 8; ++k)
        for (int i = 0; i < 256; ++i)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}

constinit const std::array<std::array<uint32_t, 256>, 8> kSlice = makeSlicingTables();

} // namespace

uint32_t crc32Raw(const uint8_t* data, size_t n, uint32_t crc)
{
    while (n >= 8) {
        const uint32_t lo = (data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24)) ^ crc;
        const uint32_t hi = data[4] | (data[5] << 8) | (data[6] << 16) | (static_cast<uint32_t>(data[7]) << 24);
        crc = kSlice[7][lo & 0xFF] ^ kSlice[6][(lo >> 8) & 0xFF] ^ kSlice[5][(lo >> 16) & 0xFF] ^ kSlice[4][lo >> 24]
            ^ kSlice[3][hi & 0xFF] ^ kSlice[2][(hi >> 8) & 0xFF] ^ kSlice[1][(hi >> 16) & 0xFF] ^ kSlice[0][hi >> 24];
        data += 8;
        n -= 8;
    }
    for (size_t i = 0; i < n; ++i)
        crc = crc32Update(crc, data[i]);
    return crc;
}

uint32_t crc32(const uint8_t* data, size_t n)
{
    return ~crc32Raw(data, n, 0xFFFFFFFFu);
}

} // namespace zelvo::protocols
