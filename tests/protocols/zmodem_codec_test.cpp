// CRC check values, ZDLE escaping rules, and the frame decoder on whole, split, damaged
// and hostile input.

#include <gtest/gtest.h>

#include <string>

#include "fake_host.h"
#include "protocols/crc.h"
#include "protocols/zmodem_decoder.h"
#include "protocols/zmodem_defs.h"
#include "protocols/zmodem_encoder.h"

using namespace zelvo::protocols;
using namespace zelvo::protocols::zm;
using Kind = ZmodemDecoder::EventKind;

namespace {

std::vector<ZmodemDecoder::Event> decodeAll(ZmodemDecoder& dec, const std::vector<uint8_t>& bytes,
                                           size_t chunk, std::vector<std::vector<uint8_t>>* payloads = nullptr)
{
    std::vector<ZmodemDecoder::Event> events;
    for (size_t start = 0; start < bytes.size(); start += chunk) {
        const size_t n = std::min(chunk, bytes.size() - start);
        size_t i = 0;
        while (i < n) {
            ZmodemDecoder::Event ev;
            i += dec.feed(bytes.data() + start + i, n - i, ev);
            if (ev.kind != Kind::None) {
                events.push_back(ev);
                if (payloads)
                    payloads->emplace_back(dec.data(), dec.data() + (ev.kind == Kind::Data ? dec.dataLength() : 0));
            }
        }
    }
    return events;
}

} // namespace

TEST(Crc, StandardCheckValues)
{
    const std::string s = "123456789";
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    EXPECT_EQ(crc16(p, s.size()), 0x31C3);
    EXPECT_EQ(crc32(p, s.size()), 0xCBF43926u);
    EXPECT_EQ(crc32(p, 0), 0u);
    // The eight-bytes-at-a-time path agrees with the byte-at-a-time definition at
    // every length and alignment.
    const auto data = test::randomBytes(300, 77);
    for (size_t start = 0; start < 9; ++start)
        for (size_t len = 0; len + start <= data.size(); len += 13) {
            uint32_t slow = 0xFFFFFFFFu;
            for (size_t i = 0; i < len; ++i)
                slow = crc32Update(slow, data[start + i]);
            EXPECT_EQ(crc32Raw(data.data() + start, len, 0xFFFFFFFFu), slow) << start << " " << len;
        }
}

TEST(ZmodemEncoder, EscapesTheLinkSensitiveBytesOnly)
{
    ZmodemEncoder enc;
    std::vector<uint8_t> out;
    const uint8_t in[] = {0x10, 0x11, 0x13, 0x18, 0x90, 0x91, 0x93, 0x00, 0x0D, 0x7F, 0xFF, 0x41};
    enc.escapeInto(out, in, sizeof in);
    const std::vector<uint8_t> want = {0x18, 0x50, 0x18, 0x51, 0x18, 0x53, 0x18, 0x58, 0x18, 0xD0, 0x18, 0xD1,
                                       0x18, 0xD3, 0x00, 0x0D, 0x7F, 0xFF, 0x41};
    EXPECT_EQ(out, want);
}

TEST(ZmodemEncoder, CarriageReturnAfterAtSignIsEscaped)
{
    ZmodemEncoder enc;
    std::vector<uint8_t> out;
    const uint8_t in[] = {0x40, 0x0D, 0xC0, 0x8D, 0x41, 0x0D};
    enc.escapeInto(out, in, sizeof in);
    const std::vector<uint8_t> want = {0x40, 0x18, 0x4D, 0xC0, 0x18, 0xCD, 0x41, 0x0D};
    EXPECT_EQ(out, want);
}

TEST(ZmodemEncoder, EscapeAllCoversEveryControlCharacter)
{
    ZmodemEncoder enc;
    enc.setEscapeAll(true);
    for (int b = 0; b < 256; ++b) {
        std::vector<uint8_t> out;
        const uint8_t byte = static_cast<uint8_t>(b);
        enc.resetLastByte();
        enc.escapeInto(out, &byte, 1);
        const bool control = (b & 0x60) == 0;
        EXPECT_EQ(out.size(), control ? 2u : 1u) << "byte " << b;
        if (control) {
            EXPECT_EQ(out[1], b ^ 0x40);
        }
    }
}

TEST(ZmodemEncoder, HexHeaderIsLowerCaseWithCrc)
{
    ZmodemEncoder enc;
    std::vector<uint8_t> out;
    enc.hexHeader(out, ZRQINIT, {0, 0, 0, 0});
    const std::string s(out.begin(), out.end());
    EXPECT_EQ(s, std::string("**\x18" "B00000000000000\r\x8a\x11"));
    out.clear();
    enc.hexHeader(out, ZRINIT, {0, 0, 0, 0x23});
    EXPECT_EQ(std::string(out.begin(), out.end()), std::string("**\x18" "B0100000023be50\r\x8a\x11"));
    out.clear();
    enc.hexHeader(out, ZFIN, {0, 0, 0, 0});
    EXPECT_EQ(out.back(), 0x8A) << "no XON after ZFIN";
}

TEST(ZmodemDecoder, RoundTripsEveryFrameKindWhateverTheSplit)
{
    for (bool crc32 : {false, true}) {
        ZmodemEncoder enc;
        enc.setCrc32(crc32);
        std::vector<uint8_t> wire = {'g', 'a', 'r', 'b', 'a', 'g', 'e', '*', 0x18};
        enc.hexHeader(wire, ZRPOS, ZmodemEncoder::position(0x12345678));
        enc.binHeader(wire, ZDATA, ZmodemEncoder::position(77));
        const auto payload = test::randomBytes(3000, 5);
        std::vector<uint8_t> a(payload.begin(), payload.begin() + 1024);
        std::vector<uint8_t> b(payload.begin() + 1024, payload.end());
        enc.dataSubpacket(wire, a.data(), a.size(), ZCRCG);
        enc.dataSubpacket(wire, b.data(), b.size(), ZCRCE);
        enc.binHeader(wire, ZEOF, ZmodemEncoder::position(3000));
        for (size_t chunk : {size_t(1), size_t(7), size_t(4096)}) {
            ZmodemDecoder dec;
            std::vector<std::vector<uint8_t>> payloads;
            auto ev = decodeAll(dec, wire, chunk, &payloads);
            ASSERT_EQ(ev.size(), 5u) << "chunk " << chunk;
            EXPECT_EQ(ev[0].kind, Kind::Header);
            EXPECT_EQ(ev[0].type, ZRPOS);
            EXPECT_EQ(ev[0].position(), 0x12345678u);
            EXPECT_EQ(ev[1].type, ZDATA);
            EXPECT_EQ(ev[1].crc32, crc32);
            EXPECT_EQ(ev[2].kind, Kind::Data);
            EXPECT_EQ(ev[2].end, ZCRCG);
            EXPECT_EQ(payloads[2], a);
            EXPECT_EQ(ev[3].end, ZCRCE);
            EXPECT_EQ(payloads[3], b);
            EXPECT_EQ(ev[4].type, ZEOF);
            EXPECT_EQ(ev[4].position(), 3000u);
        }
    }
}

TEST(ZmodemDecoder, FlippedByteInDataIsReportedNotDelivered)
{
    ZmodemEncoder enc;
    std::vector<uint8_t> wire;
    enc.binHeader(wire, ZDATA, ZmodemEncoder::position(0));
    const auto payload = test::randomBytes(1024, 9);
    enc.dataSubpacket(wire, payload.data(), payload.size(), ZCRCG);
    wire[wire.size() / 2] ^= 0x01;
    ZmodemDecoder dec;
    auto ev = decodeAll(dec, wire, 64);
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].kind, Kind::Header);
    EXPECT_EQ(ev[1].kind, Kind::BadData);
}

TEST(ZmodemDecoder, DamagedHeaderAndBadEscapes)
{
    ZmodemEncoder enc;
    std::vector<uint8_t> wire;
    enc.hexHeader(wire, ZRINIT, {0, 0, 0, 0x27});
    wire[6] = wire[6] == '1' ? '2' : '1';
    ZmodemDecoder dec;
    auto ev = decodeAll(dec, wire, 3);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].kind, Kind::BadHeader);

    // ZDLE followed by a byte that no escape produces.
    std::vector<uint8_t> bad;
    enc.binHeader(bad, ZDATA, ZmodemEncoder::position(0));
    bad.push_back('x');
    bad.push_back(0x18);
    bad.push_back(0x20);
    auto ev2 = decodeAll(dec, bad, 100);
    ASSERT_EQ(ev2.size(), 2u);
    EXPECT_EQ(ev2[1].kind, Kind::BadData);
}

TEST(ZmodemDecoder, FiveCansCancelButEscapedDataDoesNot)
{
    ZmodemDecoder dec;
    const std::vector<uint8_t> four = {0x18, 0x18, 0x18, 0x18, 'a'};
    EXPECT_TRUE(decodeAll(dec, four, 1).empty());
    const std::vector<uint8_t> five = {0x18, 0x18, 0x18, 0x18, 0x18, 0x08, 0x08};
    auto ev = decodeAll(dec, five, 2);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].kind, Kind::Cancel);

    // A subpacket full of escaped ZDLE bytes is data, not a cancel.
    ZmodemEncoder enc;
    std::vector<uint8_t> wire;
    enc.binHeader(wire, ZDATA, ZmodemEncoder::position(0));
    const std::vector<uint8_t> cans(100, 0x18);
    enc.dataSubpacket(wire, cans.data(), cans.size(), ZCRCE);
    ZmodemDecoder dec2;
    std::vector<std::vector<uint8_t>> payloads;
    auto ev2 = decodeAll(dec2, wire, 5, &payloads);
    ASSERT_EQ(ev2.size(), 2u);
    EXPECT_EQ(ev2[1].kind, Kind::Data);
    EXPECT_EQ(payloads[1], cans);
}

TEST(ZmodemDecoder, OverlongSubpacketIsDroppedAndDecodingGoesOn)
{
    ZmodemEncoder enc;
    std::vector<uint8_t> wire;
    enc.binHeader(wire, ZDATA, ZmodemEncoder::position(0));
    const std::vector<uint8_t> big(5000, 'a');
    enc.dataSubpacket(wire, big.data(), big.size(), ZCRCE);
    enc.hexHeader(wire, ZEOF, ZmodemEncoder::position(0));
    ZmodemDecoder dec(4096);
    auto ev = decodeAll(dec, wire, 1000);
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[1].kind, Kind::TooLong);
    EXPECT_EQ(ev[2].kind, Kind::Header);
    EXPECT_EQ(ev[2].type, ZEOF);
}

TEST(ZmodemDecoder, SubpacketAfterHexHeaderSkipsTheLineEndAndUsesCrc16)
{
    // What a sender puts out for ZSINIT with an empty attention string: a hex header,
    // CR LF XON, then the subpacket with a CRC-16.
    ZmodemEncoder enc;
    enc.setCrc32(false);
    std::vector<uint8_t> wire;
    enc.hexHeader(wire, ZSINIT, {0, 0, 0, 0x40});
    const uint8_t nul = 0;
    enc.setEscapeAll(true);
    enc.dataSubpacket(wire, &nul, 1, ZCRCW);
    ZmodemDecoder dec;
    std::vector<std::vector<uint8_t>> payloads;
    auto ev = decodeAll(dec, wire, 1, &payloads);
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].type, ZSINIT);
    EXPECT_FALSE(ev[0].binary);
    EXPECT_EQ(ev[1].kind, Kind::Data);
    EXPECT_EQ(payloads[1], std::vector<uint8_t>{0});
}
