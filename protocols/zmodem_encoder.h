#pragma once
// Builds Zmodem frames into a byte vector: hex headers, binary headers with CRC-16 or
// CRC-32, and data subpackets, escaping every byte of binary frames with ZDLE.
//
// Escaping: with escapeAll every byte whose bits 0x60 are both clear is escaped;
// otherwise ZDLE, XON, XOFF, DLE and their high-bit forms (0x10 0x11 0x13 0x18 0x90 0x91
// 0x93) are, and a carriage return that directly follows an '@' (either with or without
// the high bit), which protects the link from "@ CR" command sequences of some modems
// and networks. The last byte put on the line is remembered across calls for that rule.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelvo::protocols {

class ZmodemEncoder {
public:
    ZmodemEncoder();

    void setEscapeAll(bool on);
    bool escapeAll() const { return escapeAll_; }
    void setCrc32(bool on) { crc32_ = on; }
    bool crc32() const { return crc32_; }

    // Hex header "**" ZDLE "B" type p0..p3 crc16 CR LF|0x80 [XON]; the hex digits are lower
    // case and the XON is left out after ZACK and ZFIN, as the published description says.
    void hexHeader(std::vector<uint8_t>& out, uint8_t type, const std::array<uint8_t, 4>& p);
    // Binary header with the current check (ZBIN32 with crc32, else ZBIN).
    void binHeader(std::vector<uint8_t>& out, uint8_t type, const std::array<uint8_t, 4>& p);
    // Escaped data, ZDLE, end, escaped check value; an XON follows a ZCRCW end.
    void dataSubpacket(std::vector<uint8_t>& out, const uint8_t* data, size_t n, uint8_t end);
    // The raw bytes, escaped as needed (used by the above; exposed for tests).
    void escapeInto(std::vector<uint8_t>& out, const uint8_t* data, size_t n);
    // Forget the last byte sent, for example after the port's output was discarded.
    void resetLastByte() { last_ = 0; }

    static std::array<uint8_t, 4> position(uint32_t pos);

private:
    void putEscaped(std::vector<uint8_t>& out, uint8_t b);

    bool escapeAll_ = false;
    bool crc32_ = true;
    uint8_t last_ = 0;
    // Per byte: 0 send as is, 1 escape, 2 escape only after an '@'.
    std::array<uint8_t, 256> escape_{};
};

} // namespace zelvo::protocols
