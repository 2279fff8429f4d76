// The ASCII engines on an in-memory host: line-end translations both ways, Ctrl-Z,
// the pacing of characters and lines, and the end of a receive by silence.

#include <gtest/gtest.h>

#include "fake_host.h"
#include "protocols/ascii_receiver.h"
#include "protocols/ascii_sender.h"

using namespace zelvo::protocols;
using zelvo::protocols::test::FakeHost;
using zelvo::protocols::test::MemFile;

namespace {

EngineSettings asciiSettings()
{
    EngineSettings s;
    s.Type = ptAscii;
    s.FileName = "received";
    return s;
}

std::vector<uint8_t> bytes(const std::string& s)
{
    return {s.begin(), s.end()};
}

// Sends text with the settings and returns what went on the line.
std::vector<uint8_t> send(const std::string& text, EngineSettings s, int* result = nullptr)
{
    FakeHost host;
    MemFile f;
    f.data = bytes(text);
    host.toSend.emplace_back("f.txt", f);
    AsciiSender tx(host, s);
    int64_t now = 0;
    tx.start(now);
    std::vector<uint8_t> line;
    for (int i = 0; i < 10000 && !tx.done(); ++i) {
        line.insert(line.end(), host.out.begin(), host.out.end());
        host.out.clear();
        now = std::max(now + 1, tx.deadline() == ProtocolEngine::kNoDeadline ? now + 1 : tx.deadline());
        tx.poll(now);
    }
    line.insert(line.end(), host.out.begin(), host.out.end());
    if (result)
        *result = tx.result();
    return line;
}

std::vector<uint8_t> receive(const std::string& text, EngineSettings s)
{
    FakeHost host;
    AsciiReceiver rx(host, s);
    rx.start(0);
    rx.receive(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 10);
    rx.poll(rx.deadline());
    EXPECT_TRUE(rx.done());
    EXPECT_TRUE(host.disk["received"].complete);
    return host.disk["received"].data;
}

} // namespace

TEST(AsciiEngines, LineEndTranslationsBothWays)
{
    EngineSettings s = asciiSettings();
    int result = 1;
    EXPECT_EQ(send("a\r\nb", s, &result), bytes("a\r\nb"));
    EXPECT_EQ(result, 0);
    s.AsciiCRTranslation = aetAddLFAfter;
    EXPECT_EQ(send("a\r\nb", s), bytes("a\r\n\nb"));
    EXPECT_EQ(receive("a\r\nb", s), bytes("a\r\n\nb"));
    s = asciiSettings();
    s.AsciiLFTranslation = aetStrip;
    EXPECT_EQ(send("a\r\nb\nc", s), bytes("a\rbc"));
    EXPECT_EQ(receive("a\r\nb\nc", s), bytes("a\rbc"));
    s.AsciiCRTranslation = aetStrip;
    s.AsciiLFTranslation = aetAddCRBefore;
    EXPECT_EQ(send("a\r\nb\n", s), bytes("a\r\nb\r\n"));
    EXPECT_EQ(receive("a\r\nb\n", s), bytes("a\r\nb\r\n"));
}

TEST(AsciiEngines, CtrlZIsLeftOutOrEndsTheFile)
{
    EngineSettings s = asciiSettings();
    EXPECT_EQ(send("ab\x1A" "cd\x1A" "e", s), bytes("abcde"));
    EXPECT_EQ(receive("ab\x1A" "c", s), bytes("ab\x1A" "c")) << "received Ctrl-Z is kept";
    s.AsciiSuppressCtrlZ = true;
    EXPECT_EQ(send("ab\x1A" "cd", s), bytes("ab"));
    EXPECT_EQ(receive("ab\x1A" "c", s), bytes("abc"));
}

TEST(AsciiEngines, PausesFitTheirPassOrAreTimedInTicks)
{
    EXPECT_EQ(AsciiSender::pauseTicks(1), 1);
    EXPECT_EQ(AsciiSender::pauseTicks(55), 1);
    EXPECT_EQ(AsciiSender::pauseTicks(56), 2);

    // Character delay 100 ms: two pauses fit the 250 ms of a pass and are timed to the
    // millisecond; the third is timed as two ticks (110 ms) and starts a new pass.
    FakeHost host;
    MemFile f;
    f.data = bytes("abcdef");
    host.toSend.emplace_back("f", f);
    EngineSettings s = asciiSettings();
    s.AsciiCharDelayMs = 100;
    AsciiSender tx(host, s);
    int64_t now = 0;
    tx.start(now);
    std::vector<int64_t> waits;
    std::string sent;
    for (int i = 0; i < 6; ++i) {
        sent.append(host.out.begin(), host.out.end());
        host.out.clear();
        waits.push_back(tx.deadline() - now);
        now = tx.deadline();
        tx.poll(now);
    }
    EXPECT_EQ(sent, "abcdef");
    EXPECT_EQ(waits, (std::vector<int64_t>{100, 100, 110, 100, 100, 110}));

    // A line delay of 300 ms after each CR, then the character delay.
    FakeHost host2;
    f.data = bytes("a\rb");
    host2.toSend.emplace_back("f", f);
    s.AsciiCharDelayMs = 10;
    s.AsciiLineDelayMs = 300;
    AsciiSender tx2(host2, s);
    now = 0;
    tx2.start(now);
    waits.clear();
    for (int i = 0; i < 4; ++i) {
        waits.push_back(tx2.deadline() - now);
        now = tx2.deadline();
        tx2.poll(now);
    }
    EXPECT_EQ(waits, (std::vector<int64_t>{10, 330, 10, 10}));
}

TEST(AsciiEngines, ReceiveEndsAfterTheEofTimeoutOfSilence)
{
    FakeHost host;
    AsciiReceiver rx(host, asciiSettings());
    rx.start(0);
    const uint8_t a[] = {'x', 'y'};
    rx.receive(a, 2, 5000);
    EXPECT_EQ(rx.deadline(), 5000 + 364 * 55);
    rx.poll(5000 + 364 * 55 - 1);
    EXPECT_FALSE(rx.done());
    rx.poll(5000 + 364 * 55);
    ASSERT_TRUE(rx.done());
    EXPECT_EQ(rx.result(), 0);
    EXPECT_EQ(host.disk["received"].data, (std::vector<uint8_t>{'x', 'y'}));

    // No file name, no receive.
    FakeHost none;
    EngineSettings s = asciiSettings();
    s.FileName.clear();
    AsciiReceiver nameless(none, s);
    nameless.start(0);
    EXPECT_EQ(nameless.result(), -ecNoFilename);
}
