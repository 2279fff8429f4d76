#pragma once
// The blocks of the Xmodem family: a start byte (SOH for 128 data bytes, STX for 1024),
// the block number and its complement, the data padded to the block length, and an
// 8-bit checksum or a CRC-16 sent high byte first. The control characters of the
// handshake and the replies are here too.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelvo::protocols::xm {

constexpr uint8_t SOH = 0x01;
constexpr uint8_t STX = 0x02;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t BS = 0x08;
constexpr uint8_t NAK = 0x15;
constexpr uint8_t CAN = 0x18;
constexpr uint8_t SUB = 0x1A;
// The receiver's start characters besides NAK: CRC wanted, streaming wanted.
constexpr uint8_t kCrcStart = 'C';
constexpr uint8_t kStreamStart = 'G';

constexpr size_t kShortBlock = 128;
constexpr size_t kLongBlock = 1024;

uint8_t Checksum(const uint8_t* data, size_t n);

// Appends a whole block; the data (n bytes, at most length) is padded with fill.
void AppendBlock(std::vector<uint8_t>& out, uint8_t number, const uint8_t* data, size_t n, size_t length,
                 bool crc, uint8_t fill);

// The check of a received block: number and complement agree and the check bytes
// (1 or 2 after the data) match the data.
bool BlockIntact(uint8_t number, uint8_t complement, const uint8_t* data, size_t length, const uint8_t* check,
                 bool crc);

} // namespace zelvo::protocols::xm
