// Packet framing through the exported entry points: assembly, header and check-sum tests,
// the counters, unknown codes and the choice of the reply's packing.

#include "server_fixture.h"

#include "file_server/nerrit.h"

#include <array>
#include <random>

namespace rfs_test {
namespace {

std::array<uint32_t, 10> statistic()
{
    std::array<uint32_t, 10> s{};
    EXPECT_EQ(ServerStatistic(s.data()), s.data());
    return s;
}

// The common CRC-32: initial value and final inversion 0xFFFFFFFF.
uint32_t usualCrc(const uint8_t* d, size_t n)
{
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= d[i];
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    return ~c;
}

using Framing = ServerTest;

TEST_F(Framing, CheckSumStartsAtZeroWithoutFinalInversion)
{
    const std::string s = "123456789";
    EXPECT_EQ(checkSum(reinterpret_cast<const uint8_t*>(s.data()), s.size()), 0x2DFD2D88u);
}

TEST_F(Framing, EmptyRequestIsAcceptedAtTheTwentiethByteAndAnsweredByteForByte)
{
    // Commit (code 4), owner 0x0201, reserved bytes 0xA1..0xA4, no payload.
    Bytes packet = {0x4B, 0x59, 0x10, 0x00, 0xEF, 0xFF, 0x04, 0x00, 0xA1, 0xA2, 0xA3, 0xA4, 0x01, 0x02, 0x00, 0x00};
    const Bytes crc = le32(checkSum(packet.data(), packet.size()));
    packet.insert(packet.end(), crc.begin(), crc.end());
    ASSERT_EQ(packet.size(), 20u);

    uint8_t* buf = client.buffer();
    for (int32_t i = 0; i < 19; ++i)
        ASSERT_EQ(ServerReceive(buf, i, packet[size_t(i)]), i + 1) << "byte " << i;
    ASSERT_EQ(ServerReceive(buf, 19, packet[19]), 0);

    ASSERT_EQ(ServerDispatch(buf), 20);
    Bytes expected = {0x4C, 0x59, 0x10, 0x00, 0xEF, 0xFF, 0x00, 0x00, 0xA1, 0xA2, 0xA3, 0xA4, 0x01, 0x02, 0x00, 0x00};
    const Bytes replyCrc = le32(checkSum(expected.data(), expected.size()));
    expected.insert(expected.end(), replyCrc.begin(), replyCrc.end());
    EXPECT_EQ(Bytes(buf, buf + 20), expected);
}

TEST_F(Framing, HeaderFaultsAreRefusedOnlyAtTheSixteenthByte)
{
    struct Case {
        const char* what;
        Bytes packet;
    };
    const Case cases[] = {
        {"first byte not K", rawPacket(0x00, 0x59, 16, uint16_t(~16), 4, 1, 0, {})},
        {"second byte not Y", rawPacket(0x4B, 0x5A, 16, uint16_t(~16), 4, 1, 0, {})},
        {"length check not the complement", rawPacket(0x4B, 0x59, 16, uint16_t(~17), 4, 1, 0, {})},
        {"length 1049", rawPacket(0x4B, 0x59, 1049, uint16_t(~1049), 4, 1, 0, Bytes(1033, 0))},
        {"length below the header", rawPacket(0x4B, 0x59, 10, uint16_t(~10), 4, 1, 0, {})},
    };
    for (const Case& c : cases) {
        const auto before = statistic();
        int failAt = 0;
        EXPECT_EQ(client.feed(c.packet, &failAt), -1) << c.what;
        EXPECT_EQ(failAt, 15) << c.what;
        const auto after = statistic();
        EXPECT_EQ(after[9], before[9] + 1) << c.what;
        EXPECT_EQ(after[2], before[2] + 16) << c.what;
        EXPECT_EQ(after[6], before[6]) << c.what;
    }
}

TEST_F(Framing, LengthOf1048IsAccepted)
{
    const Bytes packet = rawPacket(0x4B, 0x59, 1048, uint16_t(~1048), 4, 1, 0, Bytes(1032, 0x61));
    ASSERT_EQ(client.feed(packet), 0);
    EXPECT_EQ(client.buffer()[2] | client.buffer()[3] << 8, 1048);
    const Reply r = client.dispatch();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, 0);
}

TEST_F(Framing, CheckSumOfTheUsualConventionsIsRefused)
{
    Bytes packet = {0x4B, 0x59, 0x10, 0x00, 0xEF, 0xFF, 0x04, 0x00, 0, 0, 0, 0, 0x01, 0x00, 0x00, 0x00};
    const Bytes crc = le32(usualCrc(packet.data(), packet.size()));
    packet.insert(packet.end(), crc.begin(), crc.end());
    const auto before = statistic();
    int failAt = 0;
    EXPECT_EQ(client.feed(packet, &failAt), -1);
    EXPECT_EQ(failAt, 19);
    const auto after = statistic();
    EXPECT_EQ(after[8], before[8] + 1);
    EXPECT_EQ(after[9], before[9]);
}

TEST_F(Framing, AnyFlippedBitIsCaught)
{
    const Bytes good = encodeRequest({4, cstr("some payload"), 0});
    for (size_t i = 16; i < good.size(); ++i) {
        Bytes bad = good;
        bad[i] ^= 0x10;
        EXPECT_EQ(client.feed(bad), -1) << "byte " << i;
    }
    EXPECT_EQ(client.feed(good), 0);
}

TEST_F(Framing, PositionsOutOfStepAreRefusedWithoutTouchingTheBuffer)
{
    uint8_t* buf = client.buffer();
    buf[900] = 0x77;
    // No packet in progress: a position other than 0 is refused.
    EXPECT_EQ(ServerReceive(buf, 5, 0x4B), -1);
    EXPECT_EQ(ServerReceive(buf, -3, 0x4B), -1);
    EXPECT_EQ(ServerReceive(buf, 900, 0x11), -1);
    EXPECT_EQ(buf[900], 0x77);
    // A complete packet is followed by nothing but a new start.
    const Bytes packet = encodeRequest({4, {}, 0});
    ASSERT_EQ(client.feed(packet), 0);
    EXPECT_EQ(ServerReceive(buf, 20, 0), -1);
    EXPECT_EQ(ServerReceive(buf, 24, 0), -1);
    // Skipping ahead inside a packet is refused too; position 0 always starts afresh.
    EXPECT_EQ(ServerReceive(buf, 0, 0x4B), 1);
    EXPECT_EQ(ServerReceive(buf, 2, 0x10), -1);
    EXPECT_EQ(client.feed(packet), 0);
}

TEST_F(Framing, HigherBitsOfTheByteAreIgnored)
{
    Bytes packet = encodeRequest({4, {}, 0});
    uint8_t* buf = client.buffer();
    int32_t pos = 0;
    for (size_t i = 0; i < packet.size(); ++i)
        pos = ServerReceive(buf, pos, int32_t(0x7FFFFF00 | packet[i]));
    EXPECT_EQ(pos, 0);
}

TEST_F(Framing, CountersFollowTheTraffic)
{
    const auto before = statistic();
    EXPECT_EQ(before[0], 1u);
    EXPECT_EQ(before[1], 0u);

    writeFile("c/A.TXT", std::string(100, 'x'));
    const Reply open = client.open("C:\\A.TXT", 0);
    ASSERT_EQ(open.result, 0);
    const Bytes openPacket = encodeRequest({14, cat({le16(0), cstr("C:\\A.TXT")}), 0});
    const Reply read = client.read(0, 0, 100);
    ASSERT_EQ(read.result, 0);
    ASSERT_EQ(read.packing, 1); // 100 equal bytes pack into one run
    const auto after = statistic();

    const uint32_t openLen = uint32_t(openPacket.size());
    EXPECT_EQ(after[2] - before[2], openLen + 28u); // read request: 16 + 8 + 4
    EXPECT_EQ(after[4] - before[4], (openLen - 4) + 24u);
    EXPECT_EQ(after[3] - before[3], (16u + 12u) + (16u + 102u));
    EXPECT_EQ(after[5] - before[5], uint32_t(open.length) + read.length);
    EXPECT_EQ(after[6] - before[6], 2u);
    EXPECT_EQ(after[7] - before[7], 2u);
}

TEST_F(Framing, UnknownCodesAnswerFiveAndCountAsPacketErrors)
{
    for (uint16_t code : {uint16_t(21), uint16_t(99), uint16_t(0xFFFF)}) {
        const auto before = statistic();
        const Reply r = client.call(code, cstr("whatever"));
        EXPECT_EQ(r.result, 5);
        EXPECT_TRUE(r.payload.empty());
        EXPECT_EQ(statistic()[9], before[9] + 1);
    }
    // Code 19 is an operation of its own that always answers 5; it is no packet error.
    const auto before = statistic();
    const Reply r = client.call(19, {});
    EXPECT_EQ(r.result, 5);
    EXPECT_EQ(statistic()[9], before[9]);
}

TEST_F(Framing, RequestsArriveInAllFourPackings)
{
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "line " + std::to_string(i % 7) + ": aaaaaaaaaaaa UUUUU bbbbbb\n";
    text.resize(1000);
    const Bytes data(text.begin(), text.end());
    ASSERT_EQ(client.create("C:\\PACKED.TXT").result, 0);
    for (uint16_t packing = 0; packing < 4; ++packing) {
        Request w;
        w.code = 6;
        w.payload = cat({le16(0), le32(packing * 1000u), le16(uint16_t(data.size())), data});
        w.packing = packing;
        const Reply r = client.call(w);
        EXPECT_EQ(r.result, 0) << "packing " << packing;
        EXPECT_EQ(r.payload, le16(1000)) << "packing " << packing;
    }
    EXPECT_EQ(readFile("c/PACKED.TXT"), text + text + text + text);
}

TEST_F(Framing, PackedPayloadIsCutAt1032Bytes)
{
    // 2000 bytes as one run, as a window stream that repeats itself, and as both.
    const Bytes big(2000, 'A');
    for (uint16_t packing = 1; packing < 4; ++packing) {
        Request r;
        r.code = 4;
        r.payload = big;
        r.packing = packing;
        ASSERT_EQ(client.feed(encodeRequest(r)), 0) << "packing " << packing;
        uint8_t* buf = client.buffer();
        EXPECT_EQ(buf[2] | buf[3] << 8, 16 + 1032) << "packing " << packing;
        EXPECT_EQ(Bytes(buf + 16, buf + 16 + 1032), Bytes(1032, 'A'));
        EXPECT_EQ(buf[16 + 1032], 0xEE) << "nothing is stored past the payload";
        client.dispatch();
    }
}

TEST_F(Framing, PackingWithAnUnknownLowByteYieldsNoPayload)
{
    Request r;
    r.code = 4;
    r.payload = cstr("abc");
    r.packing = 0x0100; // not 0 as a whole, but the low byte selects no stage
    ASSERT_EQ(client.feed(encodeRequest(r)), 0);
    EXPECT_EQ(client.buffer()[2], 16);
}

TEST_F(Framing, WindowReferenceMayOverlapWhatItProduces)
{
    // Flag 0x01: a literal 'Z', then a reference to offset 0 of length 17.
    const Bytes stream = {0x01, 'Z', 0x00, 0x0F};
    const Bytes packet = rawPacket(0x4B, 0x59, uint16_t(16 + stream.size()), uint16_t(~(16 + stream.size())), 4, 1,
                                   2, stream);
    ASSERT_EQ(client.feed(packet), 0);
    uint8_t* buf = client.buffer();
    EXPECT_EQ(buf[2], 16 + 18);
    EXPECT_EQ(Bytes(buf + 16, buf + 34), Bytes(18, 'Z'));
    client.dispatch();
}

TEST_F(Framing, WindowReferenceToBytesNotYetProducedGivesZeros)
{
    const Bytes stream = {0x01, 'Z', 0x40, 0x03};
    const Bytes packet = rawPacket(0x4B, 0x59, uint16_t(16 + stream.size()), uint16_t(~(16 + stream.size())), 4, 1,
                                   2, stream);
    ASSERT_EQ(client.feed(packet), 0);
    uint8_t* buf = client.buffer();
    EXPECT_EQ(buf[2], 16 + 6);
    EXPECT_EQ(Bytes(buf + 16, buf + 22), (Bytes{'Z', 0, 0, 0, 0, 0}));
    client.dispatch();
}

class ReplyPacking : public ServerTest {
protected:
    Reply readBack(const Bytes& content)
    {
        writeFile("c/DATA.BIN", std::string(content.begin(), content.end()));
        const Reply o = client.open("C:\\DATA.BIN", 0);
        EXPECT_EQ(o.result, 0);
        const Reply r = client.read(0, 0, uint16_t(content.size()));
        client.close(0);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.payload, cat({le16(uint16_t(content.size())), content}));
        return r;
    }
};

TEST_F(ReplyPacking, FollowsTheRulesForEachSize)
{
    // 2 + 6 = 8 bytes: never packed, even though it is one run.
    EXPECT_EQ(readBack(Bytes(6, 'A')).packing, 0);
    // 12 bytes that form a run: run-length only.
    EXPECT_EQ(readBack(Bytes(10, 'A')).packing, 1);
    // 15 bytes without a run: too short for the window stage.
    EXPECT_EQ(readBack(Bytes{'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c', 'a'}).packing, 0);
    // A run that packs to 15 bytes or less is not given to the window stage.
    EXPECT_EQ(readBack(Bytes(1000, 'Q')).packing, 1);
    // Repetition without runs: the run-length stage gives up, the window stage packs.
    Bytes abc;
    for (int i = 0; i < 300; ++i)
        abc.push_back(uint8_t('a' + i % 3));
    EXPECT_EQ(readBack(abc).packing, 2);
    // Runs and repetition: both stages.
    Bytes both;
    for (int i = 0; i < 40; ++i) {
        const std::string s = "record " + std::to_string(i % 5) + "        end\n";
        both.insert(both.end(), s.begin(), s.end());
    }
    EXPECT_EQ(readBack(both).packing, 3);
    // Random bytes: nothing shrinks them.
    std::mt19937 rng(7);
    Bytes noise(1030);
    for (uint8_t& b : noise)
        b = uint8_t(rng());
    const Reply r = readBack(noise);
    EXPECT_EQ(r.packing, 0);
    EXPECT_EQ(r.length, 16 + 1032);
}

TEST_F(ReplyPacking, EveryReplyDecodesExactly)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 60; ++round) {
        const size_t n = rng() % 1031;
        Bytes data(n);
        const int alphabet = 1 + int(rng() % 6);
        for (uint8_t& b : data)
            b = uint8_t(rng() % 5 == 0 ? 0x55 : 'a' + rng() % alphabet);
        readBack(data);
    }
}

} // namespace
} // namespace rfs_test
