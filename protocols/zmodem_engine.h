#pragma once
// What the Zmodem sender and receiver share: the frame encoder and decoder, the queue of
// encoded bytes waiting for room in the port's output buffer, the cancel sequence and
// the end of a transfer.

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

    bool waitingForOutput() const override { return outPos_ < out_.size(); }
    void cancel(int64_t nowMs) override;

    uint32_t fullBlockLength() const { return settings_.Zmodem8K ? kBlockLength8K : kBlockLength; }

protected:
    // Queue frames into out_ with these, then pump() them to the port.
    void sendHex(uint8_t type, const std::array<uint8_t, 4>& p);
    void sendHex(uint8_t type, uint32_t pos) { sendHex(type, ZmodemEncoder::position(pos)); }
    void sendBin(uint8_t type, const std::array<uint8_t, 4>& p);
    void sendRaw(const uint8_t* data, size_t n);
    // Moves queued bytes into the port as far as it has room; true when all went.
    bool pump();
    // Drops everything not yet written: our queue and the port's output buffer.
    void discardOutput();
    // Line-end and flow-control bytes that trail a hex header: n of data[0..n) are.
    static size_t headerTail(const uint8_t* data, size_t n);

    void setStatus(int status) { st_.ProtocolStatus = status; }
    void countError()
    {
        ++st_.BlockErrors;
        ++st_.TotalErrors;
    }
    // Closes a file left open when the transfer ends early.
    virtual void releaseFile() {}
    // Ends the transfer. A zero code takes the one that belongs to the final status.
    void finish(int code);
    // Sends the cancel sequence and ends with code (status 13 unless code says otherwise).
    void abortWith(int code, int status);

    EngineSettings settings_;
    ZmodemEncoder enc_;
    ZmodemDecoder dec_;
    std::vector<uint8_t> out_;
    size_t outPos_ = 0;
};

} // namespace zelvo::protocols
