#include "terminal/receive_filter.h"

#include <string>

namespace zelvo::terminal {

void ReceiveFilter::setTimestamps(TimestampMode mode, bool atLineStart)
{
    if (mode != stamper_.mode())
        lineStart_ = atLineStart;
    stamper_.setMode(mode);
}

void ReceiveFilter::apply(const uint8_t* data, std::size_t len, std::vector<uint8_t>& out)
{
    if (len == 0)
        return;
    if (passThrough()) {
        out.insert(out.end(), data, data + len);
        afterCr_ = data[len - 1] == '\r';
        return;
    }
    const bool stamping = stamper_.mode() != TimestampMode::tsOff;
    out.reserve(out.size() + len + len / 8);
    // Carriage returns at the start of a line are held until the line's first other
    // byte: an empty "\r\n" line gets its stamp before the CR (where a plain text file
    // shows it), a "\n\r" line after it (where the cursor then is).
    std::size_t heldCr = 0;
    for (std::size_t i = 0; i < len; ++i) {
        const uint8_t b = data[i];
        if (stamping && lineStart_) {
            if (b == '\r') {
                ++heldCr;
                afterCr_ = true;
                continue;
            }
            const std::string s = stamper_.stamp();
            if (b == '\n') {
                out.insert(out.end(), s.begin(), s.end());
                out.insert(out.end(), heldCr, '\r');
            } else {
                out.insert(out.end(), heldCr, '\r');
                out.insert(out.end(), s.begin(), s.end());
            }
            heldCr = 0;
            lineStart_ = false;
        }
        if (b == '\n') {
            if (lfImpliesCr_ && !afterCr_)
                out.push_back('\r');
            lineStart_ = true;
        } else if (b != '\r') {
            lineStart_ = false;
        }
        out.push_back(b);
        afterCr_ = b == '\r';
    }
    // Nothing is held past the end of a read: the cursor goes where the line sends it.
    out.insert(out.end(), heldCr, '\r');
}

} // namespace zelvo::terminal
