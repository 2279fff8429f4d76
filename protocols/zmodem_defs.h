#pragma once
// Constants of the Zmodem protocol as published: frame characters, header types,
// subpacket ends, capability and option bits.

#include <cstdint>

namespace zelvo::protocols::zm {

constexpr uint8_t ZPAD = '*';
constexpr uint8_t ZDLE = 0x18;   // also CAN
constexpr uint8_t ZDLEE = ZDLE ^ 0x40;
constexpr uint8_t ZBIN = 'A';
constexpr uint8_t ZHEX = 'B';
constexpr uint8_t ZBIN32 = 'C';
constexpr uint8_t XON = 0x11;
constexpr uint8_t XOFF = 0x13;
constexpr uint8_t CAN = 0x18;
constexpr uint8_t BS = 0x08;

// Header types.
enum FrameType : uint8_t {
    ZRQINIT = 0,
    ZRINIT = 1,
    ZSINIT = 2,
    ZACK = 3,
    ZFILE = 4,
    ZSKIP = 5,
    ZNAK = 6,
    ZABORT = 7,
    ZFIN = 8,
    ZRPOS = 9,
    ZDATA = 10,
    ZEOF = 11,
    ZFERR = 12,
    ZCRC = 13,
    ZCHALLENGE = 14,
    ZCOMPL = 15,
    ZCAN = 16,
    ZFREECNT = 17,
    ZCOMMAND = 18,
    ZSTDERR = 19,
};
constexpr uint8_t kMaxFrameType = ZSTDERR;

// Subpacket ends (the byte after ZDLE).
constexpr uint8_t ZCRCE = 'h';
constexpr uint8_t ZCRCG = 'i';
constexpr uint8_t ZCRCQ = 'j';
constexpr uint8_t ZCRCW = 'k';
constexpr uint8_t ZRUB0 = 'l';
constexpr uint8_t ZRUB1 = 'm';

// Positions of the flag bytes in a header's four data bytes.
constexpr int ZF0 = 3;
constexpr int ZF1 = 2;
constexpr int ZF2 = 1;
constexpr int ZF3 = 0;
constexpr int ZP0 = 0;
constexpr int ZP1 = 1;

// Receiver capabilities (ZF0 of ZRINIT).
constexpr uint8_t CANFDX = 0x01;
constexpr uint8_t CANOVIO = 0x02;
constexpr uint8_t CANBRK = 0x04;
constexpr uint8_t CANFC32 = 0x20;
constexpr uint8_t ESCCTL = 0x40;
constexpr uint8_t ESC8 = 0x80;

// ZSINIT flags (ZF0).
constexpr uint8_t TESCCTL = 0x40;

// Conversion option (ZF0 of ZFILE).
constexpr uint8_t ZCRESUM = 3;
// Management option (ZF1 of ZFILE): low three bits the rule, 0x80 skip when absent.
constexpr uint8_t ZMSKNOLOC = 0x80;
constexpr uint8_t ZMMASK = 0x07;

} // namespace zelvo::protocols::zm
