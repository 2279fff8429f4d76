#pragma once
// The window stage of the link's payload packing: groups of a flag byte and up to eight
// items. Flag bits are used from the least significant upward: 1 marks a literal byte,
// 0 a two-byte reference (p, q) that copies (q & 0x0F) + 2 bytes from the absolute output
// offset p + (q & 0xF0) * 16, one byte after another, so a reference may overlap the bytes
// it produces.

#include <cstddef>
#include <cstdint>

namespace zelvo::file_server {

class RunLengthDecoder;

// Decodes one byte at a time. Output bytes are stored up to `limit`; when a run-length
// decoder is chained behind, every stored byte is also fed to it at once.
class WindowDecoder {
public:
    void reset(size_t limit, RunLengthDecoder* next = nullptr);
    // out: where this stage stores its output; nextOut: where the chained stage stores.
    void put(uint8_t b, uint8_t* out, uint8_t* nextOut = nullptr);
    size_t count() const { return count_; }

private:
    void produce(uint8_t v, uint8_t* out, uint8_t* nextOut);

    uint16_t flags_ = 0;
    bool haveLow_ = false;
    uint8_t low_ = 0;
    size_t count_ = 0;
    size_t limit_ = 0;
    RunLengthDecoder* next_ = nullptr;
};

// Encodes by searching earlier positions in a binary tree ordered by the (up to) 17 bytes
// that start there. The tree lives in fixed arrays: nothing is allocated per packet.
class WindowEncoder {
public:
    static constexpr size_t kMaxInput = 4096;
    static constexpr size_t kMaxMatch = 17;

    // Encodes n bytes (n <= kMaxInput) into out (room for n + 2 bytes). Returns the encoded
    // length, or -1 when the output would not be shorter than the input.
    int encode(const uint8_t* in, size_t n, uint8_t* out);

private:
    void insert(size_t pos);

    // A walk longer than this stops without inserting: it bounds the time that a
    // pathological input (such as a long ascending sequence) can cost.
    static constexpr int kMaxWalk = 256;

    const uint8_t* in_ = nullptr;
    size_t n_ = 0;
    int root_ = -1;
    size_t matchLength_ = 0;
    size_t matchPos_ = 0;
    int16_t left_[kMaxInput];
    int16_t right_[kMaxInput];
};

} // namespace zelvo::file_server
