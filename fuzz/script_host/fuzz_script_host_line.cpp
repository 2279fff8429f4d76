// Received bytes in runs of any size: the text matcher must find exactly what a plain
// search of the whole stream finds, and the plain-text view must never let a control
// character or an escape through.
//
// Input: byte 0 = length of the text looked for (mod 32), byte 1 = run length seed,
// then the text, then the stream.

#include "script_host/plain_text_filter.h"
#include "script_host/text_matcher.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace zelvo::script_host;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t textLength = std::min<size_t>(data[0] % 32, size - 2);
    const size_t run = size_t(data[1] % 17) + 1;
    const std::string text(reinterpret_cast<const char*>(data + 2), textLength);
    const uint8_t* stream = data + 2 + textLength;
    const size_t n = size - 2 - textLength;

    TextMatcher matcher(text);
    PlainTextFilter filter;
    std::string plain;
    size_t consumed = 0;
    size_t matchEnd = std::string::npos;
    for (size_t at = 0; at < n; at += run) {
        const size_t len = std::min(run, n - at);
        filter.feed(stream + at, len, plain);
        if (matchEnd == std::string::npos) {
            const size_t hit = matcher.feed(stream + at, len);
            if (hit != TextMatcher::npos) {
                if (hit == 0 || hit > len)
                    std::abort();
                matchEnd = at + hit;
            }
        }
        consumed = at + len;
    }
    const std::string all(reinterpret_cast<const char*>(stream), consumed);
    const size_t found = text.empty() ? std::string::npos : all.find(text);
    const size_t expected = found == std::string::npos ? std::string::npos : found + text.size();
    if (expected != matchEnd)
        std::abort();
    for (char c : plain) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\n' && c != '\t') || u == 0x7F)
            std::abort();
    }
    return 0;
}
