#pragma once
// Finds a text in a stream of received bytes, as they arrive in runs of any size.
// Matching is exact (case-sensitive); a completed match starts the search afresh, so
// each occurrence is reported once and occurrences do not overlap.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zelvo::script_host {

class TextMatcher {
public:
    // An empty text never matches.
    explicit TextMatcher(std::string text);

    // Offers bytes in order. Returns the number of bytes up to and including the end of
    // the first completed match, or npos when the run completes none (every byte was
    // consumed into the partial match state).
    size_t feed(const uint8_t* data, size_t n);
    void reset() { matched_ = 0; }
    const std::string& text() const { return text_; }

    static constexpr size_t npos = size_t(-1);

private:
    std::string text_;
    std::vector<size_t> fallback_; // longest proper prefix that is also a suffix
    size_t matched_ = 0;
};

} // namespace zelvo::script_host
