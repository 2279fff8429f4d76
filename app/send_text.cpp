#include "app/send_text.h"

#include <cstdint>

#include "platform/hex_digit.h"

namespace zelvo::app {

namespace {

SendBytes fault(std::string message, std::size_t index)
{
    SendBytes r;
    r.error = std::move(message);
    r.column = index + 1;
    return r;
}

// A character as a message shows it: printable ASCII as itself, others by code.
std::string shown(char c)
{
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F)
        return std::string(1, c);
    static const char kDigits[] = "0123456789ABCDEF";
    return std::string("byte 0x") + kDigits[u >> 4] + kDigits[u & 0x0F];
}

// Length of the UTF-8 sequence starting at text[i], or 0 when it is not one.
std::size_t utf8Length(std::string_view text, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t n = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (lead >= 0xF5 || n == 0 || i + n > text.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
            return 0;
    return n;
}

} // namespace

SendBytes DecodeEscapes(std::string_view text)
{
    SendBytes r;
    r.bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\') {
            r.bytes += c;
            continue;
        }
        if (i + 1 >= text.size())
            return fault("A backslash ends the text; write \\\\ for a backslash", i);
        const char e = text[i + 1];
        switch (e) {
        case 'r': r.bytes += '\r'; break;
        case 'n': r.bytes += '\n'; break;
        case 't': r.bytes += '\t'; break;
        case '\\': r.bytes += '\\'; break;
        case 'x': {
            const int hi = i + 2 < text.size() ? platform::HexDigitValue(text[i + 2]) : -1;
            const int lo = i + 3 < text.size() ? platform::HexDigitValue(text[i + 3]) : -1;
            if (hi < 0 || lo < 0)
                return fault("\\x needs two hex digits (\\x00 to \\xFF)", i);
            r.bytes += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default: {
            const auto u = static_cast<unsigned char>(e);
            const std::string what = u >= 0x20 && u < 0x7F
                                         ? "Unknown escape \\" + std::string(1, e)
                                         : "A backslash before " + shown(e) + " is no escape";
            return fault(what + "; use \\r, \\n, \\t, \\xHH or \\\\", i);
        }
        }
        ++i;
    }
    return r;
}

std::string EncodeEscapes(std::string_view bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '\r': out += "\\r"; continue;
        case '\n': out += "\\n"; continue;
        case '\t': out += "\\t"; continue;
        case '\\': out += "\\\\"; continue;
        default: break;
        }
        if (u >= 0x20 && u < 0x7F) {
            out += c;
        } else if (const std::size_t n = u >= 0x80 ? utf8Length(bytes, i) : 0) {
            out.append(bytes.substr(i, n));
            i += n - 1;
        } else {
            out += "\\x";
            out += kDigits[u >> 4];
            out += kDigits[u & 0x0F];
        }
    }
    return out;
}

SendBytes ParseHexPairs(std::string_view text)
{
    SendBytes r;
    std::size_t i = 0;
    auto separator = [](char c) {
        return c == ' ' || c == '\t' || c == ',' || c == ':' || c == '-';
    };
    while (i < text.size()) {
        if (separator(text[i])) {
            ++i;
            continue;
        }
        const std::size_t group = i;
        if (text[i] == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X'))
            i += 2;
        const std::size_t digits = i;
        while (i < text.size() && !separator(text[i])) {
            if (platform::HexDigitValue(text[i]) < 0)
                return fault("\"" + shown(text[i]) + "\" is not a hex digit", i);
            ++i;
        }
        const std::size_t n = i - digits;
        if (n == 0)
            return fault("0x must be followed by hex digits", group);
        if (n % 2 != 0)
            return fault("\"" + std::string(text.substr(group, i - group)) +
                             "\" has an odd number of hex digits; each byte takes two",
                         group);
        for (std::size_t k = digits; k < i; k += 2)
            r.bytes += static_cast<char>(platform::HexDigitValue(text[k]) * 16 + platform::HexDigitValue(text[k + 1]));
    }
    if (r.bytes.empty())
        return fault("There are no hex pairs to send", 0);
    return r;
}

} // namespace zelvo::app
