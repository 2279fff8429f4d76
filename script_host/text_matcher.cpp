#include "script_host/text_matcher.h"

namespace zelvo::script_host {

TextMatcher::TextMatcher(std::string text) : text_(std::move(text)), fallback_(text_.size(), 0)
{
    // Knuth-Morris-Pratt table: where a partial match continues after a mismatch.
    for (size_t i = 1, k = 0; i < text_.size(); ++i) {
        while (k > 0 && text_[i] != text_[k])
            k = fallback_[k - 1];
        if (text_[i] == text_[k])
            ++k;
        fallback_[i] = k;
    }
}

size_t TextMatcher::feed(const uint8_t* data, size_t n)
{
    if (text_.empty())
        return npos;
    for (size_t i = 0; i < n; ++i) {
        const char c = char(data[i]);
        while (matched_ > 0 && text_[matched_] != c)
            matched_ = fallback_[matched_ - 1];
        if (text_[matched_] == c)
            ++matched_;
        if (matched_ == text_.size()) {
            matched_ = 0;
            return i + 1;
        }
    }
    return npos;
}

} // namespace zelvo::script_host
