#pragma once
// Kermit packets on the wire: the three block checks and the building of normal and
// long packets.
//
//   normal:  [pad] MARK LEN SEQ TYPE DATA CHECK [EOL]        LEN = tochar(2 + n + k)
//   long:    [pad] MARK ' ' SEQ TYPE LENX1 LENX2 HCHECK DATA CHECK [EOL]
//                  LENX = n + k, HCHECK the 6-bit sum of LEN..LENX2
//
// The check (k = 1, 2 or 3 characters) covers everything from LEN to the end of DATA.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelvo::protocols {

class KermitPacket {
public:
    // How the far side wants packets delivered: padding before each one and the
    // character after it.
    struct Framing {
        uint32_t npad = 0;
        uint8_t padc = 0;
        uint8_t eol = '\r';
    };

    // Characters of the block check of type 1, 2 or 3.
    static constexpr size_t checkLength(int checkType) { return checkType == 2 ? 2 : checkType == 3 ? 3 : 1; }
    // Writes the check characters of bytes into out (checkLength of them).
    static void check(int checkType, const uint8_t* bytes, size_t n, uint8_t* out);
    // The 16-bit CRC of the third check type (CCITT, reflected, initial 0).
    static uint16_t crc(const uint8_t* bytes, size_t n, uint16_t crc = 0);
    // The single-character check of type 1.
    static uint8_t check1(uint32_t sum);

    // Appends a whole packet to out. A packet whose LEN would exceed maxNormal (the
    // MAXL in force, at most 94) goes out as a long packet.
    static void build(std::vector<uint8_t>& out, uint8_t seq, uint8_t type, const uint8_t* data, size_t n,
                      int checkType, const Framing& framing, uint32_t maxNormal = 94);
};

} // namespace zelvo::protocols
