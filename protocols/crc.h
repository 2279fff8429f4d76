#pragma once
// Block checks of the transfer protocols: the XMODEM CRC-16 (polynomial 0x1021, MSB
// first, initial 0) and the common reflected CRC-32 (polynomial 0xEDB88320), both
// table-driven one byte at a time.

#include <array>
#include <cstddef>
#include <cstdint>

namespace zelvo::protocols {

extern const std::array<uint16_t, 256> kCrc16Table;
extern const std::array<uint32_t, 256> kCrc32Table;

inline uint16_t crc16Update(uint16_t crc, uint8_t byte)
{
    return static_cast<uint16_t>(kCrc16Table[((crc >> 8) ^ byte) & 0xFF] ^ (crc << 8));
}

inline uint32_t crc32Update(uint32_t crc, uint8_t byte)
{
    return kCrc32Table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

uint16_t crc16(const uint8_t* data, size_t n, uint16_t crc = 0);
// Raw register update: start with 0xFFFFFFFF and invert at the end for the usual value.
uint32_t crc32Raw(const uint8_t* data, size_t n, uint32_t crc);
// The finished CRC-32 of a buffer (initial 0xFFFFFFFF, final inversion).
uint32_t crc32(const uint8_t* data, size_t n);

} // namespace zelvo::protocols
