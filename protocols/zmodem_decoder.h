#pragma once
// Reads Zmodem frames from the received byte stream: hex and binary headers (CRC-16 or
// CRC-32) and data subpackets with their ZDLE escapes and ends. Garbage between frames
// is skipped; five CAN bytes in a row are reported as a cancel from the far side. The
// decoder never fails and never reads beyond the bytes it is given; a subpacket longer
// than its limit is reported and dropped.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelvo::protocols {

class ZmodemDecoder {
public:
    enum class EventKind : uint8_t {
        None,
        Header,     // a header with a good check value: type, p
        BadHeader,  // a header whose check value or encoding is wrong
        Data,       // a subpacket with a good check value: end, data()
        BadData,    // a subpacket whose check value or escape is wrong
        TooLong,    // a subpacket longer than the limit
        Cancel,     // five CAN bytes in a row
    };
    struct Event {
        EventKind kind = EventKind::None;
        uint8_t type = 0;                 // header type
        std::array<uint8_t, 4> p{};       // header data bytes p0..p3
        uint8_t end = 0;                  // subpacket end (ZCRCE, ZCRCG, ZCRCQ, ZCRCW)
        bool crc32 = false;               // the frame carried a CRC-32
        bool binary = false;              // a binary (not hex) header
        uint32_t position() const
        {
            return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
        }
    };

    explicit ZmodemDecoder(size_t maxData = 16384);

    // Consumes bytes until an event is complete or the input is used up; returns the
    // number of bytes consumed. ev.kind is None when no event completed.
    size_t feed(const uint8_t* bytes, size_t n, Event& ev);

    // Drop any frame in progress and look for the next header.
    void expectHeader();
    // Take what follows as data subpackets with the given check.
    void expectData(bool crc32);
    bool inData() const { return state_ == State::Data || state_ == State::DataCrc || state_ == State::HexTail; }
    // True between frames: no header or subpacket has begun.
    bool idle() const { return state_ == State::Seek; }
    // A subpacket that follows a hex header carries a CRC-16, as the published
    // description says and senders do; the receiver flips this when such a subpacket
    // keeps failing, for senders that use their session's CRC-32 there instead.
    void setHexDataCrc32(bool on) { hexDataCrc32_ = on; }
    bool hexDataCrc32() const { return hexDataCrc32_; }

    // Payload of the last Data event; valid until the next call of feed.
    const uint8_t* data() const { return data_.data(); }
    size_t dataLength() const { return dataLen_; }

private:
    enum class State : uint8_t { Seek, Pad, PadDle, Hex, HexTail, BinHeader, Data, DataCrc };

    bool headerCarriesData(uint8_t type) const;
    void finishHeader(Event& ev);
    void finishData(Event& ev);

    State state_ = State::Seek;
    bool escPending_ = false;  // ZDLE seen inside a binary frame
    bool restartData_ = false; // a ZCRCG/ZCRCQ subpacket was just reported
    int canCount_ = 0;
    bool crc32_ = false;       // check of the frame being read
    bool hexDataCrc32_ = false;
    uint8_t hdrFormat_ = 0;
    uint8_t hex_[14]{};
    int hexLen_ = 0;
    int hexTail_ = 0;          // line-end bytes skipped after a hex header
    uint8_t hdr_[9]{};
    int hdrLen_ = 0;
    int hdrNeed_ = 0;
    std::vector<uint8_t> data_;
    size_t dataLen_ = 0;
    size_t maxData_;
    uint8_t end_ = 0;
    uint8_t crcBytes_[4]{};
    int crcLen_ = 0;
};

} // namespace zelvo::protocols
