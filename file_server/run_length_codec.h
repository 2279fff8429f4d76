#pragma once
// The run-length stage of the link's payload packing. The marker byte 0x55 introduces
// every encoded item:
//   0x55 0x00         one byte 0x55
//   0x55 k v          k copies of v (1 <= k <= 0x7F)
//   0x55 h l v        ((h & 0x7F) * 256 + l) copies of v (h has its top bit set)
// Any other byte stands for itself.

#include <cstddef>
#include <cstdint>

namespace zelvo::file_server {

// Decodes one byte at a time, keeping its state between bytes, and stores at most `limit`
// output bytes; what lies beyond the limit is dropped without an error.
class RunLengthDecoder {
public:
    void reset(size_t limit);
    // Feeds one encoded byte; decoded bytes are written at out[count()] onward.
    void put(uint8_t b, uint8_t* out);
    size_t count() const { return count_; }

private:
    void emit(uint8_t v, unsigned n, uint8_t* out);

    enum State : uint8_t { Plain, AfterMarker, AfterHighCount, ExpectValue };
    State state_ = Plain;
    unsigned run_ = 0;
    size_t count_ = 0;
    size_t limit_ = 0;
};

// Encodes n bytes into out (room for n + 4 bytes). Returns the encoded length, or -1 when
// the encoded form would not be shorter than the input (the encoder gives up).
int runLengthEncode(const uint8_t* in, size_t n, uint8_t* out);

} // namespace zelvo::file_server
