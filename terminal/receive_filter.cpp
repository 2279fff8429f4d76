#include "terminal/receive_filter.h"

#include <string>

namespace zelvo::terminal {

void ReceiveFilter::setTimestamps(TimestampMode mode, bool atLineStart)
{
    if (mode != stamper_.mode()) {
        lineStart_ = atLineStart;
        escape_ = Escape::none;
    }
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
    // Carriage returns at the start of a line are held until the next other byte: an
    // empty "\r\n" line gets its stamp before the CR (where a plain text file shows it),
    // a "\n\r" line after it (where the cursor then is).
    std::size_t heldCr = 0;
    for (std::size_t i = 0; i < len; ++i) {
        const uint8_t b = data[i];
        if (stamping && lineStart_) {
            if (b == '\r') {
                ++heldCr;
                afterCr_ = true;
                escape_ = Escape::none;
                continue;
            }
            if (b != '\n' && beforeText(b)) {
                out.insert(out.end(), heldCr, '\r');
                heldCr = 0;
                out.push_back(b);
                afterCr_ = false;
                continue;
            }
            escape_ = Escape::none;
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

bool ReceiveFilter::beforeText(uint8_t b)
{
    constexpr uint8_t ESC = 0x1B, BEL = 0x07, CAN = 0x18, SUB = 0x1A;
    switch (escape_) {
    case Escape::none:
        if (b == ESC) {
            escape_ = Escape::esc;
            return true;
        }
        // A tab indents the text: the stamp goes before it.
        return (b < 0x20 && b != '\t') || b == 0x7F;
    case Escape::esc:
        if (b == '[')
            escape_ = Escape::csi;
        else if (b == ']' || b == 'P' || b == 'X' || b == '^' || b == '_')
            escape_ = Escape::string;
        else if (b == 'Y')
            escape_ = Escape::vt52Row; // VT52 cursor address: two more bytes follow
        else if (b >= 0x30 || b == CAN || b == SUB)
            escape_ = Escape::none; // a final byte, or the sequence cancelled
        return true;                // intermediate bytes and controls inside it
    case Escape::csi:
        if ((b >= 0x40 && b <= 0x7E) || b == CAN || b == SUB)
            escape_ = Escape::none;
        else if (b == ESC)
            escape_ = Escape::esc;
        return true;
    case Escape::string:
        if (b == BEL || b == CAN || b == SUB)
            escape_ = Escape::none;
        else if (b == ESC)
            escape_ = Escape::stringEsc;
        return true;
    case Escape::stringEsc:
        if (b == '\\') {
            escape_ = Escape::none;
            return true;
        }
        escape_ = Escape::esc;
        return beforeText(b);
    case Escape::vt52Row:
        escape_ = Escape::vt52Column;
        return true;
    case Escape::vt52Column:
        escape_ = Escape::none;
        return true;
    }
    return false;
}

} // namespace zelvo::terminal
