#include "protocols/zmodem_engine.h"

#include <algorithm>

#include "protocols/zmodem_defs.h"

namespace zelvo::protocols {

using namespace zm;

ZmodemEngine::ZmodemEngine(EngineHost& host, const EngineSettings& settings)
    : ProtocolEngine(host, settings), dec_(2 * kBlockLength8K)
{
    st_.BlockCheck = bcmCrc32;
    st_.BlockLength = fullBlockLength();
    out_.reserve(4 * kBlockLength8K);
}

void ZmodemEngine::sendHex(uint8_t type, const std::array<uint8_t, 4>& p)
{
    enc_.hexHeader(out_, type, p);
    pump();
}

void ZmodemEngine::sendBin(uint8_t type, const std::array<uint8_t, 4>& p)
{
    enc_.binHeader(out_, type, p);
    pump();
}

size_t ZmodemEngine::headerTail(const uint8_t* data, size_t n)
{
    size_t i = 0;
    while (i < n) {
        const uint8_t c = data[i] & 0x7F;
        if (c != '\r' && c != '\n' && c != XON)
            break;
        ++i;
    }
    return i;
}

std::vector<uint8_t> ZmodemEngine::cancelSequence() const
{
    return {CAN, CAN, CAN, CAN, CAN, CAN, CAN, CAN, BS, BS, BS, BS, BS, BS, BS, BS};
}

} // namespace zelvo::protocols
