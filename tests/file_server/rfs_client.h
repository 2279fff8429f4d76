#pragma once
// A test client of the file server: builds request packets in any of the four packings
// with encoders of its own, feeds them byte by byte through ServerReceive, dispatches
// them, and checks and unpacks the reply with decoders of its own, so the server's codecs
// are checked against an independent implementation.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rfs_test {

using Bytes = std::vector<uint8_t>;

uint32_t checkSum(const uint8_t* data, size_t n);

// Reference codecs, written plainly for clarity rather than speed.
Bytes runEncode(const Bytes& in);
Bytes runDecode(const Bytes& in);
Bytes windowEncode(const Bytes& in);
Bytes windowDecode(const Bytes& in);

// Payload building blocks.
Bytes le16(uint16_t v);
Bytes le32(uint32_t v);
Bytes cstr(std::string_view s); // the text and its NUL
Bytes cat(std::initializer_list<Bytes> parts);

struct Request {
    uint16_t code = 0;
    Bytes payload;
    uint16_t packing = 0;
    uint16_t owner = 1;
    uint32_t reserved = 0x12345678;
};

// The whole packet as it travels, check sum included.
Bytes encodeRequest(const Request& r);
// A packet with every field given by hand; the check sum is computed unless given.
Bytes rawPacket(uint8_t kind, uint8_t sync, uint16_t length, uint16_t lengthCheck, uint16_t code, uint16_t owner,
                uint16_t packing, const Bytes& body);

struct Reply {
    bool ok = false; // framing, length check and check sum all correct
    uint16_t result = 0;
    uint16_t packing = 0;
    uint16_t owner = 0;
    uint32_t reserved = 0;
    uint16_t length = 0; // length field as sent (packed)
    Bytes payload;       // unpacked
    Bytes raw;           // the bytes sent
};

class Client {
public:
    Client();
    // Feeds bytes from position 0; returns the value of the last ServerReceive call.
    // failAt gets the index of the first byte that returned -1 (or -1).
    int32_t feed(const Bytes& bytes, int* failAt = nullptr);
    // Sends a request and returns the decoded reply (ok false when anything is wrong).
    Reply call(const Request& r);
    Reply call(uint16_t code, const Bytes& payload, uint16_t owner = 1, uint16_t packing = 0);
    // Dispatches what the buffer holds and decodes the reply.
    Reply dispatch();

    uint8_t* buffer() { return buffer_.data(); }

    // Convenience wrappers for the operations.
    Reply open(std::string_view path, uint16_t mode = 2, uint16_t owner = 1);
    Reply create(std::string_view path, uint16_t attributes = 0, uint16_t owner = 1);
    Reply close(uint16_t slot);
    Reply read(uint16_t slot, uint32_t offset, uint16_t count);
    Reply write(uint16_t slot, uint32_t offset, const Bytes& data);
    Reply findFirst(std::string_view pattern, uint16_t attributes = 0, uint16_t owner = 1);
    Reply findNext(uint32_t id);

private:
    std::vector<uint8_t> buffer_;
};

Reply decodeReply(const uint8_t* data, size_t size);

// Fields of a find block.
struct Found {
    uint32_t id = 0;
    uint8_t attributes = 0;
    uint16_t time = 0;
    uint16_t date = 0;
    uint32_t size = 0;
    std::string name;
};
Found parseFind(const Bytes& payload);
// Every name of a search (find-first, then find-next until 18).
std::vector<std::string> listNames(Client& c, std::string_view pattern, uint16_t attributes = 0);

} // namespace rfs_test
