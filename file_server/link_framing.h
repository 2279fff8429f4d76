#pragma once
// Packet framing of the file server link: assembles a request byte by byte straight into
// the caller's buffer, checks its header and check sum, undoes the payload packing as the
// bytes arrive, and turns the request into a framed, packed reply in the same buffer.
//
// Packet layout (little-endian): kind 'K' (request) or 'L' (reply), sync 'Y', length
// (header plus payload as sent), its complement, code, 4 reserved bytes, owner, packing,
// then the payload and a 4-byte check sum over everything before it.

#include "file_server/run_length_codec.h"
#include "file_server/window_codec.h"

#include <cstddef>
#include <cstdint>

namespace zelvo::file_server {

class FileService;

class LinkFraming {
public:
    static constexpr size_t kHeaderSize = 16;
    static constexpr size_t kMaxLength = 1048;  // header plus payload as sent
    static constexpr size_t kMaxPayload = 1032; // unpacked payload
    static constexpr size_t kBufferSize = 1052; // what a caller's buffer must hold
    static constexpr uint8_t kRequestKind = 0x4B;
    static constexpr uint8_t kReplyKind = 0x4C;
    static constexpr uint8_t kSync = 0x59;

    enum Packing : uint16_t { RfsPackNone = 0, RfsPackRun = 1, RfsPackWindow = 2, RfsPackRunWindow = 3 };

    // Indexes of the traffic counters.
    enum Counter {
        LinkBytes = 2,
        ReplyBytesPlain = 3,
        RequestBytesPlain = 4,
        ReplyBytesPacked = 5,
        RequestsAccepted = 6,
        RepliesBuilt = 7,
        CheckSumErrors = 8,
        PacketErrors = 9,
    };

    // Passes one received byte; returns position + 1 while the packet is incomplete, 0 when
    // it is complete and correct (unpacked in buffer, length rewritten), -1 when refused.
    int32_t receive(uint8_t* buffer, int32_t position, int32_t byte);
    // Performs the request in buffer and leaves the reply there; returns its size.
    int32_t dispatch(uint8_t* buffer, FileService& service);
    // Copies the counters into record[0..9], entry 0 set to 1 and entry 1 to 0.
    void statistic(uint32_t* record) const;

    // Forgets a packet in progress and zeroes the counters (for a fresh start in tests).
    void reset();

private:
    uint16_t packPayload(uint8_t* payload, size_t& length);

    // Receive state of the packet in progress.
    uint32_t checkSum_ = 0;
    uint32_t received_ = 0;   // accumulator of the check-sum bytes
    int32_t expected_ = -1;   // the position this packet expects next; -1 when none
    size_t length_ = 0;       // length field of the accepted header
    uint16_t packing_ = 0;
    uint8_t stages_ = 0;      // low byte of packing_, the stages in use
    size_t plainCount_ = 0;   // payload bytes stored when the packet is not packed
    RunLengthDecoder runDecoder_;
    WindowDecoder windowDecoder_;

    uint32_t counters_[10] = {};

    // Scratch area shared by the unpacking stages and the reply encoders.
    uint8_t scratch_[kMaxLength + 8] = {};
    WindowEncoder windowEncoder_;
};

} // namespace zelvo::file_server
