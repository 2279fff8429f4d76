#include "file_server/link_framing.h"

#include "file_server/check_sum.h"
#include "file_server/file_service.h"
#include "file_server/wire.h"

#include <algorithm>
#include <cstring>

namespace zelvo::file_server {

void LinkFraming::reset()
{
    checkSum_ = 0;
    received_ = 0;
    expected_ = -1;
    length_ = 0;
    packing_ = 0;
    stages_ = 0;
    plainCount_ = 0;
    std::fill(std::begin(counters_), std::end(counters_), 0u);
}

int32_t LinkFraming::receive(uint8_t* buffer, int32_t position, int32_t byte)
{
    ++counters_[LinkBytes];
    const uint8_t b = uint8_t(byte);
    if (position == 0) {
        checkSum_ = 0;
        received_ = 0;
        expected_ = 0;
    }
    // The caller owns the position; one that is not the next byte of the packet in
    // progress (negative, skipped ahead, or after the packet ended) is refused, so no byte
    // is ever stored outside the packet.
    if (position < 0 || position != expected_)
        return -1;

    if (size_t(position) < kHeaderSize) {
        buffer[position] = b;
        checkSum_ = checkSumByte(checkSum_, b);
        if (position < int32_t(kHeaderSize) - 1) {
            expected_ = position + 1;
            return position + 1;
        }
        const uint16_t length = get16(buffer + 2);
        const uint16_t check = get16(buffer + 4);
        // A length below the header size cannot describe a packet; it is refused here
        // rather than left to fail at its check-sum bytes.
        if (buffer[0] != kRequestKind || buffer[1] != kSync || uint16_t(~check) != length
            || length > kMaxLength || length < kHeaderSize) {
            ++counters_[PacketErrors];
            expected_ = -1;
            return -1;
        }
        length_ = length;
        packing_ = get16(buffer + 14);
        stages_ = uint8_t(packing_ & 0xFF);
        plainCount_ = 0;
        runDecoder_.reset(kMaxPayload);
        if (stages_ == RfsPackRunWindow)
            windowDecoder_.reset(kMaxPayload, &runDecoder_);
        else
            windowDecoder_.reset(kMaxPayload);
        expected_ = int32_t(kHeaderSize);
        return int32_t(kHeaderSize);
    }

    if (size_t(position) < length_) {
        checkSum_ = checkSumByte(checkSum_, b);
        uint8_t* payload = buffer + kHeaderSize;
        if (packing_ == 0) {
            buffer[position] = b;
            ++plainCount_;
        } else if (stages_ == RfsPackRun) {
            runDecoder_.put(b, payload);
        } else if (stages_ == RfsPackWindow) {
            windowDecoder_.put(b, payload);
        } else if (stages_ == RfsPackRunWindow) {
            windowDecoder_.put(b, scratch_, payload);
        }
        expected_ = position + 1;
        return position + 1;
    }

    // Check-sum bytes, least significant first.
    received_ = (received_ >> 8) | (uint32_t(b) << 24);
    if (size_t(position) < length_ + 3) {
        expected_ = position + 1;
        return position + 1;
    }
    expected_ = -1;
    if (received_ != checkSum_) {
        ++counters_[CheckSumErrors];
        return -1;
    }
    size_t unpacked = 0;
    if (packing_ == 0)
        unpacked = plainCount_;
    else if (stages_ == RfsPackRun || stages_ == RfsPackRunWindow)
        unpacked = runDecoder_.count();
    else if (stages_ == RfsPackWindow)
        unpacked = windowDecoder_.count();
    const uint16_t total = uint16_t(kHeaderSize + unpacked);
    put16(buffer + 2, total);
    counters_[RequestBytesPlain] += total;
    ++counters_[RequestsAccepted];
    return 0;
}

uint16_t LinkFraming::packPayload(uint8_t* payload, size_t& length)
{
    const size_t plain = length;
    if (plain > 8) {
        const int run = runLengthEncode(payload, plain, scratch_);
        if (run >= 0) {
            if (run > 15) {
                const int window = windowEncoder_.encode(scratch_, size_t(run), payload);
                if (window >= 0) {
                    length = size_t(window);
                    return RfsPackRunWindow;
                }
            }
            std::memcpy(payload, scratch_, size_t(run));
            length = size_t(run);
            return RfsPackRun;
        }
    }
    if (plain > 15) {
        const int window = windowEncoder_.encode(payload, plain, scratch_);
        if (window >= 0) {
            std::memcpy(payload, scratch_, size_t(window));
            length = size_t(window);
            return RfsPackWindow;
        }
    }
    return RfsPackNone;
}

int32_t LinkFraming::dispatch(uint8_t* buffer, FileService& service)
{
    uint8_t* payload = buffer + kHeaderSize;
    const uint16_t code = get16(buffer + 6);
    const uint16_t owner = get16(buffer + 12);
    const uint16_t length = get16(buffer + 2);
    // Only the unpacked payload of the accepted request is request data; a length field
    // that says more (a caller that dispatches without a received packet) is cut.
    const size_t requestLength = length < kHeaderSize ? 0 : std::min<size_t>(length - kHeaderSize, kMaxPayload);

    FileService::Reply reply = service.perform(code, owner, payload, requestLength);
    if (!reply.known) {
        ++counters_[PacketErrors];
        reply.result = 5;
        reply.length = 0;
    }
    size_t replyLength = std::min<size_t>(reply.length, kMaxPayload);
    put16(buffer + 6, reply.result);
    counters_[ReplyBytesPlain] += uint32_t(kHeaderSize + replyLength);

    const uint16_t packing = packPayload(payload, replyLength);
    put16(buffer + 14, packing);

    const uint16_t total = uint16_t(kHeaderSize + replyLength);
    buffer[0] = kReplyKind;
    buffer[1] = kSync;
    put16(buffer + 2, total);
    put16(buffer + 4, uint16_t(~total));
    counters_[ReplyBytesPacked] += total;
    put32(buffer + total, checkSum(buffer, total));
    ++counters_[RepliesBuilt];
    return int32_t(total) + 4;
}

void LinkFraming::statistic(uint32_t* record) const
{
    std::copy(std::begin(counters_), std::end(counters_), record);
    record[0] = 1;
    record[1] = 0;
}

} // namespace zelvo::file_server
