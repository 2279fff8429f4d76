#include "protocols/zmodem_encoder.h"

#include <cstring>

#include "protocols/crc.h"
#include "protocols/zmodem_defs.h"

namespace zelvo::protocols {

using namespace zm;

namespace {
constexpr char kHex[] = "0123456789abcdef";

void putHex(std::vector<uint8_t>& out, uint8_t b)
{
    out.push_back(static_cast<uint8_t>(kHex[b >> 4]));
    out.push_back(static_cast<uint8_t>(kHex[b & 15]));
}
} // namespace

ZmodemEncoder::ZmodemEncoder()
{
    setEscapeAll(false);
}

void ZmodemEncoder::setEscapeAll(bool on)
{
    escapeAll_ = on;
    for (int b = 0; b < 256; ++b) {
        uint8_t e = 0;
        if (on && (b & 0x60) == 0)
            e = 1;
        switch (b) {
        case 0x10: case 0x11: case 0x13: case 0x18: case 0x90: case 0x91: case 0x93:
            e = 1;
            break;
        case 0x0D: case 0x8D:
            if (!e)
                e = 2;
            break;
        default:
            break;
        }
        escape_[b] = e;
    }
}

std::array<uint8_t, 4> ZmodemEncoder::position(uint32_t pos)
{
    return {static_cast<uint8_t>(pos), static_cast<uint8_t>(pos >> 8),
            static_cast<uint8_t>(pos >> 16), static_cast<uint8_t>(pos >> 24)};
}

inline void ZmodemEncoder::putEscaped(std::vector<uint8_t>& out, uint8_t b)
{
    const uint8_t e = escape_[b];
    if (e == 0 || (e == 2 && (last_ & 0x7F) != '@')) {
        out.push_back(b);
        last_ = b;
        return;
    }
    out.push_back(ZDLE);
    last_ = static_cast<uint8_t>(b ^ 0x40);
    out.push_back(last_);
}

void ZmodemEncoder::escapeInto(std::vector<uint8_t>& out, const uint8_t* data, size_t n)
{
    // Room for the worst case first, then runs of bytes that need no escape are copied
    // whole: this is the inner loop of every transfer.
    const size_t start = out.size();
    out.resize(start + 2 * n);
    uint8_t* o = out.data() + start;
    uint8_t last = last_;
    size_t i = 0;
    while (i < n) {
        size_t j = i;
        while (j < n && escape_[data[j]] == 0)
            ++j;
        if (j > i) {
            std::memcpy(o, data + i, j - i);
            o += j - i;
            last = data[j - 1];
            i = j;
            if (i == n)
                break;
        }
        const uint8_t b = data[i++];
        if (escape_[b] == 2 && (last & 0x7F) != '@') {
            *o++ = b;
            last = b;
        } else {
            *o++ = ZDLE;
            last = static_cast<uint8_t>(b ^ 0x40);
            *o++ = last;
        }
    }
    last_ = last;
    out.resize(static_cast<size_t>(o - out.data()));
}

void ZmodemEncoder::hexHeader(std::vector<uint8_t>& out, uint8_t type, const std::array<uint8_t, 4>& p)
{
    out.push_back(ZPAD);
    out.push_back(ZPAD);
    out.push_back(ZDLE);
    out.push_back(ZHEX);
    uint16_t crc = crc16Update(0, type);
    putHex(out, type);
    for (uint8_t b : p) {
        putHex(out, b);
        crc = crc16Update(crc, b);
    }
    putHex(out, static_cast<uint8_t>(crc >> 8));
    putHex(out, static_cast<uint8_t>(crc));
    out.push_back('\r');
    out.push_back(0x8A);
    if (type != ZFIN && type != ZACK)
        out.push_back(XON);
    last_ = out.back();
}

void ZmodemEncoder::binHeader(std::vector<uint8_t>& out, uint8_t type, const std::array<uint8_t, 4>& p)
{
    out.push_back(ZPAD);
    out.push_back(ZDLE);
    last_ = ZDLE;
    if (crc32_) {
        out.push_back(ZBIN32);
        last_ = ZBIN32;
        uint32_t crc = crc32Update(0xFFFFFFFFu, type);
        putEscaped(out, type);
        for (uint8_t b : p) {
            putEscaped(out, b);
            crc = crc32Update(crc, b);
        }
        crc = ~crc;
        for (int i = 0; i < 4; ++i)
            putEscaped(out, static_cast<uint8_t>(crc >> (8 * i)));
    } else {
        out.push_back(ZBIN);
        last_ = ZBIN;
        uint16_t crc = crc16Update(0, type);
        putEscaped(out, type);
        for (uint8_t b : p) {
            putEscaped(out, b);
            crc = crc16Update(crc, b);
        }
        putEscaped(out, static_cast<uint8_t>(crc >> 8));
        putEscaped(out, static_cast<uint8_t>(crc));
    }
}

void ZmodemEncoder::dataSubpacket(std::vector<uint8_t>& out, const uint8_t* data, size_t n, uint8_t end)
{
    escapeInto(out, data, n);
    out.push_back(ZDLE);
    out.push_back(end);
    last_ = end;
    if (crc32_) {
        uint32_t crc = ~crc32Update(crc32Raw(data, n, 0xFFFFFFFFu), end);
        for (int i = 0; i < 4; ++i)
            putEscaped(out, static_cast<uint8_t>(crc >> (8 * i)));
    } else {
        uint16_t crc = crc16Update(crc16(data, n), end);
        putEscaped(out, static_cast<uint8_t>(crc >> 8));
        putEscaped(out, static_cast<uint8_t>(crc));
    }
    if (end == ZCRCW) {
        out.push_back(XON);
        last_ = XON;
    }
}

} // namespace zelvo::protocols
