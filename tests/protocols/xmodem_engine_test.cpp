// The Xmodem and Ymodem engines wired to each other in memory: every type, the
// handshake and the fallback to checksum, damaged, repeated and out-of-sequence
// blocks, the error limit, streaming, block 0 and cancel. Time is simulated.

#include <gtest/gtest.h>

#include "fake_host.h"
#include "protocols/file_info.h"
#include "protocols/xmodem_block.h"
#include "protocols/xmodem_receiver.h"
#include "protocols/xmodem_sender.h"

using namespace zelvo::protocols;
using namespace zelvo::protocols::xm;
using zelvo::protocols::test::FakeHost;
using zelvo::protocols::test::Link;
using zelvo::protocols::test::MemFile;
using zelvo::protocols::test::randomBytes;

namespace {

EngineSettings settingsFor(TProtocolType type)
{
    EngineSettings s;
    s.Type = type;
    s.BlockCheck = type == ptXmodem ? bcmChecksum : bcmCrc16;
    s.BlockLength = type == ptXmodem || type == ptXmodemCRC ? 128 : 1024;
    s.HandshakeWaitMs = 3000;
    s.XYmodemBlockWaitMs = 1000;
    s.FinishWaitMs = 0;
    s.FileName = "received";
    return s;
}

struct Pair {
    FakeHost tx, rx;
    EngineSettings txSettings, rxSettings;
    std::unique_ptr<XmodemSender> sender;
    std::unique_ptr<XmodemReceiver> receiver;
    Link link;
    int64_t now = 1000;

    explicit Pair(TProtocolType type) : txSettings(settingsFor(type)), rxSettings(settingsFor(type)) {}
    void add(const std::string& name, std::vector<uint8_t> data, int64_t mtime = 1700000000)
    {
        MemFile f;
        f.data = std::move(data);
        f.mtime = mtime;
        tx.toSend.emplace_back(name, std::move(f));
    }
    bool run(int maxSteps = 400000)
    {
        sender = std::make_unique<XmodemSender>(tx, txSettings);
        receiver = std::make_unique<XmodemReceiver>(rx, rxSettings);
        receiver->start(now);
        sender->start(now);
        return link.run(*sender, tx, *receiver, rx, now, maxSteps);
    }
};

bool batch(TProtocolType t)
{
    return t == ptYmodem || t == ptYmodemG;
}

// The bytes of a file as an Xmodem receiver keeps them: padded with SUB to whole blocks.
bool paddedEqual(const std::vector<uint8_t>& got, const std::vector<uint8_t>& sent)
{
    if (got.size() < sent.size() || got.size() - sent.size() >= 1024)
        return false;
    if (!std::equal(sent.begin(), sent.end(), got.begin()))
        return false;
    return std::all_of(got.begin() + static_cast<std::ptrdiff_t>(sent.size()), got.end(),
                       [](uint8_t b) { return b == SUB; });
}

// Flips a bit in the index-th block of the given number that the sender puts out.
struct BlockDamage {
    uint8_t number;
    int times;
    int done = 0;
    // Watches the sender's byte stream for SOH/STX number ~number.
    std::vector<uint8_t> window;
    bool operator()(uint64_t, uint8_t& b)
    {
        window.push_back(b);
        if (window.size() > 3)
            window.erase(window.begin());
        if (window.size() == 3 && (window[0] == SOH || window[0] == STX) && window[1] == number
            && window[2] == static_cast<uint8_t>(~number) && done < times) {
            b ^= 0x01; // damages the complement: the block is unusable
            ++done;
        }
        return true;
    }
};

} // namespace

TEST(XmodemEngines, EveryTypeMovesItsFilesIntact)
{
    for (TProtocolType t : {ptXmodem, ptXmodemCRC, ptXmodem1K, ptXmodem1KG, ptYmodem, ptYmodemG}) {
        Pair p(t);
        const auto big = randomBytes(70000 + 77, 1);
        p.add("Big.Bin", big);
        if (batch(t)) {
            p.add("empty", {});
            p.add("exact", randomBytes(2048, 2));
        }
        ASSERT_TRUE(p.run()) << t;
        EXPECT_EQ(p.sender->result(), 0) << t;
        EXPECT_EQ(p.receiver->result(), 0) << t;
        if (batch(t)) {
            // Names travel in lower case; files are cut to the length block 0 gave.
            EXPECT_EQ(p.rx.disk["big.bin"].data, big) << t;
            EXPECT_EQ(p.rx.disk["big.bin"].mtime, 1700000000) << t;
            EXPECT_TRUE(p.rx.disk.count("empty")) << t;
            EXPECT_TRUE(p.rx.disk["empty"].data.empty()) << t;
            EXPECT_EQ(p.rx.disk["exact"].data, p.tx.toSend[2].second.data) << t;
            EXPECT_EQ(p.tx.sentComplete.size(), 3u) << t;
        } else {
            EXPECT_TRUE(paddedEqual(p.rx.disk["received"].data, big)) << t;
            EXPECT_TRUE(p.rx.disk["received"].complete) << t;
        }
        EXPECT_EQ(p.sender->effectiveType(), t);
    }
}

TEST(XmodemEngines, SenderFollowsTheReceiversStartCharacter)
{
    // A CRC sender and a checksum receiver: the sender falls back to checksum blocks.
    Pair p(ptXmodemCRC);
    p.rxSettings = settingsFor(ptXmodem);
    p.add("f", randomBytes(5000, 3));
    ASSERT_TRUE(p.run());
    EXPECT_EQ(p.receiver->result(), 0);
    EXPECT_FALSE(p.sender->crc());
    EXPECT_EQ(p.sender->effectiveType(), ptXmodem);
    EXPECT_TRUE(paddedEqual(p.rx.disk["received"].data, p.tx.toSend[0].second.data));

    // Xmodem-1K-G asks with 'G' and gets 1024-byte blocks without acknowledgements.
    FakeHost host;
    XmodemReceiver g(host, settingsFor(ptXmodem1KG));
    g.start(0);
    ASSERT_EQ(host.out, std::vector<uint8_t>{'G'});
    EXPECT_EQ(XmodemReceiver(host, settingsFor(ptXmodemCRC)).startChar(), 'C');
    EXPECT_EQ(XmodemReceiver(host, settingsFor(ptXmodem)).startChar(), NAK);
}

TEST(XmodemEngines, DamagedAndRepeatedBlocksRecoverUpToTheErrorLimit)
{
    // The fifth consecutive error on one block is retried, the sixth ends the transfer.
    for (int damage : {5, 6}) {
        Pair p(ptXmodemCRC);
        p.add("f", randomBytes(3000, 4));
        p.link.aToB = BlockDamage{3, damage, 0, {}};
        ASSERT_TRUE(p.run()) << damage;
        if (damage == 5) {
            EXPECT_EQ(p.receiver->result(), 0);
            EXPECT_TRUE(paddedEqual(p.rx.disk["received"].data, p.tx.toSend[0].second.data));
            EXPECT_EQ(p.receiver->state().TotalErrors, 5u);
        } else {
            EXPECT_EQ(p.receiver->result(), -ecTooManyErrors);
            EXPECT_EQ(p.receiver->state().ProtocolStatus, psProtocolError);
            EXPECT_EQ(p.sender->result(), -ecCancelRequested) << "the receiver's cancel ends the sender";
        }
    }
    // A lost acknowledgement: the sender times out and repeats the block, which the
    // receiver acknowledges again and drops.
    Pair p(ptXmodem1K);
    p.add("f", randomBytes(5000, 5));
    int acks = 0;
    p.link.bToA = [&](uint64_t, uint8_t& b) { return !(b == ACK && ++acks == 2); };
    ASSERT_TRUE(p.run());
    EXPECT_EQ(p.receiver->result(), 0);
    EXPECT_TRUE(paddedEqual(p.rx.disk["received"].data, p.tx.toSend[0].second.data));
    EXPECT_GE(p.sender->state().TotalErrors, 1u) << "the block went twice";
}

TEST(XmodemEngines, OutOfSequenceBlockCancelsTheTransfer)
{
    FakeHost host;
    XmodemReceiver rx(host, settingsFor(ptXmodemCRC));
    rx.start(0);
    std::vector<uint8_t> blocks;
    const auto data = randomBytes(128, 6);
    AppendBlock(blocks, 1, data.data(), data.size(), 128, true, SUB);
    AppendBlock(blocks, 3, data.data(), data.size(), 128, true, SUB);
    host.out.clear();
    rx.receive(blocks.data(), blocks.size(), 10);
    ASSERT_TRUE(rx.done());
    EXPECT_EQ(rx.result(), -ecSequenceError);
    EXPECT_EQ(rx.state().ProtocolStatus, psSequenceError);
    const std::vector<uint8_t> expected = {CAN, CAN, CAN, BS, BS, BS};
    EXPECT_EQ(host.out, expected) << "pending output discarded, then the cancel sequence";
    EXPECT_EQ(rx.state().BytesTransferred, 128u) << "block 1 was taken";
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0], -ecSequenceError);
}

TEST(XmodemEngines, StreamingEndsAtTheFirstErrorAndCancelEndsBothSides)
{
    for (TProtocolType t : {ptXmodem1KG, ptYmodemG}) {
        Pair p(t);
        p.add("f", randomBytes(30000, 7));
        p.link.aToB = [](uint64_t i, uint8_t& b) {
            if (i == 9000)
                b ^= 0x10;
            return true;
        };
        ASSERT_TRUE(p.run()) << t;
        EXPECT_EQ(p.receiver->result(), -ecProtocolError) << t;
        EXPECT_EQ(p.sender->result(), -ecCancelRequested) << t;
    }
    for (bool senderCancels : {true, false}) {
        Pair p(ptXmodem1K);
        p.add("f", randomBytes(200000, 8));
        p.sender = std::make_unique<XmodemSender>(p.tx, p.txSettings);
        p.receiver = std::make_unique<XmodemReceiver>(p.rx, p.rxSettings);
        p.receiver->start(p.now);
        p.sender->start(p.now);
        for (int i = 0; i < 40; ++i) {
            Link::move(p.rx, *p.sender, nullptr, p.link.countBA, 4096, p.now);
            Link::move(p.tx, *p.receiver, nullptr, p.link.countAB, 4096, p.now);
        }
        ASSERT_GT(p.receiver->state().BytesTransferred, 0u);
        ProtocolEngine& canceller = senderCancels ? static_cast<ProtocolEngine&>(*p.sender) : *p.receiver;
        canceller.cancel(p.now);
        const std::vector<uint8_t>& sent = senderCancels ? p.tx.out : p.rx.out;
        EXPECT_EQ(sent, (std::vector<uint8_t>{CAN, CAN, CAN, BS, BS, BS}));
        ASSERT_TRUE(p.link.run(*p.sender, p.tx, *p.receiver, p.rx, p.now));
        EXPECT_EQ(p.sender->result(), -ecCancelRequested) << senderCancels;
        EXPECT_EQ(p.receiver->result(), -ecCancelRequested) << senderCancels;
        EXPECT_FALSE(p.rx.disk["received"].complete);
    }
}

TEST(XmodemEngines, StreamingSenderTellsTheEotsAcknowledgementFromLateBlockOnes)
{
    // Three blocks and the EOT have gone out before any reply came back, as on a slow
    // or loaded line; the replies then arrive.
    struct Streamed {
        FakeHost host;
        std::unique_ptr<XmodemSender> tx;
        int64_t now = 1000;
        explicit Streamed(TProtocolType t)
        {
            MemFile f;
            f.data = randomBytes(3000, 9);
            host.toSend.emplace_back("f", std::move(f));
            tx = std::make_unique<XmodemSender>(host, settingsFor(t));
            tx->start(now);
            if (t == ptYmodemG) {
                reply({'G'});
                reply({ACK});
            }
            reply({'G'});
            for (int i = 0; i < 100 && tx->currentState() != XmodemSender::txEotReply; ++i) {
                host.out.clear();
                now += 55;
                tx->poll(now);
            }
            EXPECT_EQ(tx->currentState(), XmodemSender::txEotReply);
        }
        void reply(std::vector<uint8_t> bytes) { tx->receive(bytes.data(), bytes.size(), now); }
        void wait(int64_t ms)
        {
            now += ms;
            tx->poll(now);
        }
    };
    {
        // Acknowledgements of the first blocks, then the receiver's cancel (it found
        // damage further on): the sender fails, it does not report success.
        Streamed s(ptXmodem1KG);
        s.reply({ACK, ACK});
        s.wait(500);
        EXPECT_FALSE(s.tx->done());
        s.reply({CAN, CAN});
        EXPECT_EQ(s.tx->result(), -ecCancelRequested);
        EXPECT_TRUE(s.host.sentComplete.empty());
    }
    {
        // Every block acknowledged, then the EOT: done at the fourth ACK.
        Streamed s(ptXmodem1KG);
        s.reply({ACK, ACK, ACK});
        EXPECT_FALSE(s.tx->done());
        s.reply({ACK});
        EXPECT_TRUE(s.tx->done());
        EXPECT_EQ(s.tx->result(), 0);
    }
    {
        // A receiver that acknowledges only the EOT: its lone ACK counts after a second
        // of quiet.
        Streamed s(ptXmodem1KG);
        s.reply({ACK});
        s.wait(900);
        EXPECT_FALSE(s.tx->done());
        s.wait(200);
        EXPECT_TRUE(s.tx->done());
        EXPECT_EQ(s.tx->result(), 0);
        EXPECT_EQ(s.host.sentComplete.size(), 1u);
    }
    {
        // Ymodem-G: the request for the next block 0 right after the lone ACK.
        Streamed s(ptYmodemG);
        s.reply({ACK, 'G'});
        EXPECT_EQ(s.host.sentComplete.size(), 1u);
        EXPECT_EQ(s.tx->currentState(), XmodemSender::tyFinishd) << "the empty block 0 ends the batch";
    }
}

TEST(XmodemEngines, HandshakeRepeatsTheStartCharacterThenTimesOut)
{
    FakeHost host;
    EngineSettings s = settingsFor(ptXmodemCRC);
    s.HandshakeRetry = 4;
    XmodemReceiver rx(host, s);
    int64_t now = 0;
    rx.start(now);
    // Noise before the sender begins is ignored.
    const uint8_t noise[] = {'r', 'x', '\r', '\n', 0x7F};
    rx.receive(noise, sizeof noise, now);
    auto starts = std::count(host.out.begin(), host.out.end(), 'C');
    while (!rx.done() && now < 100000) {
        host.out.clear();
        now = rx.deadline();
        rx.poll(now);
        if (!rx.done())
            starts += std::count(host.out.begin(), host.out.end(), 'C');
    }
    EXPECT_EQ(rx.result(), -ecTimeout);
    EXPECT_EQ(rx.state().ProtocolStatus, psTimeout);
    EXPECT_EQ(starts, 4);
    EXPECT_EQ(rx.state().BlockErrors, 3u) << "every repetition after the first counts";
}

TEST(XmodemEngines, YmodemBlockZeroAndNamesFromTheLine)
{
    Pair p(ptYmodem);
    p.add("dir/One.TXT", {'1'}, 01234567);
    p.add("../evil", {'e'});
    p.add("two", {'2', '2'});
    p.txSettings.IncludeDirectory = true;
    p.rx.resolver = [](const std::string& wire, std::string& path) {
        if (wire.find("..") != std::string::npos)
            return static_cast<int>(psSkipFile);
        path = "/dest/" + wire;
        return 0;
    };
    std::vector<uint8_t> wire;
    p.link.aToB = [&](uint64_t, uint8_t& b) {
        wire.push_back(b);
        return true;
    };
    ASSERT_TRUE(p.run());
    EXPECT_EQ(p.receiver->result(), 0);
    EXPECT_EQ(p.rx.disk["/dest/dir/one.txt"].data, std::vector<uint8_t>{'1'});
    EXPECT_EQ(p.rx.disk["/dest/dir/one.txt"].mtime, 01234567);
    EXPECT_EQ(p.rx.disk["/dest/two"].data, (std::vector<uint8_t>{'2', '2'}));
    EXPECT_EQ(p.rx.disk.size(), 2u) << "the refused name is skipped, the batch goes on";
    // Block 0: number 0, its complement, name NUL length SP octal time.
    ASSERT_GE(wire.size(), 133u);
    EXPECT_EQ(wire[0], SOH);
    EXPECT_EQ(wire[1], 0);
    EXPECT_EQ(wire[2], 0xFF);
    const BatchFileHeader h = ParseBatchFileInfo(wire.data() + 3, 128);
    EXPECT_EQ(h.name, "dir/one.txt");
    EXPECT_EQ(h.length, 1u);
    EXPECT_EQ(h.mtime, 01234567);
    const std::string text(reinterpret_cast<const char*>(wire.data()) + 3 + 12, 9);
    EXPECT_EQ(text, "1 1234567");
    // The batch ends with an empty block 0.
    const size_t n = wire.size();
    ASSERT_GE(n, 133u);
    EXPECT_EQ(wire[n - 133], SOH);
    EXPECT_EQ(wire[n - 132], 0);
    EXPECT_EQ(wire[n - 130], 0) << "no name";
}
