#include "file_server/window_codec.h"

#include "file_server/run_length_codec.h"

#include <algorithm>

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

void WindowEncoder::insert(size_t pos)
{
    matchLength_ = 0;
    const size_t cap = std::min(kMaxMatch, n_ - pos);
    if (root_ < 0) {
        root_ = int(pos);
        left_[pos] = right_[pos] = -1;
        return;
    }
    const uint8_t* key = in_ + pos;
    size_t node = size_t(root_);
    for (int walk = 0; walk < kMaxWalk; ++walk) {
        const uint8_t* other = in_ + node;
        size_t k = 0;
        while (k < cap && key[k] == other[k])
            ++k;
        if (k >= matchLength_) {
            matchLength_ = k;
            matchPos_ = node;
        }
        if (k == cap)
            return;
        int16_t& child = key[k] < other[k] ? left_[node] : right_[node];
        if (child < 0) {
            child = int16_t(pos);
            left_[pos] = right_[pos] = -1;
            return;
        }
        node = size_t(child);
    }
}

int WindowEncoder::encode(const uint8_t* in, size_t n, uint8_t* out)
{
    if (n > kMaxInput || n < 2)
        return -1;
    in_ = in;
    n_ = n;
    root_ = -1;

    size_t o = 0;
    size_t flagPos = 0;
    out[o++] = 0;
    int bit = 0;
    size_t r = 0;
    insert(0);
    while (r < n) {
        if (o > n - 2)
            return -1;
        const size_t length = std::min(matchLength_, n - r);
        size_t covered;
        if (length >= 2) {
            out[o++] = uint8_t(matchPos_ & 0xFF);
            out[o++] = uint8_t(((matchPos_ >> 4) & 0xF0) | (length - 2));
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
        for (size_t k = 0; k < covered; ++k) {
            ++r;
            if (r < n)
                insert(r);
        }
    }
    return o >= n ? -1 : int(o);
}

} // namespace zelvo::file_server
