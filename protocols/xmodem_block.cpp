#include "protocols/xmodem_block.h"

#include <cstring>

#include "protocols/crc.h"

namespace zelvo::protocols::xm {

uint8_t Checksum(const uint8_t* data, size_t n)
{
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += data[i];
    return static_cast<uint8_t>(sum);
}

void AppendBlock(std::vector<uint8_t>& out, uint8_t number, const uint8_t* data, size_t n, size_t length,
                 bool crc, uint8_t fill)
{
    const size_t start = out.size();
    out.resize(start + 3 + length + (crc ? 2 : 1));
    uint8_t* b = out.data() + start;
    b[0] = length == kShortBlock ? SOH : STX;
    b[1] = number;
    b[2] = static_cast<uint8_t>(~number);
    if (n)
        std::memcpy(b + 3, data, n);
    std::memset(b + 3 + n, fill, length - n);
    if (crc) {
        const uint16_t c = crc16(b + 3, length);
        b[3 + length] = static_cast<uint8_t>(c >> 8);
        b[4 + length] = static_cast<uint8_t>(c);
    } else {
        b[3 + length] = Checksum(b + 3, length);
    }
}

bool BlockIntact(uint8_t number, uint8_t complement, const uint8_t* data, size_t length, const uint8_t* check,
                 bool crc)
{
    if (static_cast<uint8_t>(number ^ complement) != 0xFF)
        return false;
    if (crc)
        return crc16(data, length) == ((check[0] << 8) | check[1]);
    return Checksum(data, length) == check[0];
}

} // namespace zelvo::protocols::xm
