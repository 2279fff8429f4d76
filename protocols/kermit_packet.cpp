#include "protocols/kermit_packet.h"

#include <algorithm>
#include <array>

#include "protocols/kermit_defs.h"

namespace zelvo::protocols {

using namespace kermit;

namespace {

constexpr std::array<uint16_t, 256> makeCrcTable()
{
    std::array<uint16_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0x8408u : c >> 1;
        t[i] = static_cast<uint16_t>(c);
    }
    return t;
}

constexpr std::array<uint16_t, 256> kCrcTable = makeCrcTable();

} // namespace

uint16_t KermitPacket::crc(const uint8_t* bytes, size_t n, uint16_t crc)
{
    for (size_t i = 0; i < n; ++i)
        crc = static_cast<uint16_t>(kCrcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8));
    return crc;
}

uint8_t KermitPacket::check1(uint32_t sum)
{
    return tochar((sum + ((sum & 0xC0) >> 6)) & 0x3F);
}

void KermitPacket::check(int checkType, const uint8_t* bytes, size_t n, uint8_t* out)
{
    if (checkType == 3) {
        const uint16_t c = crc(bytes, n);
        out[0] = tochar((c >> 12) & 0x0F);
        out[1] = tochar((c >> 6) & 0x3F);
        out[2] = tochar(c & 0x3F);
        return;
    }
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += bytes[i];
    if (checkType == 2) {
        out[0] = tochar((sum >> 6) & 0x3F);
        out[1] = tochar(sum & 0x3F);
    } else {
        out[0] = check1(sum);
    }
}

void KermitPacket::build(std::vector<uint8_t>& out, uint8_t seq, uint8_t type, const uint8_t* data, size_t n,
                         int checkType, const Framing& framing, uint32_t maxNormal)
{
    const size_t k = checkLength(checkType);
    out.insert(out.end(), framing.npad, framing.padc);
    out.push_back(MARK);
    const size_t start = out.size();
    if (n + 2 + k <= std::min(maxNormal, kMaxNormalLength)) {
        out.push_back(tochar(static_cast<uint32_t>(n + 2 + k)));
        out.push_back(tochar(seq));
        out.push_back(type);
    } else {
        const uint32_t lenx = static_cast<uint32_t>(n + k);
        out.push_back(tochar(0));
        out.push_back(tochar(seq));
        out.push_back(type);
        out.push_back(tochar(lenx / 95));
        out.push_back(tochar(lenx % 95));
        uint32_t sum = 0;
        for (size_t i = start; i < out.size(); ++i)
            sum += out[i];
        out.push_back(check1(sum));
    }
    out.insert(out.end(), data, data + n);
    uint8_t c[3];
    check(checkType, out.data() + start, out.size() - start, c);
    out.insert(out.end(), c, c + k);
    out.push_back(framing.eol);
}

} // namespace zelvo::protocols
