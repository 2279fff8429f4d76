// The two packing stages on their own: encoded forms the client relies on, decoding one
// byte at a time, the output limit, and round trips against the reference codecs.

#include "rfs_client.h"

#include "file_server/run_length_codec.h"
#include "file_server/window_codec.h"

#include <gtest/gtest.h>

#include <random>

namespace rfs_test {
namespace {

using zelvo::file_server::RunLengthDecoder;
using zelvo::file_server::runLengthEncode;
using zelvo::file_server::WindowDecoder;
using zelvo::file_server::WindowEncoder;

Bytes libRunEncode(const Bytes& in)
{
    Bytes out(in.size() + 8);
    const int n = runLengthEncode(in.data(), in.size(), out.data());
    if (n < 0)
        return {};
    out.resize(size_t(n));
    return out;
}

Bytes libRunDecode(const Bytes& in, size_t limit = 1032)
{
    Bytes out(limit);
    RunLengthDecoder d;
    d.reset(limit);
    for (uint8_t b : in)
        d.put(b, out.data());
    out.resize(d.count());
    return out;
}

Bytes libWindowEncode(const Bytes& in)
{
    static WindowEncoder encoder;
    Bytes out(in.size() + 8);
    const int n = encoder.encode(in.data(), in.size(), out.data());
    if (n < 0)
        return {};
    out.resize(size_t(n));
    return out;
}

Bytes libWindowDecode(const Bytes& in, size_t limit = 1032)
{
    Bytes out(limit);
    WindowDecoder d;
    d.reset(limit);
    for (uint8_t b : in)
        d.put(b, out.data());
    out.resize(d.count());
    return out;
}

Bytes withPadding(Bytes core)
{
    // Distinct bytes around the data so the encoder does not give up on a short input.
    Bytes out;
    for (int i = 0; i < 20; ++i)
        out.push_back(uint8_t(0x80 + i));
    out.insert(out.end(), core.begin(), core.end());
    return out;
}

TEST(RunLength, EncodedFormsOfRunsAndMarkers)
{
    const Bytes run127 = withPadding(Bytes(127, 'v'));
    const Bytes e127 = libRunEncode(run127);
    ASSERT_FALSE(e127.empty());
    EXPECT_EQ(Bytes(e127.end() - 3, e127.end()), (Bytes{0x55, 0x7F, 'v'}));

    const Bytes e128 = libRunEncode(withPadding(Bytes(128, 'v')));
    EXPECT_EQ(Bytes(e128.end() - 4, e128.end()), (Bytes{0x55, 0x80, 0x80, 'v'}));

    const Bytes e1000 = libRunEncode(withPadding(Bytes(1000, 'v')));
    EXPECT_EQ(Bytes(e1000.end() - 4, e1000.end()), (Bytes{0x55, 0x83, 0xE8, 'v'}));

    // A single 0x55 and three of them, in data long enough to pack.
    Bytes one(30, 'a');
    one[10] = 'b';
    one[11] = 0x55;
    one[12] = 'c';
    const Bytes e1 = libRunEncode(one);
    EXPECT_EQ(e1, (Bytes{0x55, 10, 'a', 'b', 0x55, 0x00, 'c', 0x55, 17, 'a'}));

    Bytes three(30, 'a');
    three[10] = three[11] = three[12] = 0x55;
    EXPECT_EQ(libRunEncode(three), (Bytes{0x55, 10, 'a', 0x55, 0x03, 0x55, 0x55, 17, 'a'}));
}

TEST(RunLength, GivesUpWhenNothingShrinks)
{
    EXPECT_TRUE(libRunEncode(Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'}).empty());
    EXPECT_TRUE(libRunEncode(Bytes(12, 0x55)).size() == 3);
    Bytes markers;
    for (int i = 0; i < 20; ++i)
        markers.insert(markers.end(), {0x55, 'x'});
    EXPECT_TRUE(libRunEncode(markers).empty());
}

TEST(RunLength, DecodesByteByByteUpToTheLimit)
{
    EXPECT_EQ(libRunDecode(Bytes{0x55, 0x00}), Bytes{0x55});
    EXPECT_EQ(libRunDecode(Bytes{0x55, 0x03, 0x55}), Bytes(3, 0x55));
    EXPECT_EQ(libRunDecode(Bytes{'x', 0x55, 0x80, 0x80, 'v', 'y'}), cat({{'x'}, Bytes(128, 'v'), {'y'}}));
    // The largest count produces no more than the limit.
    EXPECT_EQ(libRunDecode(Bytes{0x55, 0xFF, 0xFF, 'z', 'q'}, 1032), Bytes(1032, 'z'));
    EXPECT_EQ(libRunDecode(Bytes{0x55, 0x05, 'z'}, 3), Bytes(3, 'z'));
}

TEST(Window, SelfOverlappingReferenceRepeatsOneByte)
{
    // Literal 'k' at offset 0, then a reference to offset 0 (one less than the current
    // output position) of length 17.
    EXPECT_EQ(libWindowDecode(Bytes{0x01, 'k', 0x00, 0x0F}), Bytes(18, 'k'));
    // Offsets above 255 use the high nibble of the second byte: 296 literals, then a
    // reference to offset 260 of length 17.
    Bytes stream;
    Bytes expected;
    for (int i = 0; i < 296; ++i) {
        if (i % 8 == 0)
            stream.push_back(0xFF);
        stream.push_back(uint8_t(i * 7));
        expected.push_back(uint8_t(i * 7));
    }
    stream.insert(stream.end(), {0x00, uint8_t(260 & 0xFF), uint8_t(0x10 | 15)});
    expected.insert(expected.end(), expected.begin() + 260, expected.begin() + 277);
    EXPECT_EQ(libWindowDecode(stream), expected);
    EXPECT_EQ(windowDecode(stream), expected);
}

TEST(Window, FlagByteAfterEveryEighthItem)
{
    // 8 literals then a reference: a second flag byte follows the eighth literal.
    const Bytes in = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'a', 'b'};
    const Bytes enc = libWindowEncode(in);
    ASSERT_FALSE(enc.empty());
    EXPECT_EQ(enc[0], 0xFF);
    EXPECT_EQ(enc[9], 0x00);
    EXPECT_EQ(libWindowDecode(enc), in);
}

TEST(Window, GivesUpOnDataThatDoesNotRepeat)
{
    std::mt19937 rng(3);
    Bytes noise(1032);
    for (uint8_t& b : noise)
        b = uint8_t(rng());
    EXPECT_TRUE(libWindowEncode(noise).empty());

    // Noise first and repeats after it: the whole still shrinks, and is packed.
    for (size_t i = 600; i < noise.size(); ++i)
        noise[i] = noise[i % 40];
    const Bytes packed = libWindowEncode(noise);
    ASSERT_FALSE(packed.empty());
    EXPECT_LT(packed.size(), noise.size());
    EXPECT_EQ(libWindowDecode(packed), noise);
}

TEST(Codecs, RoundTripAgainstTheReferenceImplementation)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 300; ++round) {
        const size_t n = 16 + rng() % 1017;
        Bytes data(n);
        const int kind = round % 4;
        for (size_t i = 0; i < n; ++i) {
            if (kind == 0)
                data[i] = uint8_t(rng() % 3);
            else if (kind == 1)
                data[i] = uint8_t("the quick brown fox UUU "[rng() % 24]);
            else if (kind == 2)
                data[i] = i > 20 && rng() % 3 ? data[i - 1 - rng() % 20] : uint8_t(rng());
            else
                data[i] = uint8_t(i % 256);
        }
        const Bytes run = libRunEncode(data);
        if (!run.empty()) {
            EXPECT_LT(run.size(), data.size());
            EXPECT_EQ(runDecode(run), data);
            EXPECT_EQ(libRunDecode(run), data);
        }
        const Bytes win = libWindowEncode(data);
        if (!win.empty()) {
            EXPECT_LT(win.size(), data.size());
            EXPECT_EQ(windowDecode(win), data);
            EXPECT_EQ(libWindowDecode(win), data);
        }
        // The reference encoders' output decodes in the library too.
        EXPECT_EQ(libRunDecode(runEncode(data)), data);
        EXPECT_EQ(libWindowDecode(windowEncode(data)), data);
    }
}

} // namespace
} // namespace rfs_test
