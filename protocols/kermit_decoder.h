#pragma once
// Finds Kermit packets in the bytes from the line. Everything outside a packet
// (terminators, padding, noise) is skipped; a MARK inside a packet means that packet
// was cut short, and collection starts again at the new MARK, so one lost byte costs
// one packet and not the next one too.
//
// The block check expected depends on what has been settled: the engine sets the
// check type, and Send-Init packets are always checked with type 1.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelvo::protocols {

class KermitDecoder {
public:
    enum class EventKind { None, Packet, BadPacket, TooLong };
    struct Event {
        EventKind kind = EventKind::None;
        uint8_t seq = 0;   // 0..63
        uint8_t type = 0;
    };

    // maxData limits DATA plus check of one packet.
    explicit KermitDecoder(size_t maxData = 2048);

    void setCheckType(int type) { checkType_ = type; }
    int checkType() const { return checkType_; }
    void reset() { state_ = State::Hunt; }
    // True while a packet is partly collected.
    bool inPacket() const { return state_ != State::Hunt; }

    // Consumes bytes until one event is complete (or all are used); returns the count
    // consumed. The data of a Packet event stays valid until the next call.
    size_t feed(const uint8_t* data, size_t n, Event& ev);
    const uint8_t* data() const { return buf_.data() + dataStart_; }
    size_t dataLength() const { return dataLength_; }

private:
    enum class State { Hunt, Len, Seq, Type, LenX1, LenX2, HCheck, Body };
    void startPacket();
    bool finish(Event& ev);

    State state_ = State::Hunt;
    int checkType_ = 1;
    size_t maxData_;
    std::vector<uint8_t> buf_;   // LEN through the end of the check
    size_t need_ = 0;            // body bytes (data + check) still to come
    size_t body_ = 0;            // body length of the packet
    size_t dataStart_ = 0;
    size_t dataLength_ = 0;
    bool long_ = false;
};

} // namespace zelvo::protocols
