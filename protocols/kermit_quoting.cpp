#include "protocols/kermit_quoting.h"

#include <algorithm>

#include "protocols/kermit_defs.h"

namespace zelvo::protocols {

using namespace kermit;

KermitQuoting::KermitQuoting(uint8_t ctlOut, uint8_t ctlIn, uint8_t bin, uint8_t rept)
    : ctlOut_(ctlOut), ctlIn_(ctlIn), bin_(bin), rept_(rept)
{
    for (int v = 0; v < 256; ++v) {
        Encoded& e = table_[v];
        e.len = 0;
        uint8_t b = static_cast<uint8_t>(v);
        if (bin_ && (b & 0x80)) {
            e.c[e.len++] = bin_;
            b &= 0x7F;
        }
        const uint8_t low = b & 0x7F;
        if (low < 32 || low == 127) {
            e.c[e.len++] = ctlOut_;
            b = ctl(b);
        } else if (low == ctlOut_ || (bin_ && low == bin_) || (rept_ && low == rept_)) {
            e.c[e.len++] = ctlOut_;
        }
        e.c[e.len++] = b;
    }
}

size_t KermitQuoting::encode(const uint8_t* src, size_t n, uint8_t* dst, size_t cap, size_t& used) const
{
    size_t i = 0, o = 0;
    while (i < n) {
        const uint8_t b = src[i];
        const Encoded& e = table_[b];
        size_t run = 1;
        if (rept_) {
            while (i + run < n && src[i + run] == b && run < kMaxNormalLength)
                ++run;
            // Compression pays when the run costs more than the prefix, count and one copy.
            if (run * e.len <= 2u + e.len)
                run = 1;
        }
        if (run > 1) {
            if (o + 2 + e.len > cap)
                break;
            dst[o++] = rept_;
            dst[o++] = tochar(static_cast<uint32_t>(run));
        } else if (o + e.len > cap) {
            break;
        }
        for (uint8_t k = 0; k < e.len; ++k)
            dst[o++] = e.c[k];
        i += run;
    }
    used = i;
    return o;
}

void KermitQuoting::decode(const uint8_t* s, size_t n, std::vector<uint8_t>& out) const
{
    size_t i = 0;
    while (i < n) {
        uint8_t c = s[i++];
        size_t count = 1;
        if (rept_ && c == rept_) {
            if (i + 1 >= n)
                return;
            const uint8_t k = s[i++];
            count = k >= 32 ? std::min<size_t>(unchar(k), kMaxNormalLength) : 0;
            c = s[i++];
        }
        uint8_t high = 0;
        if (bin_ && c == bin_) {
            if (i >= n)
                return;
            high = 0x80;
            c = s[i++];
        }
        if (c == ctlIn_) {
            if (i >= n)
                return;
            c = s[i++];
            const uint8_t low = c & 0x7F;
            if ((low >= 64 && low <= 95) || low == 63)
                c = ctl(c);
        }
        c |= high;
        out.insert(out.end(), count, c);
    }
}

} // namespace zelvo::protocols
