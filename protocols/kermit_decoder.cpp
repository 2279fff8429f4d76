#include "protocols/kermit_decoder.h"

#include <cstring>

#include "protocols/kermit_defs.h"
#include "protocols/kermit_packet.h"

namespace zelvo::protocols {

using namespace kermit;

KermitDecoder::KermitDecoder(size_t maxData) : maxData_(maxData)
{
    buf_.reserve(maxData + kLongHeader);
}

void KermitDecoder::startPacket()
{
    buf_.clear();
    long_ = false;
    state_ = State::Len;
}

size_t KermitDecoder::feed(const uint8_t* data, size_t n, Event& ev)
{
    ev = Event{};
    size_t i = 0;
    while (i < n) {
        if (state_ == State::Hunt) {
            const void* m = std::memchr(data + i, MARK, n - i);
            if (!m)
                return n;
            i = static_cast<size_t>(static_cast<const uint8_t*>(m) - data) + 1;
            startPacket();
            continue;
        }
        if (state_ == State::Body) {
            // Bulk copy up to the end of the packet or the next MARK.
            size_t take = need_ < n - i ? need_ : n - i;
            const void* m = std::memchr(data + i, MARK, take);
            if (m) {
                take = static_cast<size_t>(static_cast<const uint8_t*>(m) - data) - i;
                buf_.insert(buf_.end(), data + i, data + i + take);
                i += take + 1;
                startPacket();
                ev.kind = EventKind::BadPacket;
                return i;
            }
            buf_.insert(buf_.end(), data + i, data + i + take);
            i += take;
            need_ -= take;
            if (need_ == 0) {
                finish(ev);
                return i;
            }
            continue;
        }
        const uint8_t c = data[i++];
        if (c == MARK) {
            // The packet so far was cut short; a new one begins.
            startPacket();
            ev.kind = EventKind::BadPacket;
            return i;
        }
        buf_.push_back(c);
        switch (state_) {
        case State::Len: {
            const uint32_t len = unchar(c);
            if (c < 32 || len > kMaxNormalLength || len == 1 || len == 2) {
                state_ = State::Hunt;
                ev.kind = EventKind::BadPacket;
                return i;
            }
            long_ = len == 0;
            state_ = State::Seq;
            break;
        }
        case State::Seq:
            if (c < 32 || unchar(c) >= kSeqModulus) {
                state_ = State::Hunt;
                ev.kind = EventKind::BadPacket;
                return i;
            }
            state_ = State::Type;
            break;
        case State::Type: {
            const size_t k = KermitPacket::checkLength(c == kSendInit ? 1 : checkType_);
            if (long_) {
                state_ = State::LenX1;
                break;
            }
            body_ = unchar(buf_[0]) - 2;
            if (body_ < k) {
                state_ = State::Hunt;
                ev.kind = EventKind::BadPacket;
                return i;
            }
            need_ = body_;
            state_ = State::Body;
            break;
        }
        case State::LenX1:
            state_ = State::LenX2;
            break;
        case State::LenX2:
            state_ = State::HCheck;
            break;
        case State::HCheck: {
            uint32_t sum = 0;
            for (size_t k = 0; k < 5; ++k)
                sum += buf_[k];
            const size_t k = KermitPacket::checkLength(buf_[2] == kSendInit ? 1 : checkType_);
            if (c != KermitPacket::check1(sum) || buf_[3] < 32 || buf_[4] < 32 || unchar(buf_[3]) > 94 ||
                unchar(buf_[4]) > 94) {
                state_ = State::Hunt;
                ev.kind = EventKind::BadPacket;
                return i;
            }
            body_ = unchar(buf_[3]) * 95 + unchar(buf_[4]);
            if (body_ > maxData_) {
                state_ = State::Hunt;
                ev.kind = EventKind::TooLong;
                return i;
            }
            if (body_ < k) {
                state_ = State::Hunt;
                ev.kind = EventKind::BadPacket;
                return i;
            }
            need_ = body_;
            state_ = State::Body;
            break;
        }
        default:
            break;
        }
    }
    return n;
}

bool KermitDecoder::finish(Event& ev)
{
    state_ = State::Hunt;
    const uint8_t type = buf_[2];
    const int checkType = type == kSendInit ? 1 : checkType_;
    const size_t k = KermitPacket::checkLength(checkType);
    const size_t header = long_ ? 6 : 3;  // LEN SEQ TYPE [LENX1 LENX2 HCHECK]
    const size_t covered = buf_.size() - k;
    uint8_t c[3];
    KermitPacket::check(checkType, buf_.data(), covered, c);
    if (std::memcmp(c, buf_.data() + covered, k) != 0) {
        ev.kind = EventKind::BadPacket;
        return false;
    }
    ev.kind = EventKind::Packet;
    ev.seq = static_cast<uint8_t>(unchar(buf_[1]));
    ev.type = type;
    dataStart_ = header;
    dataLength_ = covered - header;
    return true;
}

} // namespace zelvo::protocols
