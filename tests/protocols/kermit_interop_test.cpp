// Kermit over pseudo-terminals, through a relay, against C-Kermit and G-Kermit and
// against ourselves, comparing files byte for byte. Tests that need a peer skip when
// it is not installed.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

#include "fake_host.h"
#include "platform/clock.h"
#include "protocols/kermit_receiver.h"
#include "protocols/kermit_sender.h"
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

// Runs an engine on a descriptor until it is done; returns its result.
int runEngine(ProtocolEngine& e, FakeHost& host, int fd, int limitMs = 120000,
              const std::atomic<bool>* cancel = nullptr)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    host.capacity = 65536;
    const int64_t end = platform::monotonicMs() + limitMs;
    std::vector<uint8_t> buf(65536);
    e.start(platform::monotonicMs());
    bool cancelled = false;
    while (!e.done() && platform::monotonicMs() < end) {
        if (cancel && *cancel && !cancelled) {
            cancelled = true;
            e.cancel(platform::monotonicMs());
            continue;
        }
        if (!host.out.empty()) {
            if (std::getenv("KTRACE"))
                std::fprintf(stderr, ">> %s\n", std::string(host.out.begin(), host.out.begin() + std::min<size_t>(host.out.size(), 300)).c_str());
            const ssize_t w = ::write(fd, host.out.data(), host.out.size());
            if (w > 0)
                host.out.erase(host.out.begin(), host.out.begin() + w);
        }
        const int64_t now = platform::monotonicMs();
        int timeout = 100;
        if (e.deadline() != ProtocolEngine::kNoDeadline)
            timeout = static_cast<int>(std::clamp<int64_t>(e.deadline() - now, 0, 100));
        struct pollfd p {fd, static_cast<short>(POLLIN | (host.out.empty() ? 0 : POLLOUT)), 0};
        ::poll(&p, 1, timeout);
        if (p.revents & POLLIN) {
            const ssize_t r = ::read(fd, buf.data(), buf.size());
            if (r > 0 && std::getenv("KTRACE"))
                std::fprintf(stderr, "<< %s\n", std::string(buf.begin(), buf.begin() + std::min<ssize_t>(r, 300)).c_str());
            if (r > 0)
                e.receive(buf.data(), static_cast<size_t>(r), platform::monotonicMs());
        }
        e.poll(platform::monotonicMs());
    }
    // Let the last packets reach the far side.
    for (int i = 0; i < 200 && !host.out.empty(); ++i) {
        const ssize_t w = ::write(fd, host.out.data(), host.out.size());
        if (w > 0)
            host.out.erase(host.out.begin(), host.out.begin() + w);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (int i = 0; i < 100; ++i) {
        int queued = 0;
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return e.done() ? e.result() : 1;
}

EngineSettings settings()
{
    EngineSettings s;
    s.HandshakeWaitMs = 5000;
    return s;
}

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

std::vector<Sample> samples()
{
    return {
        {"random.bin", randomBytes(100000, 21)},
        {"text.txt", textFile(40000)},
        {"empty.dat", {}},
        {"every.bin", everyByte(40)},
    };
}

void writeCommands(const std::string& path, const std::vector<std::string>& lines)
{
    std::ofstream f(path);
    for (const auto& l : lines)
        f << l << "\n";
}

// C-Kermit's settings for a binary transfer on its controlling terminal.
std::vector<std::string> ckermitSettings(const std::vector<std::string>& extra)
{
    std::vector<std::string> l = {"set file type binary", "set transfer mode manual", "set streaming off",
                                  "set file names literal", "set file collision overwrite",
                                  "set receive pathnames off"};
    l.insert(l.end(), extra.begin(), extra.end());
    return l;
}

} // namespace

class KermitWithCKermit : public ::testing::TestWithParam<int> {};

// 0: C-Kermit's defaults; 1: windows of 20, packets of 1000, check type 3.
INSTANTIATE_TEST_SUITE_P(Settings, KermitWithCKermit, ::testing::Values(0, 1));

TEST_P(KermitWithCKermit, ReceivesABatch)
{
    NEED("kermit", "C-Kermit");
    const bool tuned = GetParam() == 1;
    Dirs d;
    const auto files = samples();
    std::string sendList;
    for (const auto& f : files) {
        writeBytes(d.src + "/" + f.name, f.data);
        sendList += " " + f.name;
    }
    std::vector<std::string> extra;
    if (tuned)
        extra = {"set window 20", "set send packet-length 1000", "set receive packet-length 1000",
                 "set block-check 3"};
    auto cmds = ckermitSettings(extra);
    cmds.push_back("msend" + sendList);
    cmds.push_back("exit");
    writeCommands(d.src + "/cmds", cmds);

    FakeHost host;
    KermitSettings k;
    if (tuned) {
        k.MaxLen = 1000;
        k.MaxWindows = 20;
    }
    KermitReceiver rx(host, settings(), k);
    PtyPair ours, peerPty;
    Relay relay(ours.master, peerPty.master);
    Peer kermit({"kermit", "-Y", "-q", "-C", "take cmds"}, peerPty, d.src);
    EXPECT_EQ(runEngine(rx, host, ours.slave), 0) << rx.state().stateName;
    EXPECT_EQ(kermit.wait(20000), 0);
    for (const auto& f : files) {
        ASSERT_TRUE(host.disk.count(f.name)) << f.name;
        EXPECT_EQ(host.disk[f.name].data, f.data) << f.name;
        EXPECT_TRUE(host.disk[f.name].complete) << f.name;
    }
    if (tuned) {
        EXPECT_EQ(rx.link().windows, 20u);
        EXPECT_EQ(rx.link().checkType, 3);
        EXPECT_TRUE(rx.link().longPackets);
    }
}

TEST_P(KermitWithCKermit, SendsABatch)
{
    NEED("kermit", "C-Kermit");
    const bool tuned = GetParam() == 1;
    Dirs d;
    const auto files = samples();
    std::vector<std::string> extra;
    if (tuned)
        extra = {"set window 20", "set send packet-length 1000", "set receive packet-length 1000",
                 "set block-check 3"};
    auto cmds = ckermitSettings(extra);
    cmds.push_back("receive");
    cmds.push_back("exit");
    writeCommands(d.dst + "/cmds", cmds);

    FakeHost host;
    for (const auto& f : files) {
        MemFile m;
        m.data = f.data;
        host.toSend.emplace_back(f.name, m);
    }
    KermitSettings k;
    if (tuned) {
        k.MaxLen = 1000;
        k.MaxWindows = 20;
    }
    KermitSender tx(host, settings(), k);
    PtyPair ours, peerPty;
    Relay relay(ours.master, peerPty.master);
    Peer kermit({"kermit", "-Y", "-q", "-C", "take cmds"}, peerPty, d.dst);
    EXPECT_EQ(runEngine(tx, host, ours.slave), 0) << tx.state().stateName;
    EXPECT_EQ(kermit.wait(20000), 0);
    for (const auto& f : files) {
        ASSERT_TRUE(fileExists(d.dst + "/" + f.name)) << f.name;
        EXPECT_EQ(readBytes(d.dst + "/" + f.name), f.data) << f.name;
    }
    if (tuned) {
        EXPECT_EQ(tx.link().windows, 20u);
        EXPECT_TRUE(tx.link().longPackets);
        EXPECT_GE(tx.link().longLength, 990u) << "C-Kermit announces a little less than it is set to";
    }
}

TEST(KermitWithCKermitPeer, ARefusedFileIsSkippedAndTheBatchGoesOn)
{
    NEED("kermit", "C-Kermit");
    Dirs d;
    writeBytes(d.dst + "/exists.txt", {'o', 'l', 'd'});
    auto cmds = ckermitSettings({"set file collision discard"});
    cmds.push_back("receive");
    cmds.push_back("exit");
    writeCommands(d.dst + "/cmds", cmds);
    FakeHost host;
    MemFile a, b;
    a.data = randomBytes(60000, 22);
    b.data = {'n', 'e', 'w'};
    host.toSend.emplace_back("exists.txt", a);
    host.toSend.emplace_back("fresh.txt", b);
    KermitSender tx(host, settings(), KermitSettings{});
    PtyPair ours, peerPty;
    Relay relay(ours.master, peerPty.master);
    Peer kermit({"kermit", "-Y", "-q", "-C", "take cmds"}, peerPty, d.dst);
    EXPECT_EQ(runEngine(tx, host, ours.slave), 0);
    kermit.wait(20000);
    EXPECT_EQ(readBytes(d.dst + "/exists.txt"), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(readBytes(d.dst + "/fresh.txt"), b.data);
    ASSERT_FALSE(host.statuses.empty());
    EXPECT_EQ(host.sentComplete, std::vector<std::string>{"fresh.txt"});
}

TEST(KermitWithCKermitPeer, OurCancelEndsCKermitPromptly)
{
    NEED("kermit", "C-Kermit");
    for (bool weSend : {true, false}) {
        Dirs d;
        writeBytes(d.src + "/big.bin", randomBytes(2 << 20, 23));
        auto cmds = ckermitSettings({"set window 20", "set receive packet-length 1000"});
        cmds.push_back(weSend ? "receive" : "send big.bin");
        cmds.push_back("exit");
        writeCommands((weSend ? d.dst : d.src) + "/cmds", cmds);
        FakeHost host;
        MemFile m;
        m.data = randomBytes(2 << 20, 23);
        host.toSend.emplace_back("big.bin", m);
        KermitSettings k;
        k.MaxLen = 1000;
        k.MaxWindows = 20;
        std::unique_ptr<KermitEngine> e;
        if (weSend)
            e = std::make_unique<KermitSender>(host, settings(), k);
        else
            e = std::make_unique<KermitReceiver>(host, settings(), k);
        PtyPair ours, peerPty;
        RelayOptions opt;
        opt.bytesPerSecond = 200000;
        Relay relay(ours.master, peerPty.master, opt);
        Peer kermit({"kermit", "-Y", "-q", "-C", "take cmds"}, peerPty, weSend ? d.dst : d.src);
        std::atomic<bool> cancel{false};
        std::thread canceller([&] {
            for (int i = 0; i < 1000 && relay.toPeer + relay.toUs < 200000; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            cancel = true;
        });
        EXPECT_EQ(runEngine(*e, host, ours.slave, 60000, &cancel), -ecCancelRequested) << weSend;
        const int64_t ended = platform::monotonicMs();
        canceller.join();
        EXPECT_NE(kermit.wait(20000), 0) << "C-Kermit saw the error packet";
        EXPECT_LT(platform::monotonicMs() - ended, 5000) << weSend;
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
        const auto files = samples();
        FakeHost host;
        std::vector<std::string> argv = {"gkermit", "-q", "-i", "-P", "-w"};
        if (longPackets) {
            argv.push_back("-e");
            argv.push_back("1000");
        }
        KermitSettings k;
        k.MaxLen = longPackets ? 1000 : 80;
        std::unique_ptr<KermitEngine> engine;
        if (weSend) {
            for (const auto& f : files) {
                MemFile m;
                m.data = f.data;
                host.toSend.emplace_back(f.name, m);
            }
            argv.push_back("-r");
            engine = std::make_unique<KermitSender>(host, settings(), k);
        } else {
            argv.push_back("-s");
            for (const auto& f : files) {
                writeBytes(d.src + "/" + f.name, f.data);
                argv.push_back(f.name);
            }
            engine = std::make_unique<KermitReceiver>(host, settings(), k);
        }
        PtyPair ours, peerPty;
        Relay relay(ours.master, peerPty.master);
        Peer gkermit(argv, peerPty, weSend ? d.dst : d.src);
        EXPECT_EQ(runEngine(*engine, host, ours.slave), 0) << weSend << " " << engine->state().stateName;
        EXPECT_EQ(gkermit.wait(20000), 0) << weSend;
        for (const auto& f : files) {
            if (weSend)
                EXPECT_EQ(readBytes(d.dst + "/" + f.name), f.data) << f.name;
            else
                EXPECT_EQ(host.disk[f.name].data, f.data) << f.name;
        }
        EXPECT_EQ(engine->link().longPackets, longPackets) << weSend;
    }
}

// ---- Ourselves on both ends, through a relay that damages the line ----

namespace {

struct OwnPair {
    FakeHost txHost, rxHost;
    KermitSettings k;
    EngineSettings s = settings();
    std::unique_ptr<KermitSender> tx;
    std::unique_ptr<KermitReceiver> rx;
    PtyPair txPty, rxPty;
    int txResult = 1, rxResult = 1;
    std::atomic<bool> cancelTx{false}, cancelRx{false};

    OwnPair()
    {
        k.MaxLen = 1000;
        k.MaxWindows = 20;
        k.TimeoutSecs = 1;
    }
    void add(const std::string& name, std::vector<uint8_t> data)
    {
        MemFile m;
        m.data = std::move(data);
        txHost.toSend.emplace_back(name, std::move(m));
    }
    // Runs both ends through a relay; returns the relay's count of bytes to the receiver.
    uint64_t run(RelayOptions opt, const std::function<void()>& during = nullptr)
    {
        tx = std::make_unique<KermitSender>(txHost, s, k);
        rx = std::make_unique<KermitReceiver>(rxHost, s, k);
        Relay relay(txPty.master, rxPty.master, opt);
        std::thread receiver([this] { rxResult = runEngine(*rx, rxHost, rxPty.slave, 120000, &cancelRx); });
        std::thread sender([this] { txResult = runEngine(*tx, txHost, txPty.slave, 120000, &cancelTx); });
        if (during)
            during();
        sender.join();
        receiver.join();
        relay.stop();
        return relay.toPeer.load();
    }
};

} // namespace

TEST(KermitOwn, DamagedPacketsAloneAreSentAgainAndFilesArriveIntact)
{
    OwnPair p;
    const auto a = randomBytes(700000, 31);
    const auto b = textFile(200000);
    p.add("a", a);
    p.add("b", b);
    RelayOptions opt;
    opt.corruptEvery = 50001;
    opt.dropEvery = 120001;
    opt.corruptFrom = 500;
    opt.delayMs = 3;
    const uint64_t bytes = p.run(opt);
    EXPECT_EQ(p.txResult, 0);
    EXPECT_EQ(p.rxResult, 0);
    EXPECT_EQ(p.rxHost.disk["a"].data, a);
    EXPECT_EQ(p.rxHost.disk["b"].data, b);
    const uint64_t faults = bytes / opt.corruptEvery + bytes / opt.dropEvery;
    EXPECT_GT(p.tx->resent(), 0u);
    // A fault spoils one packet; it may be asked for by the receiver and also run into
    // the sender's time-out, but no undamaged packet goes again.
    EXPECT_LE(p.tx->resent(), 2 * faults) << faults << " faults";
}

TEST(KermitOwn, HopelessLineEndsWithTheRetryLimit)
{
    OwnPair p;
    p.add("a", randomBytes(400000, 32));
    RelayOptions opt;
    opt.corruptEvery = 150;
    opt.corruptFrom = 3000;
    const int64_t start = platform::monotonicMs();
    p.run(opt);
    EXPECT_TRUE(p.txResult == -ecTooManyErrors || p.rxResult == -ecTooManyErrors)
        << p.txResult << " " << p.rxResult;
    EXPECT_TRUE(p.txResult == -ecTooManyErrors || p.txResult == -ecCancelRequested) << p.txResult;
    EXPECT_TRUE(p.rxResult == -ecTooManyErrors || p.rxResult == -ecCancelRequested) << p.rxResult;
    EXPECT_LT(platform::monotonicMs() - start, 60000);
}

TEST(KermitOwn, CancelFromEitherSideEndsBothPromptly)
{
    for (bool senderCancels : {true, false}) {
        OwnPair p;
        p.add("a", randomBytes(3 << 20, 33));
        RelayOptions opt;
        opt.bytesPerSecond = 200000;
        int64_t cancelledAt = 0;
        p.run(opt, [&] {
            for (int i = 0; i < 1000 && (!p.rx || p.rx->position() < 100000); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            cancelledAt = platform::monotonicMs();
            (senderCancels ? p.cancelTx : p.cancelRx) = true;
        });
        EXPECT_EQ(p.txResult, -ecCancelRequested) << senderCancels;
        EXPECT_EQ(p.rxResult, -ecCancelRequested) << senderCancels;
        EXPECT_LT(platform::monotonicMs() - cancelledAt, 3000) << senderCancels;
        EXPECT_FALSE(p.rxHost.disk["a"].complete);
    }
}
