// The Kermit engines wired to each other in memory: batches with every setting that
// changes the packets, selective retransmission in sliding windows, the retry limit,
// cancel from either side, files that cannot be written or may not be overwritten, and
// lost handshake packets. Time is simulated, so time-outs cost nothing.

#include <gtest/gtest.h>

#include "fake_host.h"
#include "protocols/kermit_decoder.h"
#include "protocols/kermit_defs.h"
#include "protocols/kermit_receiver.h"
#include "protocols/kermit_sender.h"

using namespace zelvo::protocols;
using namespace zelvo::protocols::kermit;
using zelvo::protocols::test::FakeHost;
using zelvo::protocols::test::Link;
using zelvo::protocols::test::MemFile;
using zelvo::protocols::test::randomBytes;

namespace {

EngineSettings fastSettings()
{
    EngineSettings s;
    s.HandshakeWaitMs = 3000;
    return s;
}

struct Pair {
    FakeHost tx, rx;
    EngineSettings txSettings = fastSettings(), rxSettings = fastSettings();
    std::unique_ptr<KermitSender> sender;
    std::unique_ptr<KermitReceiver> receiver;
    Link link;
    int64_t now = 1000;

    void add(const std::string& name, std::vector<uint8_t> data)
    {
        MemFile f;
        f.data = std::move(data);
        tx.toSend.emplace_back(name, std::move(f));
    }
    void both(uint32_t maxLen, uint32_t windows)
    {
        txSettings.KermitMaxLen = rxSettings.KermitMaxLen = maxLen;
        txSettings.KermitMaxWindows = rxSettings.KermitMaxWindows = windows;
    }
    void make()
    {
        sender = std::make_unique<KermitSender>(tx, txSettings);
        receiver = std::make_unique<KermitReceiver>(rx, rxSettings);
    }
    bool run(int maxSteps = 400000)
    {
        if (!sender)
            make();
        receiver->start(now);
        sender->start(now);
        return link.run(*sender, tx, *receiver, rx, now, maxSteps);
    }
    void expectAllArrived()
    {
        for (const auto& [name, file] : tx.toSend) {
            ASSERT_TRUE(rx.disk.count(name)) << name;
            EXPECT_EQ(rx.disk[name].data, file.data) << name;
            EXPECT_TRUE(rx.disk[name].complete) << name;
        }
    }
};

std::vector<uint8_t> everyByte(size_t repeat)
{
    std::vector<uint8_t> v;
    for (size_t r = 0; r < repeat; ++r)
        for (int b = 0; b < 256; ++b)
            v.push_back(static_cast<uint8_t>(b));
    return v;
}

std::vector<uint8_t> text(size_t n)
{
    std::vector<uint8_t> v;
    static const char* kLine = "The quick brown fox jumps over the lazy dog;  #~& 0123456789\n";
    while (v.size() < n)
        for (const char* c = kLine; *c && v.size() < n; ++c)
            v.push_back(static_cast<uint8_t>(*c));
    return v;
}

// The packets of one direction of a recorded stream.
std::vector<KermitDecoder::Event> packetsIn(const std::vector<uint8_t>& wire, int checkType)
{
    KermitDecoder dec;
    dec.setCheckType(checkType);
    std::vector<KermitDecoder::Event> out;
    for (size_t i = 0; i < wire.size();) {
        KermitDecoder::Event ev;
        i += dec.feed(wire.data() + i, wire.size() - i, ev);
        if (ev.kind == KermitDecoder::EventKind::Packet)
            out.push_back(ev);
    }
    return out;
}

} // namespace

TEST(KermitEngines, BatchesArriveIntactWithEverySetting)
{
    struct Case {
        uint32_t maxLen, windows;
        uint8_t txBin, rxBin, rept;
        uint32_t block;
        int check;
    } cases[] = {
        {80, 0, 'Y', 'Y', '~', 80, 1},
        {1000, 20, 'Y', 'Y', '~', 1000, 2},
        {500, 4, '&', 'Y', ' ', 500, 2},   // eighth-bit prefixing, no repeat compression
        {94, 27, 'Y', '&', '~', 94, 1},
        {0, 2, 'Y', 'Y', '~', 80, 1},      // a dialog entry that was not a number
    };
    for (const Case& c : cases) {
        Pair p;
        p.both(c.maxLen, c.windows);
        p.txSettings.KermitHighbitPrefix = static_cast<char>(c.txBin);
        p.rxSettings.KermitHighbitPrefix = static_cast<char>(c.rxBin);
        p.txSettings.KermitRepeatPrefix = p.rxSettings.KermitRepeatPrefix = static_cast<char>(c.rept);
        p.add("random.bin", randomBytes(70000, c.maxLen));
        p.add("empty", {});
        p.add("every byte", everyByte(9));
        p.add("text.txt", text(30000));
        p.add("runs", std::vector<uint8_t>(5000, 0));
        ASSERT_TRUE(p.run()) << c.maxLen;
        EXPECT_EQ(p.sender->result(), 0) << c.maxLen;
        EXPECT_EQ(p.receiver->result(), 0) << c.maxLen;
        p.expectAllArrived();
        EXPECT_EQ(p.tx.sentComplete.size(), 5u);
        EXPECT_EQ(p.sender->link().windows, std::max(1u, c.windows));
        EXPECT_EQ(p.receiver->link().windows, std::max(1u, c.windows));
        EXPECT_EQ(p.sender->state().BlockLength, c.block) << c.maxLen;
        EXPECT_EQ(p.receiver->link().checkType, c.check);
        EXPECT_EQ(p.sender->link().bin, c.txBin == '&' || c.rxBin == '&' ? '&' : 0);
        EXPECT_EQ(p.sender->resent(), 0u);
        EXPECT_EQ(p.receiver->state().TotalErrors, 0u);
    }
}

TEST(KermitEngines, OnlyDamagedPacketsAreSentAgainInAWindow)
{
    for (bool drop : {false, true}) {
        Pair p;
        p.both(1000, 20);
        p.add("f", randomBytes(300000, 2));
        // Three faults well apart, in data packets of the first file.
        p.link.aToB = [&](uint64_t i, uint8_t& b) {
            if (i == 40000 || i == 120000 || i == 200000) {
                if (drop)
                    return false;
                b ^= 0x04;
            }
            return true;
        };
        ASSERT_TRUE(p.run()) << drop;
        EXPECT_EQ(p.receiver->result(), 0);
        EXPECT_EQ(p.sender->result(), 0);
        p.expectAllArrived();
        EXPECT_EQ(p.sender->resent(), 3u) << "one packet again per fault, nothing else; drop " << drop;
        EXPECT_EQ(p.receiver->state().TotalErrors, drop ? 3u : 3u);
    }
}

TEST(KermitEngines, LostRepliesAndHandshakePacketsAreRecovered)
{
    Pair p;
    p.both(1000, 8);
    p.add("a", randomBytes(40000, 3));
    p.add("b", randomBytes(100, 4));
    // Lose the first Send-Init, the first answer to it, and one acknowledgement of data.
    int sFrom = 0;
    p.link.aToB = [&](uint64_t i, uint8_t&) { return !(i < 5 && ++sFrom); };
    int acks = 0;
    p.link.bToA = [&](uint64_t i, uint8_t& b) {
        if (b == MARK && ++acks == 12)
            b = 'x';
        return i > 20;  // the receiver's NAK and its first Send-Init answer
    };
    p.make();
    // The sender starts first: its Send-Init is lost, the receiver's NAK brings it again.
    p.sender->start(p.now);
    p.receiver->start(p.now + 100);
    ASSERT_TRUE(p.link.run(*p.sender, p.tx, *p.receiver, p.rx, p.now));
    EXPECT_EQ(p.sender->result(), 0);
    EXPECT_EQ(p.receiver->result(), 0);
    p.expectAllArrived();
}

TEST(KermitEngines, TooManyRetriesEndWithTheRetryLimitOnBothSides)
{
    for (uint32_t windows : {0u, 12u}) {
        Pair p;
        p.both(1000, windows);
        p.add("f", randomBytes(200000, 5));
        // After the handshake every packet from the sender is damaged: one side runs out
        // of retries and its error packet ends the other.
        p.link.aToB = [&](uint64_t i, uint8_t& b) {
            if (i > 200 && i % 150 == 0)
                b ^= 0x01;
            return true;
        };
        ASSERT_TRUE(p.run()) << windows;
        const bool senderFirst = p.sender->result() == -ecTooManyErrors;
        KermitEngine& first = senderFirst ? static_cast<KermitEngine&>(*p.sender) : *p.receiver;
        KermitEngine& second = senderFirst ? static_cast<KermitEngine&>(*p.receiver) : *p.sender;
        EXPECT_EQ(first.result(), -ecTooManyErrors) << windows;
        EXPECT_EQ(second.result(), -ecCancelRequested) << windows;
        EXPECT_EQ(second.state().Detail, "error from the other side: Too many errors during protocol");
        EXPECT_FALSE(p.rx.disk["f"].complete);
    }
    // The other way round: every acknowledgement is damaged, so the sender gives up.
    Pair p;
    p.both(80, 4);
    p.add("f", randomBytes(20000, 6));
    p.link.bToA = [&](uint64_t i, uint8_t& b) {
        if (i > 40 && b == 'Y')
            b = 'y';
        return true;
    };
    ASSERT_TRUE(p.run());
    EXPECT_EQ(p.sender->result(), -ecTooManyErrors);
    EXPECT_EQ(p.sender->state().ProtocolError, -ecTooManyErrors);
    EXPECT_EQ(p.tx.errors, std::vector<int>{-ecTooManyErrors});
}

TEST(KermitEngines, CancelFromEitherSideEndsBoth)
{
    for (bool senderCancels : {true, false}) {
        Pair p;
        p.both(1000, 20);
        p.add("f", randomBytes(400000, 7));
        p.make();
        p.receiver->start(p.now);
        p.sender->start(p.now);
        // Let some data flow, then cancel.
        p.link.run(*p.sender, p.tx, *p.receiver, p.rx, p.now, 6);
        ASSERT_GT(p.receiver->position(), 0u);
        ASSERT_FALSE(p.receiver->done());
        if (senderCancels)
            p.sender->cancel(p.now);
        else
            p.receiver->cancel(p.now);
        ASSERT_TRUE(p.link.run(*p.sender, p.tx, *p.receiver, p.rx, p.now, 1000));
        EXPECT_EQ(p.sender->result(), -ecCancelRequested);
        EXPECT_EQ(p.receiver->result(), -ecCancelRequested);
        EXPECT_EQ(p.sender->state().ProtocolStatus, psCancelRequested);
        EXPECT_EQ(p.receiver->state().ProtocolStatus, psCancelRequested);
        EXPECT_FALSE(p.rx.disk["f"].complete);
        EXPECT_LT(p.now, 2000) << "at once, not after time-outs";
    }
}

namespace {

class FailingHost : public FakeHost {
public:
    int failWriteAt = -1;
    int writes = 0;
    int prepareResult = 0;
    int writeFile(uint64_t off, const uint8_t* d, size_t n) override
    {
        if (++writes == failWriteAt)
            return -28;
        return FakeHost::writeFile(off, d, n);
    }
    int prepareReceiveFile(std::string& path) override
    {
        if (prepareResult != 0 && path == "exists") {
            statuses.push_back({});
            return prepareResult;
        }
        return FakeHost::prepareReceiveFile(path);
    }
};

struct FailPair {
    FakeHost tx;
    FailingHost rx;
    KermitSender sender{tx, fastSettings()};
    KermitReceiver receiver{rx, fastSettings()};
    Link link;
    int64_t now = 0;
    void add(const std::string& name, std::vector<uint8_t> data)
    {
        MemFile f;
        f.data = std::move(data);
        tx.toSend.emplace_back(name, std::move(f));
    }
    bool run()
    {
        receiver.start(now);
        sender.start(now);
        return link.run(sender, tx, receiver, rx, now);
    }
};

} // namespace

TEST(KermitEngines, FilesThatCannotBeWrittenOrMayNotBeOverwritten)
{
    {
        // A disk that fills up: error packet with the system's text, -6012 on our side.
        FailPair p;
        p.rx.failWriteAt = 5;
        p.add("f", randomBytes(5000, 8));
        std::vector<uint8_t> toSender;
        p.link.bToA = [&](uint64_t, uint8_t& b) {
            toSender.push_back(b);
            return true;
        };
        ASSERT_TRUE(p.run());
        EXPECT_EQ(p.receiver.result(), -ecCantWriteFile);
        EXPECT_EQ(p.rx.errors.front(), -28) << "the file error is reported first";
        EXPECT_EQ(p.sender.result(), -ecCancelRequested);
        EXPECT_EQ(p.sender.state().Detail, "error from the other side: Error opening or writing file");
        const auto packets = packetsIn(toSender, 1);
        ASSERT_FALSE(packets.empty());
        EXPECT_EQ(packets.back().type, 'E');
    }
    {
        // WriteFailAction refuses an existing file: it is skipped without an error, the
        // sender is told to stop it, and the next file arrives.
        FailPair p;
        p.rx.prepareResult = psCantWriteFile;
        p.add("exists", randomBytes(20000, 9));
        p.add("new", {'n'});
        ASSERT_TRUE(p.run());
        EXPECT_EQ(p.receiver.result(), 0);
        EXPECT_EQ(p.sender.result(), 0);
        EXPECT_FALSE(p.rx.disk.count("exists"));
        EXPECT_EQ(p.rx.disk["new"].data, std::vector<uint8_t>{'n'});
        EXPECT_EQ(p.tx.sentComplete, std::vector<std::string>{"new"});
        EXPECT_EQ(p.tx.statuses[p.tx.statuses.size() - 3].ProtocolStatus, psSkipFile) << "the sender saw the skip";
        EXPECT_LT(p.link.countAB, 5000u) << "the sender stopped early";
    }
    {
        // When the refused file is the last one, its status decides the end code.
        FailPair p;
        p.rx.prepareResult = psCantWriteFile;
        p.add("exists", {'x'});
        ASSERT_TRUE(p.run());
        EXPECT_EQ(p.receiver.result(), -ecCantWriteFile);
        EXPECT_EQ(p.sender.result(), 0);
    }
}

TEST(KermitEngines, APacketBeyondTheWindowTableEndsTheTransfer)
{
    FakeHost rx;
    EngineSettings k = fastSettings();
    k.KermitMaxWindows = 4;
    KermitReceiver receiver(rx, k);
    receiver.start(0);
    KermitParams peer = KermitParams::ours(k);
    const auto init = peer.encode();
    std::vector<uint8_t> sent;
    auto feed = [&](uint8_t seq, uint8_t type, const std::string& data) {
        std::vector<uint8_t> in;
        KermitPacket::build(in, seq, type, reinterpret_cast<const uint8_t*>(data.data()), data.size(), 1, {});
        rx.out.clear();
        receiver.receive(in.data(), in.size(), 10);
        sent.insert(sent.end(), rx.out.begin(), rx.out.end());
    };
    feed(0, 'S', std::string(init.begin(), init.end()));
    feed(1, 'F', "f");
    feed(2, 'D', "abc");
    feed(4, 'D', "ghi");  // held: 3 is missing
    EXPECT_EQ(receiver.state().KermitWindows, 1u) << "the status window's windows in use";
    feed(20, 'D', "far");
    EXPECT_TRUE(receiver.done());
    EXPECT_EQ(receiver.result(), -ecTableFull);
    const auto packets = packetsIn(sent, 1);
    ASSERT_EQ(packets.size(), 6u);
    EXPECT_EQ(packets[3].seq, 4) << "the packet ahead is acknowledged";
    EXPECT_EQ(packets[4].type, 'N') << "the missing one is asked for";
    EXPECT_EQ(packets[4].seq, 3);
    EXPECT_EQ(packets[5].type, 'E');
    EXPECT_FALSE(rx.disk["f"].complete);
}

TEST(KermitEngines, TheSenderFillsItsWindowAndShowsTheSlotsInUse)
{
    FakeHost tx;
    MemFile f;
    f.data = randomBytes(20000, 10);
    tx.toSend.emplace_back("f", f);
    EngineSettings s = fastSettings();
    s.KermitMaxWindows = 4;
    KermitSender sender(tx, s);
    sender.start(0);
    std::vector<uint8_t> in;
    const auto answer = KermitParams::ours(s).encode();
    KermitPacket::build(in, 0, 'Y', answer.data(), answer.size(), 1, {});
    KermitPacket::build(in, 1, 'Y', nullptr, 0, 1, {});  // the file header is taken
    tx.out.clear();
    sender.receive(in.data(), in.size(), 10);
    auto packets = packetsIn(tx.out, 1);
    ASSERT_EQ(packets.size(), 5u) << "the file header, then as many data packets as window slots";
    EXPECT_EQ(packets[0].type, 'F');
    EXPECT_EQ(packets[4].seq, 5);
    EXPECT_EQ(sender.state().KermitWindows, 4u);
    // A NAK for one of them brings that one again, alone.
    in.clear();
    tx.out.clear();
    KermitPacket::build(in, 3, 'N', nullptr, 0, 1, {});
    sender.receive(in.data(), in.size(), 20);
    packets = packetsIn(tx.out, 1);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].seq, 3);
    // A NAK for the packet after the last one sent acknowledges them all: the window
    // moves on by four.
    in.clear();
    tx.out.clear();
    KermitPacket::build(in, 6, 'N', nullptr, 0, 1, {});
    sender.receive(in.data(), in.size(), 30);
    packets = packetsIn(tx.out, 1);
    ASSERT_EQ(packets.size(), 4u);
    EXPECT_EQ(packets[0].seq, 6);
    EXPECT_EQ(sender.state().KermitWindows, 4u);
}
