#pragma once
// The matcher of one data trigger: up to 21 bytes, compared byte by byte against the
// received stream with several partial matches in flight, so "aab" completes "ab".

#include <array>
#include <cstdint>

namespace zelvo::comm {

struct DataTrigger {
    uint16_t handle = 0;
    int32_t length = 0;               // 0..21
    std::array<int32_t, 22> counts{}; // one partial match per non-zero slot
    bool matched = false;
    bool ignoreCase = false;
    std::array<uint8_t, 21> data{};   // upper case when ignoreCase

    // Sets the string; false when longer than 21 bytes.
    bool assign(const uint8_t* bytes, int len, bool ignoreCaseFlag);
    // Offers one received byte; true when it completes the string.
    bool match(uint8_t byte);
    void reset() { counts.fill(0); matched = false; }
};

} // namespace zelvo::comm
