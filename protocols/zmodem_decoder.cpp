#include "protocols/zmodem_decoder.h"

#include <algorithm>

#include "platform/hex_digit.h"
#include "protocols/crc.h"
#include "protocols/zmodem_defs.h"

namespace zelvo::protocols {

using namespace zm;

namespace {

bool isFlowByte(uint8_t c)
{
    return c == XON || c == XOFF || c == (XON | 0x80) || c == (XOFF | 0x80);
}

// Bytes that need a closer look inside binary frames: ZDLE and the flow-control bytes.
struct SpecialTable {
    bool special[256]{};
    constexpr SpecialTable()
    {
        special[ZDLE] = true;
        special[XON] = special[XOFF] = special[XON | 0x80] = special[XOFF | 0x80] = true;
    }
};
constexpr SpecialTable kSpecial;

} // namespace

ZmodemDecoder::ZmodemDecoder(size_t maxData)
    : data_(maxData), maxData_(maxData)
{
}

void ZmodemDecoder::expectHeader()
{
    restartData_ = false;
    state_ = State::Seek;
    escPending_ = false;
}

void ZmodemDecoder::expectData(bool crc32)
{
    state_ = State::Data;
    crc32_ = crc32;
    escPending_ = false;
    restartData_ = false;
    dataLen_ = 0;
}

bool ZmodemDecoder::headerCarriesData(uint8_t type) const
{
    return type == ZFILE || type == ZSINIT || type == ZDATA || type == ZCOMMAND || type == ZSTDERR;
}

void ZmodemDecoder::finishHeader(Event& ev)
{
    ev.crc32 = crc32_;
    ev.binary = hdrFormat_ != ZHEX;
    bool ok = false;
    if (hdrFormat_ == ZHEX) {
        uint8_t raw[7];
        for (int i = 0; i < 7; ++i)
            raw[i] = static_cast<uint8_t>((platform::HexDigitValue(hex_[2 * i]) << 4) | platform::HexDigitValue(hex_[2 * i + 1]));
        ok = crc16(raw, 5) == ((raw[5] << 8) | raw[6]);
        ev.type = raw[0];
        for (int i = 0; i < 4; ++i)
            ev.p[i] = raw[1 + i];
    } else if (crc32_) {
        const uint32_t got = hdr_[5] | (hdr_[6] << 8) | (hdr_[7] << 16) | (static_cast<uint32_t>(hdr_[8]) << 24);
        ok = crc32(hdr_, 5) == got;
        ev.type = hdr_[0];
        for (int i = 0; i < 4; ++i)
            ev.p[i] = hdr_[1 + i];
    } else {
        ok = crc16(hdr_, 5) == ((hdr_[5] << 8) | hdr_[6]);
        ev.type = hdr_[0];
        for (int i = 0; i < 4; ++i)
            ev.p[i] = hdr_[1 + i];
    }
    if (!ok || ev.type > kMaxFrameType) {
        ev.kind = EventKind::BadHeader;
        expectHeader();
        return;
    }
    ev.kind = EventKind::Header;
    if (headerCarriesData(ev.type)) {
        expectData(hdrFormat_ == ZHEX ? hexDataCrc32_ : crc32_);
        if (hdrFormat_ == ZHEX) {
            // A hex header ends with CR LF before its subpacket begins.
            state_ = State::HexTail;
            hexTail_ = 0;
        }
    }
    else
        expectHeader();
}

void ZmodemDecoder::finishData(Event& ev)
{
    ev.crc32 = crc32_;
    ev.end = end_;
    bool ok;
    if (crc32_) {
        const uint32_t want = ~crc32Update(crc32Raw(data_.data(), dataLen_, 0xFFFFFFFFu), end_);
        const uint32_t got = crcBytes_[0] | (crcBytes_[1] << 8) | (crcBytes_[2] << 16)
            | (static_cast<uint32_t>(crcBytes_[3]) << 24);
        ok = want == got;
    } else {
        const uint16_t want = crc16Update(crc16(data_.data(), dataLen_), end_);
        ok = want == ((crcBytes_[0] << 8) | crcBytes_[1]);
    }
    if (!ok) {
        ev.kind = EventKind::BadData;
        expectHeader();
        return;
    }
    ev.kind = EventKind::Data;
    if (end_ == ZCRCG || end_ == ZCRCQ) {
        // More subpackets follow; the payload of this one stays readable until the next
        // feed, which starts the next subpacket at the front of the buffer.
        state_ = State::Data;
        escPending_ = false;
        restartData_ = true;
    } else {
        expectHeader();
    }
}

size_t ZmodemDecoder::feed(const uint8_t* bytes, size_t n, Event& ev)
{
    ev.kind = EventKind::None;
    size_t i = 0;
    if (restartData_) {
        // The previous call ended a ZCRCG/ZCRCQ subpacket: the next one starts afresh.
        restartData_ = false;
        dataLen_ = 0;
    }
    while (i < n) {
        // Fast path: plain data bytes of a subpacket, copied until a byte that needs a
        // closer look, the end of the input or the subpacket limit.
        if (state_ == State::Data && !escPending_) {
            uint8_t* out = data_.data();
            size_t len = dataLen_;
            const size_t first = i;
            const size_t stop = i + std::min(n - i, maxData_ - len);
            while (i < stop && !kSpecial.special[bytes[i]])
                out[len++] = bytes[i++];
            dataLen_ = len;
            if (i != first)
                canCount_ = 0;
            if (i >= n)
                break;
            if (len >= maxData_ && !kSpecial.special[bytes[i]]) {
                dataLen_ = 0;
                canCount_ = 0;
                ev.kind = EventKind::TooLong;
                expectHeader();
                return i;
            }
        }
        const uint8_t c = bytes[i++];
        if (c == CAN) {
            if (++canCount_ >= 5) {
                canCount_ = 0;
                ev.kind = EventKind::Cancel;
                expectHeader();
                dataLen_ = 0;
                return i;
            }
        } else {
            canCount_ = 0;
        }
        switch (state_) {
        case State::Seek:
            if (c == ZPAD)
                state_ = State::Pad;
            break;
        case State::Pad:
            if (c == ZDLE)
                state_ = State::PadDle;
            else if (c != ZPAD)
                state_ = State::Seek;
            break;
        case State::PadDle:
            if (c == ZHEX) {
                hdrFormat_ = ZHEX;
                crc32_ = false;
                hexLen_ = 0;
                state_ = State::Hex;
            } else if (c == ZBIN || c == ZBIN32) {
                hdrFormat_ = c;
                crc32_ = c == ZBIN32;
                hdrLen_ = 0;
                hdrNeed_ = crc32_ ? 9 : 7;
                escPending_ = false;
                state_ = State::BinHeader;
            } else if (c == ZPAD) {
                state_ = State::Pad;
            } else if (c != ZDLE) {
                state_ = State::Seek;
            }
            break;
        case State::Hex:
            if (platform::HexDigitValue(c) < 0) {
                ev.kind = EventKind::BadHeader;
                expectHeader();
                return i;
            }
            hex_[hexLen_++] = c;
            if (hexLen_ == 14) {
                finishHeader(ev);
                return i;
            }
            break;
        case State::HexTail:
            if ((c & 0x7F) == '\r' || (c & 0x7F) == '\n') {
                if (++hexTail_ <= 2)
                    break;
            }
            // The subpacket starts with this byte: take it again as data.
            state_ = State::Data;
            if (c == CAN)
                --canCount_;
            --i;
            break;
        case State::BinHeader:
        case State::Data:
        case State::DataCrc: {
            uint8_t value;
            if (escPending_) {
                if (c == ZDLE || isFlowByte(c))
                    break; // ZDLE ZDLE counts toward a cancel; flow bytes are noise
                escPending_ = false;
                if (c >= ZCRCE && c <= ZCRCW) {
                    if (state_ != State::Data) {
                        ev.kind = state_ == State::BinHeader ? EventKind::BadHeader : EventKind::BadData;
                        expectHeader();
                        return i;
                    }
                    end_ = c;
                    crcLen_ = 0;
                    state_ = State::DataCrc;
                    break;
                }
                if (c == ZRUB0)
                    value = 0x7F;
                else if (c == ZRUB1)
                    value = 0xFF;
                else if ((c & 0x60) == 0x40)
                    value = static_cast<uint8_t>(c ^ 0x40);
                else {
                    ev.kind = state_ == State::BinHeader ? EventKind::BadHeader : EventKind::BadData;
                    expectHeader();
                    return i;
                }
            } else if (c == ZDLE) {
                escPending_ = true;
                break;
            } else if (isFlowByte(c)) {
                break;
            } else {
                value = c;
            }
            if (state_ == State::BinHeader) {
                hdr_[hdrLen_++] = value;
                if (hdrLen_ == hdrNeed_) {
                    finishHeader(ev);
                    return i;
                }
            } else if (state_ == State::DataCrc) {
                crcBytes_[crcLen_++] = value;
                if (crcLen_ == (crc32_ ? 4 : 2)) {
                    finishData(ev);
                    return i;
                }
            } else {
                if (dataLen_ >= maxData_) {
                    dataLen_ = 0;
                    ev.kind = EventKind::TooLong;
                    expectHeader();
                    return i;
                }
                data_[dataLen_++] = value;
            }
            break;
        }
        }
    }
    return i;
}

} // namespace zelvo::protocols
