#include "terminal/byte_history.h"

#include <algorithm>
#include <cstring>

namespace zelvo::terminal {

namespace {

std::size_t wholeRows(std::size_t n)
{
    return (n + kHexRowBytes - 1) / kHexRowBytes * kHexRowBytes;
}

} // namespace

ByteHistory::ByteHistory(std::size_t capacity) : ring_(std::max(kHexRowBytes, wholeRows(capacity)))
{
}

void ByteHistory::append(const uint8_t* data, std::size_t len)
{
    const std::size_t cap = ring_.size();
    if (len > cap) {
        // Only the newest capacity's worth can stay. The first byte kept is the first of
        // a row, so the kept rows still start on multiples of 16.
        const uint64_t first = (total_ + len - cap + kHexRowBytes - 1) / kHexRowBytes * kHexRowBytes;
        const std::size_t skip = std::size_t(first - total_);
        start_ = 0;
        size_ = 0;
        total_ = first;
        data += skip;
        len -= skip;
    }
    while (len > 0) {
        if (size_ == cap) {
            const std::size_t drop = std::min(size_, wholeRows(len));
            start_ = (start_ + drop) % cap;
            size_ -= drop;
        }
        const std::size_t end = (start_ + size_) % cap;
        const std::size_t n = std::min({len, cap - size_, cap - end});
        std::memcpy(ring_.data() + end, data, n);
        size_ += n;
        total_ += n;
        data += n;
        len -= n;
    }
}

std::size_t ByteHistory::row(std::size_t row, const uint8_t** bytes) const
{
    const std::size_t at = row * kHexRowBytes;
    if (at >= size_)
        return 0;
    *bytes = ring_.data() + (start_ + at) % ring_.size();
    return std::min(kHexRowBytes, size_ - at);
}

std::string ByteHistory::rowText(std::size_t r) const
{
    const uint8_t* bytes = nullptr;
    const std::size_t n = row(r, &bytes);
    return n ? hexDumpRow(rowOffset(r), bytes, n) : std::string();
}

} // namespace zelvo::terminal
