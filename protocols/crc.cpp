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

uint32_t crc32Raw(const uint8_t* data, size_t n, uint32_t crc)
{
    for (size_t i = 0; i < n; ++i)
        crc = crc32Update(crc, data[i]);
    return crc;
}

uint32_t crc32(const uint8_t* data, size_t n)
{
    return ~crc32Raw(data, n, 0xFFFFFFFFu);
}

} // namespace zelvo::protocols
