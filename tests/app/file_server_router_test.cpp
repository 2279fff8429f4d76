#include "app/file_server_router.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using zelvo::app::FileServerRouter;

namespace {

// A file server that accepts packets of a fixed length: the first byte says how many
// bytes follow; byte 0xFF refuses the packet. The reply is "OK" and the packet's bytes.
struct FakeServer {
    static inline std::vector<std::pair<int32_t, int>> calls; // (position, byte)
    static inline int dispatches = 0;

    static int32_t receive(uint8_t* buf, int32_t pos, int32_t byte)
    {
        calls.emplace_back(pos, byte);
        if (pos < 0 || pos >= 64)
            return -1;
        buf[pos] = uint8_t(byte);
        if (byte == 0xFF)
            return -1;
        if (pos > 0 && pos >= buf[0])
            return 0;
        return pos + 1;
    }
    static int32_t dispatch(uint8_t* buf)
    {
        ++dispatches;
        int n = buf[0];
        std::vector<uint8_t> req(buf + 1, buf + 1 + n);
        buf[0] = 'O';
        buf[1] = 'K';
        for (int i = 0; i < n; ++i)
            buf[2 + i] = req[size_t(i)];
        return 2 + n;
    }
};

struct Recorder : FileServerRouter::Host {
    std::string sent;
    std::vector<std::string> events;
    bool terminalActive = true;

    void setTerminalActive(bool a) override
    {
        terminalActive = a;
        events.push_back(a ? "on" : "off");
    }
    void sendToPort(const uint8_t* d, size_t n) override
    {
        sent.append(reinterpret_cast<const char*>(d), n);
        events.push_back("send");
    }
    void packetStarted() override { events.push_back("start"); }
    void packetEnded() override { events.push_back("end"); }
};

class RouterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeServer::calls.clear();
        FakeServer::dispatches = 0;
    }
    void feed(const std::string& s) { router.feed(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

    Recorder host;
    FileServerRouter router{host, &FakeServer::receive, &FakeServer::dispatch};
};

} // namespace

TEST_F(RouterTest, RequestIsAcknowledgedPassedByteByByteAndAnsweredInOneBlock)
{
    feed("hello \x1b[");
    EXPECT_EQ(host.sent, "");
    feed("#");
    EXPECT_EQ(host.sent, "\x1b[#");
    EXPECT_FALSE(host.terminalActive);
    EXPECT_EQ(router.state(), FileServerRouter::StartComplete);
    feed("\x03" "ab");
    EXPECT_TRUE(router.serverActive());
    EXPECT_EQ(router.state(), FileServerRouter::InPacket);
    EXPECT_EQ(host.sent, "\x1b[#");
    feed("c");
    EXPECT_EQ(host.sent, "\x1b[#OKabc");
    EXPECT_TRUE(host.terminalActive);
    EXPECT_FALSE(router.serverActive());
    EXPECT_EQ(router.state(), FileServerRouter::Idle);
    EXPECT_EQ(host.events, (std::vector<std::string>{"off", "send", "start", "send", "on", "end"}));
    EXPECT_EQ(FakeServer::calls, (std::vector<std::pair<int32_t, int>>{{0, 3}, {1, 'a'}, {2, 'b'}, {3, 'c'}}));

    // A second request without its own start sequence is only text.
    feed("\x03" "xyz");
    EXPECT_EQ(FakeServer::dispatches, 1);
    EXPECT_EQ(host.sent, "\x1b[#OKabc");
}

TEST_F(RouterTest, StartSequenceVariants)
{
    feed("\x1b\x1b[#");
    EXPECT_EQ(host.sent, "\x1b[#");
    // Whatever follows "#" is the first packet byte, even ESC.
    feed("\x1b");
    EXPECT_EQ(router.state(), FileServerRouter::InPacket);
    ASSERT_EQ(FakeServer::calls.size(), 1u);
    EXPECT_EQ(FakeServer::calls[0], (std::pair<int32_t, int>{0, 27}));
}

TEST_F(RouterTest, CursorKeySequencesAreNotRequests)
{
    feed("\x1b[A\x1b[1;2H\x1b#8[#");
    EXPECT_EQ(host.sent, "");
    EXPECT_EQ(router.state(), FileServerRouter::Idle);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(RouterTest, RefusedPacketGetsNoAnswerAndTheNextStartsAtZero)
{
    feed("\x1b[#\x05" "a\xff");
    EXPECT_EQ(host.sent, "\x1b[#");
    EXPECT_EQ(FakeServer::dispatches, 0);
    EXPECT_TRUE(host.terminalActive);
    EXPECT_EQ(router.state(), FileServerRouter::Idle);
    FakeServer::calls.clear();
    feed("\x1b[#\x01z");
    EXPECT_EQ(host.sent, "\x1b[#\x1b[#OKz");
    EXPECT_EQ(FakeServer::calls.front().first, 0);
}

TEST_F(RouterTest, StalledPacketKeepsTheTerminalInactive)
{
    feed("\x1b[#\x09" "abc");
    EXPECT_TRUE(router.serverActive());
    EXPECT_FALSE(host.terminalActive);
    EXPECT_EQ(router.position(), 4);
}

TEST_F(RouterTest, OneRunIsSplitExactlyBetweenTerminalAndServer)
{
    auto run = [&](const std::string& s) {
        feed(s);
        std::vector<uint8_t> out;
        router.takeShown(reinterpret_cast<const uint8_t*>(s.data()), s.size(), out);
        return std::string(out.begin(), out.end());
    };
    // Text before the start sequence, a whole packet and text after it, in one run.
    EXPECT_EQ(run("login: \x1b[#\x02xyafter\r\n"), "login: after\r\n");
    EXPECT_EQ(host.sent, "\x1b[#OKxy");
    EXPECT_EQ(host.events, (std::vector<std::string>{"off", "send", "start", "send", "on", "end"}));

    // ESC and ESC "[" wait for the next run; a cursor sequence is then shown whole, a
    // start sequence not at all.
    EXPECT_EQ(run("ab\x1b"), "ab");
    EXPECT_EQ(run("[A\x1b\x1b["), "\x1b[A\x1b");
    EXPECT_EQ(run("#\x01q-"), "-");
    EXPECT_EQ(host.sent, "\x1b[#OKxy\x1b[#OKq");
    // A packet that spans runs shows nothing until it ends.
    EXPECT_EQ(run("\x1b[#\x03"), "");
    EXPECT_EQ(run("ab"), "");
    EXPECT_EQ(run("c$ "), "$ ");

    // Bytes nobody routed are shown as they are; a run the terminal did not read is
    // not shown with the next one.
    std::vector<uint8_t> out;
    const std::string unrouted = "\x1b[#";
    router.takeShown(reinterpret_cast<const uint8_t*>(unrouted.data()), unrouted.size(), out);
    EXPECT_EQ(std::string(out.begin(), out.end()), unrouted);
    feed("skipped");
    EXPECT_EQ(run("seen"), "seen");
}
