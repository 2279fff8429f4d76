#pragma once
// Hex dump rows: the offset, sixteen bytes in hex (a wider gap after the eighth) and the
// bytes as characters, printable ASCII as itself and everything else as a dot:
//
//   00000010  48 65 6C 6C 6F 2C 20 77  6F 72 6C 64 0D 0A        |Hello, world..|
//
// A short last row keeps the character column where full rows have it.

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelvo::terminal {

inline constexpr std::size_t kHexRowBytes = 16;
// Characters of a full row: offset (8 digits at least), two blanks, 16 × 3 + 1 for the
// hex columns, a blank, and the characters between bars.
inline constexpr std::size_t kHexRowWidth = 8 + 2 + 16 * 3 + 1 + 1 + 16 + 2;

// One row for up to 16 bytes starting at offset (offsets past 0xFFFFFFFF take more digits).
std::string hexDumpRow(uint64_t offset, const uint8_t* bytes, std::size_t count);
// Rows for any number of bytes, each ended by a line feed; the first row starts at offset.
std::string hexDump(uint64_t offset, const uint8_t* bytes, std::size_t count);

} // namespace zelvo::terminal
