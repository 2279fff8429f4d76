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

// Encodes greedily: at each place the longest earlier match of 3 to 17 bytes becomes a
// reference, otherwise the byte goes as a literal. Earlier places are found through chains
// of places whose next three bytes hash alike; the chains live in fixed arrays, so nothing
// is allocated per packet, and their walk is bounded so every input costs about the same.
class WindowEncoder {
public:
    static constexpr size_t kMaxInput = 4096;
    static constexpr size_t kMaxMatch = 17;

    // Encodes n bytes (n <= kMaxInput) into out (room for n + 2 bytes). Returns the encoded
    // length, or -1 when the output would not be shorter than the input.
    int encode(const uint8_t* in, size_t n, uint8_t* out);

private:
    static constexpr int kHashBits = 12;
    static constexpr int kMaxChain = 48;

    static unsigned hash(const uint8_t* p) { return ((p[0] << 8) ^ (p[1] << 4) ^ p[2] ^ (p[0] >> 3)) & ((1u << kHashBits) - 1); }
    void insert(const uint8_t* in, size_t n, size_t pos);

    int16_t head_[1 << kHashBits];
    int16_t prev_[kMaxInput];
};

} // namespace zelvo::file_server
