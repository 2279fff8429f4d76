#pragma once
// The most recent received bytes, for the hex view, with their offsets counted from the
// first byte the terminal received. It holds at most its capacity; older bytes leave in
// whole rows of 16, so every row kept starts at an offset that is a multiple of 16 and
// lies in one piece of storage.

#include "terminal/hex_dump.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelvo::terminal {

class ByteHistory {
public:
    static constexpr std::size_t kDefaultCapacity = std::size_t(1) << 20;

    // The capacity is rounded up to whole rows (at least one).
    explicit ByteHistory(std::size_t capacity = kDefaultCapacity);

    void append(const uint8_t* data, std::size_t len);

    std::size_t capacity() const { return ring_.size(); }
    std::size_t size() const { return size_; }
    // Bytes received in all, and the offset of the oldest byte still kept.
    uint64_t total() const { return total_; }
    uint64_t firstOffset() const { return total_ - size_; }

    // Rows of the dump, the last one possibly short.
    std::size_t rowCount() const { return (size_ + kHexRowBytes - 1) / kHexRowBytes; }
    uint64_t rowOffset(std::size_t row) const { return firstOffset() + row * kHexRowBytes; }
    // The bytes of a row (0 is the oldest) and their count; 0 for a row past the end.
    std::size_t row(std::size_t row, const uint8_t** bytes) const;
    // The dump text of a row, empty past the end.
    std::string rowText(std::size_t row) const;

private:
    std::vector<uint8_t> ring_;
    std::size_t start_ = 0;
    std::size_t size_ = 0;
    uint64_t total_ = 0;
};

} // namespace zelvo::terminal
