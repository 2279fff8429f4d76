#include "file_server/window_codec.h"

#include "file_server/run_length_codec.h"

#include <algorithm>
#include <iterator>

namespace zelvo::file_server {

void WindowDecoder::reset(size_t limit, RunLengthDecoder* next)
{
    flags_ = 0;
    haveLow_ = false;
    low_ = 0;
    count_ = 0;
    limit_ = limit;
    next_ = next;
}

void WindowDecoder::produce(uint8_t v, uint8_t* out, uint8_t* nextOut)
{
    if (count_ >= limit_)
        return;
    out[count_++] = v;
    if (next_)
        next_->put(v, nextOut);
}

void WindowDecoder::put(uint8_t b, uint8_t* out, uint8_t* nextOut)
{
    if (haveLow_) {
        haveLow_ = false;
        const size_t from = size_t(low_) + size_t(b & 0xF0) * 16;
        const unsigned n = unsigned(b & 0x0F) + 2;
        for (unsigned i = 0; i < n; ++i) {
            // A reference to bytes not produced yet cannot come from a sound encoder; it
            // yields zeros instead of reading outside the output.
            const size_t src = from + i;
            produce(src < count_ ? out[src] : 0, out, nextOut);
        }
        flags_ >>= 1;
        return;
    }
    if (!(flags_ & 0x100)) {
        flags_ = uint16_t(0xFF00 | b);
        return;
    }
    if (flags_ & 1) {
        produce(b, out, nextOut);
        flags_ >>= 1;
    } else {
        low_ = b;
        haveLow_ = true;
    }
}

void WindowEncoder::insert(const uint8_t* in, size_t n, size_t pos)
{
    if (pos + 3 > n)
        return;
    int16_t& h = head_[hash(in + pos)];
    prev_[pos] = h;
    h = int16_t(pos);
}

int WindowEncoder::encode(const uint8_t* in, size_t n, uint8_t* out)
{
    if (n > kMaxInput || n < 2)
        return -1;
    std::fill(std::begin(head_), std::end(head_), int16_t(-1));

    size_t o = 0;
    size_t flagPos = 0;
    out[o++] = 0;
    int bit = 0;
    size_t r = 0;
    while (r < n) {
        if (o > n - 2)
            return -1;
        // Longest earlier match for the bytes at r.
        size_t length = 0;
        size_t from = 0;
        const size_t cap = std::min(kMaxMatch, n - r);
        if (cap >= 3) {
            int chain = kMaxChain;
            for (int16_t c = head_[hash(in + r)]; c >= 0 && chain-- > 0; c = prev_[c]) {
                const uint8_t* a = in + c;
                const uint8_t* b = in + r;
                if (a[length] != b[length] || a[0] != b[0])
                    continue;
                size_t k = 0;
                while (k < cap && a[k] == b[k])
                    ++k;
                if (k > length) {
                    length = k;
                    from = size_t(c);
                    if (k == cap)
                        break;
                }
            }
        }
        size_t covered;
        if (length >= 3) {
            out[o++] = uint8_t(from & 0xFF);
            out[o++] = uint8_t(((from >> 4) & 0xF0) | (length - 2));
            covered = length;
        } else {
            out[flagPos] = uint8_t(out[flagPos] | (1u << bit));
            out[o++] = in[r];
            covered = 1;
        }
        if (++bit == 8) {
            bit = 0;
            flagPos = o;
            out[o++] = 0;
        }
        for (size_t k = 0; k < covered; ++k)
            insert(in, n, r + k);
        r += covered;
    }
    return o >= n ? -1 : int(o);
}

} // namespace zelvo::file_server
