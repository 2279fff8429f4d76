// Kermit over pseudo-terminals, through a relay, with the protocol component on our
// side: against C-Kermit and G-Kermit and against ourselves, comparing files byte for
// byte. Tests that need a peer skip when it is not installed.

#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <unistd.h>

#include "fake_host.h"
#include "platform/clock.h"
#include "protocols/direct_line.h"
#include "protocols/kermit_receiver.h"
#include "protocols/kermit_sender.h"
#include "protocols/protocol.h"
#include "pty_harness.h"

using namespace zelvo;
using namespace zelvo::protocols;
using namespace zelvo::protocols::test;

namespace {

#define NEED(program, package)                                                   \
    do {                                                                         \
        if (!haveProgram(program))                                               \
            GTEST_SKIP() << package " (" program ") is not installed";          \
    } while (0)

struct Dirs {
    std::string src = makeTempDir();
    std::string dst = makeTempDir();
    ~Dirs()
    {
        removeTree(src);
        removeTree(dst);
    }
};

// Our end of the line: a protocol component on the slave of a pty pair.
struct Ours {
    PtyPair pty;
    DirectLine line;
    Protocol proto;
    std::vector<TransferState> lastStatuses;
    std::vector<int> errors;
    uint32_t mostWindows = 0;
    std::atomic<bool> interrupt{false};

    explicit Ours(uint32_t maxLen = 80, uint32_t windows = 0)
    {
        proto.setProtocolType(ptKermit);
        proto.setUpcaseFileNames(false);
        proto.setHandshakeWait(91);
        proto.setStatusInterval(1);
        proto.setKermitMaxLen(maxLen);
        proto.setKermitMaxWindows(windows);
        line.adopt(::dup(pty.slave), 115200);
        proto.setComPort(&line);
        proto.OnProtocolStatus = [this](Protocol& p, uint16_t flags) {
            mostWindows = std::max(mostWindows, p.KermitWindowsUsed());
            if (flags & kStatusLast)
                lastStatuses.push_back(p.Snapshot());
        };
        proto.OnProtocolError = [this](Protocol&, int code) { errors.push_back(code); };
    }
    void sendFiles(std::vector<std::string> files)
    {
        auto next = std::make_shared<size_t>(0);
        proto.OnProtocolNextFile = [files, next](Protocol&, std::string& name) {
            name = *next < files.size() ? files[(*next)++] : std::string();
        };
    }
    int send()
    {
        const int rc = proto.BeginTransmit();
        return rc ? rc : line.run(proto, &interrupt);
    }
    int receive(const std::string& dir)
    {
        proto.setDestinationDirectory(dir);
        const int rc = proto.BeginReceive();
        return rc ? rc : line.run(proto, &interrupt);
    }
    const KermitEngine* engine() const { return dynamic_cast<const KermitEngine*>(proto.engine()); }
};

std::vector<uint8_t> everyByte(size_t repeat)
{
    std::vector<uint8_t> v;
    for (size_t r = 0; r < repeat; ++r)
        for (int b = 0; b < 256; ++b)
            v.push_back(static_cast<uint8_t>(b));
    return v;
}

std::vector<uint8_t> textFile(size_t n)
{
    std::vector<uint8_t> v;
    static const char* kLine = "Lines of text, as a terminal user keeps them.\tTabs, #hashes# and ~tildes~.\n";
    while (v.size() < n)
        for (const char* c = kLine; *c && v.size() < n; ++c)
            v.push_back(static_cast<uint8_t>(*c));
    return v;
}

struct Sample {
    std::string name;
    std::vector<uint8_t> data;
};

// Binary, text, empty and every byte value: a batch of four.
std::vector<Sample> samples(const std::string& dir)
{
    std::vector<Sample> s = {
        {"random.bin", randomBytes(100000, 21)},
        {"text.txt", textFile(40000)},
        {"empty.dat", {}},
        {"every.bin", everyByte(40)},
    };
    for (const auto& f : s)
        writeBytes(dir + "/" + f.name, f.data);
    return s;
}

void expectArrived(const std::vector<Sample>& files, const std::string& dir)
{
    for (const auto& f : files) {
        ASSERT_TRUE(fileExists(dir + "/" + f.name)) << f.name;
        EXPECT_EQ(readBytes(dir + "/" + f.name), f.data) << f.name;
    }
}

// C-Kermit on its controlling terminal, driven by a command file, for binary
// transfers with literal names.
std::unique_ptr<Peer> startCKermit(PtyPair& pty, const std::string& dir, const std::vector<std::string>& extra,
                                   const std::vector<std::string>& actions)
{
    std::ofstream f(dir + "/cmds");
    for (const char* l : {"set file type binary", "set transfer mode manual", "set streaming off",
                          "set file names literal", "set file collision overwrite", "set receive pathnames off",
                          "set delay 0"})
        f << l << "\n";
    for (const auto& l : extra)
        f << l << "\n";
    for (const auto& l : actions)
        f << l << "\n";
    f << "exit\n";
    f.close();
    return std::make_unique<Peer>(std::vector<std::string>{"kermit", "-Y", "-q", "-C", "take cmds"}, pty, dir);
}

const std::vector<std::string> kTuned = {"set window 20", "set send packet-length 1000",
                                         "set receive packet-length 1000", "set block-check 3"};

} // namespace

class KermitWithCKermit : public ::testing::TestWithParam<bool> {};

// C-Kermit's defaults; windows of 20, packets of 1000 and check type 3.
INSTANTIATE_TEST_SUITE_P(Settings, KermitWithCKermit, ::testing::Values(false, true));

TEST_P(KermitWithCKermit, ReceivesABatch)
{
    NEED("kermit", "C-Kermit");
    const bool tuned = GetParam();
    Dirs d;
    const auto files = samples(d.src);
    Ours us(tuned ? 1000 : 80, tuned ? 20 : 0);
    PtyPair peerPty;
    Relay relay(us.pty.master, peerPty.master);
    auto kermit = startCKermit(peerPty, d.src, tuned ? kTuned : std::vector<std::string>{},
                               {"msend random.bin text.txt empty.dat every.bin"});
    EXPECT_EQ(us.receive(d.dst), 0) << us.proto.Snapshot().stateName;
    EXPECT_EQ(kermit->wait(20000), 0);
    expectArrived(files, d.dst);
    ASSERT_NE(us.engine(), nullptr);
    EXPECT_EQ(us.engine()->link().windows, tuned ? 20u : 1u);
    EXPECT_EQ(us.engine()->link().checkType, 3) << "C-Kermit proposes check type 3 either way";
    EXPECT_EQ(us.proto.Snapshot().BlockCheck, bcmCrcK);
    EXPECT_EQ(us.engine()->link().longPackets, tuned);
}

TEST_P(KermitWithCKermit, SendsABatch)
{
    NEED("kermit", "C-Kermit");
    const bool tuned = GetParam();
    Dirs d;
    const auto files = samples(d.src);
    Ours us(tuned ? 1000 : 80, tuned ? 20 : 0);
    us.proto.setFileMask(d.src + "/*");
    PtyPair peerPty;
    Relay relay(us.pty.master, peerPty.master);
    auto kermit = startCKermit(peerPty, d.dst, tuned ? kTuned : std::vector<std::string>{}, {"receive"});
    EXPECT_EQ(us.send(), 0) << us.proto.Snapshot().stateName;
    EXPECT_EQ(kermit->wait(20000), 0);
    expectArrived(files, d.dst);
    ASSERT_NE(us.engine(), nullptr);
    if (tuned) {
        EXPECT_EQ(us.engine()->link().windows, 20u);
        EXPECT_TRUE(us.engine()->link().longPackets);
        EXPECT_GE(us.engine()->link().longLength, 990u) << "C-Kermit announces a little less than it is set to";
        EXPECT_GT(us.mostWindows, 0u) << "the status window shows the windows in use";
    }
}

TEST(KermitWithCKermitPeer, AFileItRefusesIsSkippedAndTheBatchGoesOn)
{
    NEED("kermit", "C-Kermit");
    Dirs d;
    writeBytes(d.src + "/exists.txt", randomBytes(60000, 22));
    writeBytes(d.src + "/fresh.txt", {'n', 'e', 'w'});
    writeBytes(d.dst + "/exists.txt", {'o', 'l', 'd'});
    Ours us;
    us.sendFiles({d.src + "/exists.txt", d.src + "/fresh.txt"});
    PtyPair peerPty;
    Relay relay(us.pty.master, peerPty.master);
    auto kermit = startCKermit(peerPty, d.dst, {"set file collision discard"}, {"receive"});
    EXPECT_EQ(us.send(), 0);
    kermit->wait(20000);
    EXPECT_EQ(readBytes(d.dst + "/exists.txt"), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(readBytes(d.dst + "/fresh.txt"), (std::vector<uint8_t>{'n', 'e', 'w'}));
    ASSERT_EQ(us.lastStatuses.size(), 2u);
    EXPECT_EQ(us.lastStatuses[0].ProtocolStatus, psSkipFile);
    EXPECT_LT(relay.toPeer.load(), 30000u) << "the refused file was not sent to the end";
}

TEST(KermitWithCKermitPeer, NamesFromTheLineStayInsideTheDestination)
{
    NEED("kermit", "C-Kermit");
    for (bool honor : {false, true}) {
        Dirs d;
        const std::string inside = d.dst + "/in";
        ::mkdir(inside.c_str(), 0755);
        writeBytes(d.src + "/a", {'a'});
        writeBytes(d.src + "/b", {'b'});
        writeBytes(d.src + "/c", {'c'});
        Ours us;
        us.proto.setHonorDirectory(honor);
        PtyPair peerPty;
        Relay relay(us.pty.master, peerPty.master);
        // One batch with as-names: up and out of the destination, absolute, and plain.
        auto kermit = startCKermit(peerPty, d.src, {"set send pathnames on"},
                                   {"add send-list a binary ../../x", "add send-list b binary " + d.src + "/abs",
                                    "add send-list c binary plain", "send"});
        EXPECT_EQ(us.receive(inside), 0) << honor;
        kermit->wait(20000);
        EXPECT_FALSE(fileExists(d.dst + "/x")) << honor;
        EXPECT_FALSE(fileExists(d.src + "/../x")) << honor;
        EXPECT_EQ(readBytes(d.src + "/abs"), std::vector<uint8_t>{}) << "not overwritten: " << honor;
        EXPECT_EQ(readBytes(inside + "/plain"), std::vector<uint8_t>{'c'}) << honor;
        if (honor) {
            // Refused, and the batch went on.
            ASSERT_EQ(us.lastStatuses.size(), 3u);
            EXPECT_EQ(us.lastStatuses[0].ProtocolStatus, psSkipFile);
            EXPECT_EQ(us.lastStatuses[1].ProtocolStatus, psSkipFile);
            EXPECT_FALSE(fileExists(inside + "/x"));
        } else {
            // Only the last component is used.
            EXPECT_EQ(readBytes(inside + "/x"), std::vector<uint8_t>{'a'});
            EXPECT_EQ(readBytes(inside + "/abs"), std::vector<uint8_t>{'b'});
        }
    }
}

TEST(KermitWithCKermitPeer, OurCancelEndsCKermitPromptly)
{
    NEED("kermit", "C-Kermit");
    for (bool weSend : {true, false}) {
        Dirs d;
        writeBytes(d.src + "/big.bin", randomBytes(2 << 20, 23));
        Ours us(1000, 20);
        us.proto.setFileName(d.src + "/big.bin");
        PtyPair peerPty;
        RelayOptions opt;
        opt.bytesPerSecond = 200000;
        Relay relay(us.pty.master, peerPty.master, opt);
        auto kermit = startCKermit(peerPty, weSend ? d.dst : d.src, {"set window 20", "set receive packet-length 1000"},
                                   {weSend ? "receive" : "send big.bin"});
        std::thread canceller([&] {
            for (int i = 0; i < 1000 && relay.toPeer + relay.toUs < 200000; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            us.interrupt = true;
        });
        EXPECT_EQ(weSend ? us.send() : us.receive(d.dst), -ecCancelRequested) << weSend;
        const int64_t ended = platform::monotonicMs();
        canceller.join();
        EXPECT_NE(kermit->wait(20000), 0) << "C-Kermit saw the error packet";
        EXPECT_LT(platform::monotonicMs() - ended, 5000) << weSend;
        EXPECT_EQ(us.proto.ProtocolStatus(), psCancelRequested);
    }
}

class KermitWithGKermit : public ::testing::TestWithParam<bool> {};

// With and without -e (long packets).
INSTANTIATE_TEST_SUITE_P(LongPackets, KermitWithGKermit, ::testing::Values(false, true));

TEST_P(KermitWithGKermit, BothDirections)
{
    NEED("gkermit", "G-Kermit");
    const bool longPackets = GetParam();
    for (bool weSend : {false, true}) {
        Dirs d;
        const auto files = samples(d.src);
        std::vector<std::string> argv = {"gkermit", "-q", "-i", "-P", "-w"};
        if (longPackets) {
            argv.push_back("-e");
            argv.push_back("1000");
        }
        Ours us(longPackets ? 1000 : 80);
        std::unique_ptr<Peer> gkermit;
        PtyPair peerPty;
        Relay relay(us.pty.master, peerPty.master);
        int rc = 1;
        if (weSend) {
            argv.push_back("-r");
            gkermit = std::make_unique<Peer>(argv, peerPty, d.dst);
            us.proto.setFileMask(d.src + "/*");
            rc = us.send();
        } else {
            argv.push_back("-s");
            for (const auto& f : files)
                argv.push_back(f.name);
            gkermit = std::make_unique<Peer>(argv, peerPty, d.src);
            rc = us.receive(d.dst);
        }
        EXPECT_EQ(rc, 0) << weSend << " " << us.proto.Snapshot().stateName;
        EXPECT_EQ(gkermit->wait(20000), 0) << weSend;
        expectArrived(files, d.dst);
        ASSERT_NE(us.engine(), nullptr);
        EXPECT_EQ(us.engine()->link().longPackets, longPackets) << weSend;
    }
}

// ---- Ourselves on both ends, through a relay that damages the line ----

namespace {

struct OwnPair {
    Ours tx{1000, 20}, rx{1000, 20};
    int txResult = 1, rxResult = 1;
    OwnPair()
    {
        tx.proto.setKermitTimeoutSecs(1);
        rx.proto.setKermitTimeoutSecs(1);
    }
    // Runs both ends through a relay; returns the relay's count of bytes to the receiver.
    uint64_t run(const std::string& rxDir, RelayOptions opt, const std::function<void()>& during = nullptr)
    {
        Relay relay(tx.pty.master, rx.pty.master, opt);
        std::thread receiver([&] { rxResult = rx.receive(rxDir); });
        std::thread canceller;
        if (during)
            canceller = std::thread(during);
        txResult = tx.send();
        receiver.join();
        if (canceller.joinable())
            canceller.join();
        relay.stop();
        return relay.toPeer.load();
    }
};

} // namespace

TEST(KermitOwn, DamagedPacketsAloneAreSentAgainAndFilesArriveIntact)
{
    Dirs d;
    const auto a = randomBytes(700000, 31);
    const auto b = textFile(200000);
    writeBytes(d.src + "/a", a);
    writeBytes(d.src + "/b", b);
    OwnPair p;
    p.tx.sendFiles({d.src + "/a", d.src + "/b"});
    RelayOptions opt;
    opt.corruptEvery = 50001;
    opt.dropEvery = 120001;
    opt.corruptFrom = 500;
    opt.delayMs = 3;
    const uint64_t bytes = p.run(d.dst, opt);
    EXPECT_EQ(p.txResult, 0);
    EXPECT_EQ(p.rxResult, 0);
    EXPECT_EQ(readBytes(d.dst + "/a"), a);
    EXPECT_EQ(readBytes(d.dst + "/b"), b);
    const uint64_t faults = bytes / opt.corruptEvery + bytes / opt.dropEvery;
    const auto* sender = dynamic_cast<const KermitSender*>(p.tx.proto.engine());
    ASSERT_NE(sender, nullptr);
    EXPECT_GT(sender->resent(), 0u);
    // A fault spoils one packet; it may be asked for by the receiver and also run into
    // the sender's time-out, but no undamaged packet goes again.
    EXPECT_LE(sender->resent(), 2 * faults) << faults << " faults";
    EXPECT_GT(p.rx.proto.Snapshot().TotalErrors, 0u);
}

TEST(KermitOwn, HopelessLineEndsWithTheRetryLimit)
{
    Dirs d;
    writeBytes(d.src + "/a", randomBytes(400000, 32));
    OwnPair p;
    p.tx.sendFiles({d.src + "/a"});
    RelayOptions opt;
    opt.corruptEvery = 150;
    opt.corruptFrom = 3000;
    const int64_t start = platform::monotonicMs();
    p.run(d.dst, opt);
    EXPECT_TRUE(p.txResult == -ecTooManyErrors || p.rxResult == -ecTooManyErrors)
        << p.txResult << " " << p.rxResult;
    EXPECT_TRUE(p.txResult == -ecTooManyErrors || p.txResult == -ecCancelRequested) << p.txResult;
    EXPECT_TRUE(p.rxResult == -ecTooManyErrors || p.rxResult == -ecCancelRequested) << p.rxResult;
    EXPECT_LT(platform::monotonicMs() - start, 60000);
}

TEST(KermitOwn, CancelFromEitherSideEndsBothPromptly)
{
    for (bool senderCancels : {true, false}) {
        Dirs d;
        writeBytes(d.src + "/a", randomBytes(3 << 20, 33));
        OwnPair p;
        p.tx.sendFiles({d.src + "/a"});
        RelayOptions opt;
        opt.bytesPerSecond = 200000;
        int64_t cancelledAt = 0;
        p.run(d.dst, opt, [&] {
            for (int i = 0; i < 1000 && p.rx.proto.BytesTransferred() < 100000; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            cancelledAt = platform::monotonicMs();
            (senderCancels ? p.tx.proto : p.rx.proto).CancelTransfer();
        });
        EXPECT_EQ(p.txResult, -ecCancelRequested) << senderCancels;
        EXPECT_EQ(p.rxResult, -ecCancelRequested) << senderCancels;
        EXPECT_LT(platform::monotonicMs() - cancelledAt, 3000) << senderCancels;
        EXPECT_LT(readBytes(d.dst + "/a").size(), 3u << 20);
    }
}

TEST(KermitOwn, ExistingAndUnwritableFilesOnTheReceivingSide)
{
    const auto a = randomBytes(50000, 34);
    const std::vector<uint8_t> b{'b'};
    const std::vector<uint8_t> old{'o', 'l', 'd'};
    // An existing file is refused and the batch goes on, or overwritten, as WriteFailAction
    // says.
    for (TWriteFailAction action : {wfWriteFail, wfWriteAnyway}) {
        Dirs d;
        writeBytes(d.src + "/a", a);
        writeBytes(d.src + "/b", b);
        writeBytes(d.dst + "/a", old);
        OwnPair p;
        p.rx.proto.setWriteFailAction(action);
        p.tx.sendFiles({d.src + "/a", d.src + "/b"});
        p.run(d.dst, {});
        EXPECT_EQ(p.txResult, 0) << action;
        EXPECT_EQ(p.rxResult, 0) << action;
        EXPECT_EQ(readBytes(d.dst + "/a"), action == wfWriteFail ? old : a) << action;
        EXPECT_EQ(readBytes(d.dst + "/b"), b) << action;
        ASSERT_EQ(p.rx.lastStatuses.size(), 2u) << action;
        EXPECT_EQ(p.rx.lastStatuses[0].ProtocolStatus, action == wfWriteFail ? psCantWriteFile : psEndFile) << action;
    }
    // A name that cannot be opened for writing (a directory stands there) ends both sides,
    // the sender with the receiver's text.
    Dirs d;
    writeBytes(d.src + "/a", a);
    ::mkdir((d.dst + "/a").c_str(), 0755);
    OwnPair p;
    p.rx.proto.setWriteFailAction(wfWriteAnyway);
    p.tx.sendFiles({d.src + "/a"});
    p.run(d.dst, {});
    EXPECT_EQ(p.rxResult, -ecCantWriteFile);
    EXPECT_EQ(p.txResult, -ecCancelRequested);
    EXPECT_EQ(p.tx.proto.Snapshot().Detail, "error from the other side: Error opening or writing file");
}
