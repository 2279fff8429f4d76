#include "rfs_client.h"

#include "file_server/nerrit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace rfs_test {

uint32_t checkSum(const uint8_t* data, size_t n)
{
    uint32_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

Bytes runEncode(const Bytes& in)
{
    Bytes out;
    size_t i = 0;
    while (i < in.size()) {
        size_t j = i;
        while (j < in.size() && in[j] == in[i] && j - i < 0x7FFF)
            ++j;
        const size_t n = j - i;
        if (n >= 3) {
            out.push_back(0x55);
            if (n < 128) {
                out.push_back(uint8_t(n));
            } else {
                out.push_back(uint8_t(0x80 | (n >> 8)));
                out.push_back(uint8_t(n));
            }
            out.push_back(in[i]);
            i = j;
        } else {
            if (in[i] == 0x55) {
                out.push_back(0x55);
                out.push_back(0x00);
            } else {
                out.push_back(in[i]);
            }
            ++i;
        }
    }
    return out;
}

Bytes runDecode(const Bytes& in)
{
    Bytes out;
    for (size_t i = 0; i < in.size();) {
        if (in[i] != 0x55) {
            out.push_back(in[i++]);
            continue;
        }
        if (i + 1 >= in.size())
            break;
        const uint8_t k = in[i + 1];
        if (k == 0) {
            out.push_back(0x55);
            i += 2;
        } else if (k & 0x80) {
            if (i + 3 >= in.size())
                break;
            out.insert(out.end(), size_t((k & 0x7F) << 8 | in[i + 2]), in[i + 3]);
            i += 4;
        } else {
            if (i + 2 >= in.size())
                break;
            out.insert(out.end(), size_t(k), in[i + 2]);
            i += 3;
        }
    }
    return out;
}

Bytes windowEncode(const Bytes& in)
{
    // Greedy: the longest earlier match of 2 to 17 bytes at each place.
    Bytes out;
    size_t flagAt = 0;
    int item = 8;
    for (size_t r = 0; r < in.size();) {
        if (item == 8) {
            flagAt = out.size();
            out.push_back(0);
            item = 0;
        }
        size_t best = 0;
        size_t bestAt = 0;
        for (size_t p = 0; p < r && p < 4096; ++p) {
            size_t k = 0;
            while (k < 17 && r + k < in.size() && in[p + k] == in[r + k])
                ++k;
            if (k > best) {
                best = k;
                bestAt = p;
            }
        }
        if (best >= 2) {
            out.push_back(uint8_t(bestAt));
            out.push_back(uint8_t(((bestAt >> 4) & 0xF0) | (best - 2)));
            r += best;
        } else {
            out[flagAt] = uint8_t(out[flagAt] | (1 << item));
            out.push_back(in[r++]);
        }
        ++item;
    }
    return out;
}

Bytes windowDecode(const Bytes& in)
{
    Bytes out;
    size_t i = 0;
    while (i < in.size()) {
        const uint8_t flags = in[i++];
        for (int bit = 0; bit < 8 && i < in.size(); ++bit) {
            if (flags & (1 << bit)) {
                out.push_back(in[i++]);
            } else {
                if (i + 1 >= in.size())
                    return out;
                const size_t from = in[i] + size_t(in[i + 1] & 0xF0) * 16;
                const size_t n = (in[i + 1] & 0x0F) + 2;
                i += 2;
                for (size_t k = 0; k < n; ++k)
                    out.push_back(from + k < out.size() ? out[from + k] : 0);
            }
        }
    }
    return out;
}

Bytes le16(uint16_t v)
{
    return {uint8_t(v), uint8_t(v >> 8)};
}

Bytes le32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

Bytes cstr(std::string_view s)
{
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes rawPacket(uint8_t kind, uint8_t sync, uint16_t length, uint16_t lengthCheck, uint16_t code, uint16_t owner,
                uint16_t packing, const Bytes& body)
{
    Bytes p = cat({{kind, sync}, le16(length), le16(lengthCheck), le16(code), le32(0x12345678), le16(owner),
                   le16(packing), body});
    const Bytes crc = le32(checkSum(p.data(), p.size()));
    p.insert(p.end(), crc.begin(), crc.end());
    return p;
}

Bytes encodeRequest(const Request& r)
{
    Bytes body = r.payload;
    switch (r.packing & 0xFF) {
    case 1:
        body = runEncode(body);
        break;
    case 2:
        body = windowEncode(body);
        break;
    case 3:
        body = windowEncode(runEncode(body));
        break;
    default:
        break;
    }
    const uint16_t length = uint16_t(16 + body.size());
    Bytes p = cat({{0x4B, 0x59}, le16(length), le16(uint16_t(~length)), le16(r.code), le32(r.reserved),
                   le16(r.owner), le16(r.packing), body});
    const Bytes crc = le32(checkSum(p.data(), p.size()));
    p.insert(p.end(), crc.begin(), crc.end());
    return p;
}

Reply decodeReply(const uint8_t* d, size_t size)
{
    Reply r;
    r.raw.assign(d, d + size);
    if (size < 20)
        return r;
    r.length = uint16_t(d[2] | d[3] << 8);
    const uint16_t check = uint16_t(d[4] | d[5] << 8);
    r.result = uint16_t(d[6] | d[7] << 8);
    std::memcpy(&r.reserved, d + 8, 4);
    r.reserved = uint32_t(d[8] | d[9] << 8 | d[10] << 16 | uint32_t(d[11]) << 24);
    r.owner = uint16_t(d[12] | d[13] << 8);
    r.packing = uint16_t(d[14] | d[15] << 8);
    if (d[0] != 0x4C || d[1] != 0x59 || uint16_t(~check) != r.length || size_t(r.length) + 4 != size)
        return r;
    const uint32_t crc = uint32_t(d[r.length] | d[r.length + 1] << 8 | d[r.length + 2] << 16
                                  | uint32_t(d[r.length + 3]) << 24);
    if (crc != checkSum(d, r.length))
        return r;
    Bytes body(d + 16, d + r.length);
    switch (r.packing) {
    case 0:
        r.payload = body;
        break;
    case 1:
        r.payload = runDecode(body);
        break;
    case 2:
        r.payload = windowDecode(body);
        break;
    case 3:
        r.payload = runDecode(windowDecode(body));
        break;
    default:
        return r;
    }
    r.ok = true;
    return r;
}

Client::Client() : buffer_(1100, 0xEE) {}

int32_t Client::feed(const Bytes& bytes, int* failAt)
{
    int32_t pos = 0;
    int32_t last = 0;
    if (failAt)
        *failAt = -1;
    for (size_t i = 0; i < bytes.size(); ++i) {
        last = ServerReceive(buffer_.data(), pos, bytes[i]);
        if (last < 0) {
            if (failAt)
                *failAt = int(i);
            return last;
        }
        if (last == 0)
            return i + 1 == bytes.size() ? 0 : -2;
        pos = last;
    }
    return last;
}

Reply Client::dispatch()
{
    const int32_t n = ServerDispatch(buffer_.data());
    EXPECT_GE(n, 20);
    EXPECT_LE(n, 1052);
    if (n < 20 || n > 1052)
        return {};
    return decodeReply(buffer_.data(), size_t(n));
}

Reply Client::call(const Request& r)
{
    const Bytes packet = encodeRequest(r);
    const int32_t rc = feed(packet);
    EXPECT_EQ(rc, 0) << "request code " << r.code << " was not accepted";
    if (rc != 0)
        return {};
    Reply reply = dispatch();
    EXPECT_TRUE(reply.ok) << "reply to code " << r.code << " is malformed";
    EXPECT_EQ(reply.owner, r.owner);
    EXPECT_EQ(reply.reserved, r.reserved);
    return reply;
}

Reply Client::call(uint16_t code, const Bytes& payload, uint16_t owner, uint16_t packing)
{
    Request r;
    r.code = code;
    r.payload = payload;
    r.owner = owner;
    r.packing = packing;
    return call(r);
}

Reply Client::open(std::string_view path, uint16_t mode, uint16_t owner)
{
    return call(14, cat({le16(mode), cstr(path)}), owner);
}

Reply Client::create(std::string_view path, uint16_t attributes, uint16_t owner)
{
    return call(15, cat({le16(attributes), cstr(path)}), owner);
}

Reply Client::close(uint16_t slot)
{
    return call(3, le16(slot));
}

Reply Client::read(uint16_t slot, uint32_t offset, uint16_t count)
{
    return call(5, cat({le16(slot), le32(offset), le16(count)}));
}

Reply Client::write(uint16_t slot, uint32_t offset, const Bytes& data)
{
    return call(6, cat({le16(slot), le32(offset), le16(uint16_t(data.size())), data}));
}

Reply Client::findFirst(std::string_view pattern, uint16_t attributes, uint16_t owner)
{
    return call(16, cat({le16(attributes), cstr(pattern)}), owner);
}

Reply Client::findNext(uint32_t id)
{
    return call(17, le32(id));
}

Found parseFind(const Bytes& p)
{
    Found f;
    if (p.size() != 43)
        return f;
    f.id = uint32_t(p[1] | p[2] << 8 | p[3] << 16 | uint32_t(p[4]) << 24);
    f.attributes = p[21];
    f.time = uint16_t(p[22] | p[23] << 8);
    f.date = uint16_t(p[24] | p[25] << 8);
    f.size = uint32_t(p[26] | p[27] << 8 | p[28] << 16 | uint32_t(p[29]) << 24);
    const char* name = reinterpret_cast<const char*>(p.data() + 30);
    f.name.assign(name, strnlen(name, 13));
    return f;
}

std::vector<std::string> listNames(Client& c, std::string_view pattern, uint16_t attributes)
{
    std::vector<std::string> names;
    Reply r = c.findFirst(pattern, attributes);
    while (r.ok && r.result == 0) {
        const Found f = parseFind(r.payload);
        names.push_back(f.name);
        r = c.findNext(f.id);
        if (names.size() > 10000)
            break;
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace rfs_test
