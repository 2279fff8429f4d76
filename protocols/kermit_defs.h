#pragma once
// Constants of the Kermit protocol as published: the printable transforms of numbers,
// packet types, capability bits and the limits this implementation keeps.

#include <cstdint>

namespace zelvo::protocols::kermit {

constexpr uint8_t MARK = 0x01;  // every packet starts with SOH

// Numbers 0..94 travel as the printable characters 32..126; control characters are
// shown as their printable twins by flipping bit 6.
constexpr uint8_t tochar(uint32_t x) { return static_cast<uint8_t>(x + 32); }
constexpr uint32_t unchar(uint8_t c) { return static_cast<uint32_t>(c) - 32u; }
constexpr uint8_t ctl(uint8_t c) { return static_cast<uint8_t>(c ^ 64); }

// A prefix character must be printable and outside the letters and digits, so that it
// cannot be taken for data: 33-62 and 96-126.
constexpr bool validPrefix(uint8_t c) { return (c >= 33 && c <= 62) || (c >= 96 && c <= 126); }

// Packet types.
enum PacketType : uint8_t {
    kSendInit = 'S',
    kAck = 'Y',
    kNak = 'N',
    kFileHeader = 'F',
    kAttributes = 'A',
    kData = 'D',
    kEof = 'Z',
    kBreak = 'B',
    kError = 'E',
};

// Capability bits of the CAPAS field (before tochar); the lowest bit says that another
// capability byte follows.
constexpr uint8_t kCapaLongPackets = 0x02;
constexpr uint8_t kCapaWindows = 0x04;
constexpr uint8_t kCapaMore = 0x01;

// Limits.
constexpr uint32_t kMaxNormalLength = 94;   // the largest value of the LEN field
constexpr uint32_t kMinNormalLength = 20;   // room for a Send-Init and any prefixed byte
constexpr uint32_t kDefaultMaxl = 80;
constexpr uint32_t kMaxLongLength = 1024;
constexpr uint32_t kFallbackLongLength = 500;  // for a peer announcing an unusable length
constexpr uint32_t kMaxWindows = 27;
constexpr uint32_t kSeqModulus = 64;
// Bytes of a packet other than its data and check: MARK LEN SEQ TYPE, plus LENX1 LENX2
// HCHECK in a long packet.
constexpr uint32_t kNormalHeader = 4;
constexpr uint32_t kLongHeader = 7;

} // namespace zelvo::protocols::kermit
