#pragma once
// What the Zmodem sender and receiver share: the frame encoder and decoder and the
// cancel sequence.

#include <cstdint>
#include <vector>

#include "protocols/protocol_engine.h"
#include "protocols/zmodem_decoder.h"
#include "protocols/zmodem_encoder.h"

namespace zelvo::protocols {

class ZmodemEngine : public ProtocolEngine {
public:
    // Subpacket sizes: 1024 normally, 8192 in 8K mode; errors halve it down to 256.
    static constexpr uint32_t kBlockLength = 1024;
    static constexpr uint32_t kBlockLength8K = 8192;
    static constexpr uint32_t kMinBlockLength = 256;
    // Consecutive bad subpackets or data time-outs after which the receiver gives up;
    // a line that fails twenty times in a row at the same spot will not recover.
    static constexpr uint32_t kMaxErrors = 20;

    ZmodemEngine(EngineHost& host, const EngineSettings& settings);

    uint32_t fullBlockLength() const { return settings_.Zmodem8K ? kBlockLength8K : kBlockLength; }

protected:
    // Queue frames into out_ with these, then pump() them to the port.
    void sendHex(uint8_t type, const std::array<uint8_t, 4>& p);
    void sendHex(uint8_t type, uint32_t pos) { sendHex(type, ZmodemEncoder::position(pos)); }
    void sendBin(uint8_t type, const std::array<uint8_t, 4>& p);
    void outputDiscarded() override { enc_.resetLastByte(); }
    // Eight CAN followed by eight backspaces.
    std::vector<uint8_t> cancelSequence() const override;
    // Line-end and flow-control bytes that trail a hex header: n of data[0..n) are.
    static size_t headerTail(const uint8_t* data, size_t n);

    ZmodemEncoder enc_;
    ZmodemDecoder dec_;
};

} // namespace zelvo::protocols
