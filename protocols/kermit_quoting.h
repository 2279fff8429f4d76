#pragma once
// The DATA field of Kermit packets: control-character prefixing, eighth-bit
// prefixing and repeat-count compression, as settled with the other side.
//
// Sending, a byte b becomes [REPT tochar(count)] [QBIN] [QCTL] char, where a control
// character (low seven bits below 32, or DEL) is sent as QCTL ctl(b), and a byte whose
// low seven bits are one of the prefixes in use is sent behind QCTL as it is. With
// eighth-bit prefixing the high bit is taken off and announced by QBIN; without it the
// high bit stays on the character. Receiving undoes this with the other side's QCTL.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelvo::protocols {

class KermitQuoting {
public:
    // ctlOut is our control prefix, ctlIn the other side's; bin and rept are 0 when not
    // in use.
    KermitQuoting(uint8_t ctlOut = '#', uint8_t ctlIn = '#', uint8_t bin = 0, uint8_t rept = 0);

    uint8_t binPrefix() const { return bin_; }
    uint8_t repeatPrefix() const { return rept_; }

    // Encodes from src into dst without exceeding cap characters and without splitting
    // a prefixed byte; returns the characters written and sets used to the source bytes
    // taken.
    size_t encode(const uint8_t* src, size_t n, uint8_t* dst, size_t cap, size_t& used) const;
    // Decodes a DATA field, appending to out. A prefix at the very end has nothing to
    // act on and is dropped.
    void decode(const uint8_t* s, size_t n, std::vector<uint8_t>& out) const;
    // Characters that one byte takes on the line, without repeat compression.
    size_t encodedLength(uint8_t b) const { return table_[b].len; }

private:
    struct Encoded {
        uint8_t len;
        uint8_t c[3];
    };
    uint8_t ctlOut_, ctlIn_, bin_, rept_;
    Encoded table_[256];
};

} // namespace zelvo::protocols
