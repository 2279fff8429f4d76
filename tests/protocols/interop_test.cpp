// Transfers over pseudo-terminals, through a relay, against lrzsz (sz/rz) and against
// ourselves, comparing the files byte for byte. Tests that need lrzsz skip without it.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "interop_rig.h"

using namespace zelvo;
using namespace zelvo::protocols;
using namespace zelvo::protocols::test;

TEST(ZmodemInterop, SzToUsBatchWithEmptyFileAndSpaces)
{
    NEED_LRZSZ();
    Dirs d;
    const auto big = randomBytes(4 << 20, 31);
    writeBytes(d.src + "/big.bin", big);
    writeBytes(d.src + "/file one.txt", {'o', 'n', 'e', '\n'});
    writeBytes(d.src + "/empty.dat", {});
    writeBytes(d.src + "/ctl.bin", allByteValues(40));
    Ours us;
    PtyPair peerPty;
    Relay relay(us.pty.master, peerPty.master);
    Peer sz({"sz", "-q", "big.bin", "file one.txt", "empty.dat", "ctl.bin"}, peerPty, d.src);
    EXPECT_EQ(us.receive(d.dst), 0);
    EXPECT_EQ(sz.wait(20000), 0);
    EXPECT_EQ(readBytes(d.dst + "/big.bin"), big);
    EXPECT_EQ(readBytes(d.dst + "/file one.txt"), (std::vector<uint8_t>{'o', 'n', 'e', '\n'}));
    EXPECT_TRUE(fileExists(d.dst + "/empty.dat"));
    EXPECT_TRUE(readBytes(d.dst + "/empty.dat").empty());
    EXPECT_EQ(readBytes(d.dst + "/ctl.bin"), allByteValues(40));
    struct stat a {}, b {};
    ::stat((d.src + "/big.bin").c_str(), &a);
    ::stat((d.dst + "/big.bin").c_str(), &b);
    EXPECT_EQ(a.st_mtime, b.st_mtime) << "the sender's time stamp is kept";
}

TEST(ZmodemInterop, UsToRzBatch)
{
    NEED_LRZSZ();
    Dirs d;
    const auto big = randomBytes(4 << 20, 32);
    writeBytes(d.src + "/big.bin", big);
    writeBytes(d.src + "/Mixed Case.TXT", {'m'});
    writeBytes(d.src + "/empty", {});
    writeBytes(d.src + "/ctl.bin", allByteValues(40));
    Ours us;
    us.sendFiles({d.src + "/big.bin", d.src + "/Mixed Case.TXT", d.src + "/empty", d.src + "/ctl.bin"});
    PtyPair peerPty;
    Relay relay(us.pty.master, peerPty.master);
    Peer rz({"rz", "-q"}, peerPty, d.dst);
    EXPECT_EQ(us.send(), 0);
    EXPECT_EQ(rz.wait(20000), 0);
    EXPECT_EQ(readBytes(d.dst + "/big.bin"), big);
    EXPECT_EQ(readBytes(d.dst + "/mixed case.txt"), std::vector<uint8_t>{'m'}) << "names go out in lower case";
    EXPECT_TRUE(fileExists(d.dst + "/empty"));
    EXPECT_EQ(readBytes(d.dst + "/ctl.bin"), allByteValues(40));
}

TEST(ZmodemInterop, Sz8KAndEscapeAll)
{
    NEED_LRZSZ();
    for (const char* flag : {"-8", "-e"}) {
        Dirs d;
        const auto data = randomBytes(1 << 20, 33);
        writeBytes(d.src + "/f.bin", data);
        writeBytes(d.src + "/ctl.bin", allByteValues(64));
        Ours us;
        PtyPair peerPty;
        Relay relay(us.pty.master, peerPty.master);
        Peer sz({"sz", "-q", flag, "f.bin", "ctl.bin"}, peerPty, d.src);
        EXPECT_EQ(us.receive(d.dst), 0) << flag;
        EXPECT_EQ(sz.wait(20000), 0) << flag;
        EXPECT_EQ(readBytes(d.dst + "/f.bin"), data) << flag;
        EXPECT_EQ(readBytes(d.dst + "/ctl.bin"), allByteValues(64)) << flag;
    }
}

namespace {

// "sz -r f.bin" from d.src into d.dst (crash recovery: the sender starts where the local
// copy ends); returns the bytes that came to us.
uint64_t resumeFromSz(const Dirs& d, Ours& us)
{
    PtyPair peerPty;
    Relay relay(us.pty.master, peerPty.master);
    Peer sz({"sz", "-q", "-r", "f.bin"}, peerPty, d.src);
    EXPECT_EQ(us.receive(d.dst), 0);
    EXPECT_EQ(sz.wait(20000), 0);
    return relay.toUs.load();
}

} // namespace

TEST(ZmodemInterop, SzCrashRecoveryResumesOurPartialFile)
{
    NEED_LRZSZ();
    Dirs d;
    const auto data = randomBytes(2 << 20, 34);
    writeBytes(d.src + "/f.bin", data);
    writeBytes(d.dst + "/f.bin", std::vector<uint8_t>(data.begin(), data.begin() + 1500000));
    Ours us;
    EXPECT_LT(resumeFromSz(d, us), 1000000u) << "only the missing part was sent";
    EXPECT_EQ(readBytes(d.dst + "/f.bin"), data);
    ASSERT_FALSE(us.lastStatuses.empty());
    EXPECT_EQ(us.lastStatuses.back().InitialPosition, 1500000u);
}

// The line goes away in the middle of a file (an adapter pulled out): the receive fails
// as a lost line, the part already received stays on disk as it arrived, and on the line
// that comes back "sz -r" sends only the rest.
TEST(ZmodemInterop, LineLostMidFileKeepsThePartForAResume)
{
    NEED_LRZSZ();
    Dirs d;
    const auto data = randomBytes(1 << 20, 36);
    writeBytes(d.src + "/f.bin", data);
    {
        Ours us;
        PtyPair peerPty;
        RelayOptions slow;
        slow.bytesPerSecond = 200000;
        Relay relay(us.pty.master, peerPty.master, slow);
        Peer sz({"sz", "-q", "f.bin"}, peerPty, d.src);
        std::thread unplug([&] {
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (relay.toUs.load() < 300000 && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            relay.stop();
            ::close(us.pty.master);
            us.pty.master = -1;
        });
        const int rc = us.receive(d.dst);
        unplug.join();
        EXPECT_EQ(rc, -ecAbortNoCarrier);
        EXPECT_EQ(us.errors, std::vector<int>{-ecAbortNoCarrier});
    }
    const auto part = readBytes(d.dst + "/f.bin");
    ASSERT_GT(part.size(), 0u);
    ASSERT_LT(part.size(), data.size());
    EXPECT_TRUE(std::equal(part.begin(), part.end(), data.begin())) << "the part is the start of the file";

    Ours us;
    EXPECT_LT(resumeFromSz(d, us), data.size() - part.size() + 64 * 1024) << "only the rest was sent";
    EXPECT_EQ(readBytes(d.dst + "/f.bin"), data);
}

TEST(ZmodemInterop, OurSenderResumesIntoRz)
{
    NEED_LRZSZ();
    Dirs d;
    const auto data = randomBytes(2 << 20, 35);
    writeBytes(d.src + "/f.bin", data);
    writeBytes(d.dst + "/f.bin", std::vector<uint8_t>(data.begin(), data.begin() + 1200000));
    Ours us;
    us.proto.setZmodemRecover(true);
    us.sendFiles({d.src + "/f.bin"});
    PtyPair peerPty;
    Relay relay(us.pty.master, peerPty.master);
    Peer rz({"rz", "-q", "-r"}, peerPty, d.dst);
    EXPECT_EQ(us.send(), 0);
    EXPECT_EQ(rz.wait(20000), 0);
    EXPECT_EQ(readBytes(d.dst + "/f.bin"), data);
    EXPECT_LT(relay.toPeer.load(), 1100000u) << "only the missing part was sent";
}

TEST(ZmodemInterop, RzWithAndWithoutOverwrite)
{
    NEED_LRZSZ();
    for (bool overwrite : {false, true}) {
        Dirs d;
        writeBytes(d.src + "/exists.txt", {'n', 'e', 'w'});
        writeBytes(d.src + "/fresh.txt", {'f'});
        writeBytes(d.dst + "/exists.txt", {'o', 'l', 'd'});
        // The local copy is newer, so the sender's default "newer" rule does not allow
        // overwriting it; only rz -y does.
        const struct timespec future[2] = {{0, UTIME_OMIT}, {::time(nullptr) + 86400, 0}};
        ::utimensat(AT_FDCWD, (d.dst + "/exists.txt").c_str(), future, 0);
        Ours us;
        us.sendFiles({d.src + "/exists.txt", d.src + "/fresh.txt"});
        PtyPair peerPty;
        Relay relay(us.pty.master, peerPty.master);
        std::vector<std::string> argv = {"rz", "-q"};
        if (overwrite)
            argv.push_back("-y");
        Peer rz(argv, peerPty, d.dst);
        EXPECT_EQ(us.send(), 0);
        rz.wait(20000);
        const std::vector<uint8_t> expected = overwrite ? std::vector<uint8_t>{'n', 'e', 'w'}
                                                        : std::vector<uint8_t>{'o', 'l', 'd'};
        EXPECT_EQ(readBytes(d.dst + "/exists.txt"), expected);
        EXPECT_EQ(readBytes(d.dst + "/fresh.txt"), std::vector<uint8_t>{'f'});
        if (!overwrite) {
            ASSERT_FALSE(us.lastStatuses.empty());
            EXPECT_EQ(us.lastStatuses.front().ProtocolStatus, psSkipFile);
        }
    }
}

TEST(ZmodemInterop, SzAppendAddsTheWholeFile)
{
    NEED_LRZSZ();
    Dirs d;
    const auto incoming = randomBytes(70000, 43);
    const auto local = randomBytes(100000, 44);
    writeBytes(d.src + "/f.bin", incoming);
    writeBytes(d.dst + "/f.bin", local);
    Ours us;
    PtyPair peerPty;
    Relay relay(us.pty.master, peerPty.master);
    Peer sz({"sz", "-q", "--append", "f.bin"}, peerPty, d.src);
    EXPECT_EQ(us.receive(d.dst), 0);
    EXPECT_EQ(sz.wait(20000), 0);
    std::vector<uint8_t> expected = local;
    expected.insert(expected.end(), incoming.begin(), incoming.end());
    EXPECT_EQ(readBytes(d.dst + "/f.bin"), expected);
}

TEST(ZmodemInterop, AbsoluteNameFromSzIsRefusedWithHonorDirectory)
{
    NEED_LRZSZ();
    Dirs d;
    writeBytes(d.src + "/secret", {'s'});
    writeBytes(d.src + "/plain", {'p'});
    Ours us;
    us.proto.setHonorDirectory(true);
    PtyPair peerPty;
    Relay relay(us.pty.master, peerPty.master);
    // -f sends the full path name: an absolute path that must not be honoured.
    Peer sz({"sz", "-q", "-f", d.src + "/secret", "plain"}, peerPty, d.src);
    EXPECT_EQ(us.receive(d.dst), 0);
    sz.wait(20000);
    EXPECT_FALSE(fileExists(d.dst + d.src + "/secret"));
    EXPECT_EQ(readBytes(d.dst + "/plain"), std::vector<uint8_t>{'p'});
    ASSERT_FALSE(us.lastStatuses.empty());
    EXPECT_EQ(us.lastStatuses.front().ProtocolStatus, psSkipFile);
    EXPECT_NE(us.lastStatuses.front().Detail.find("absolute"), std::string::npos) << us.lastStatuses.front().Detail;
}

// ---- Ourselves on both ends ----


TEST(ZmodemOwn, RecoversFromCorruptedDroppedAndDelayedBytes)
{
    Dirs d;
    const auto a = randomBytes(600000, 36);
    const auto b = randomBytes(300000, 37);
    writeBytes(d.src + "/a", a);
    writeBytes(d.src + "/b", b);
    OwnPair p;
    p.rxDir = d.dst;
    p.tx.sendFiles({d.src + "/a", d.src + "/b"});
    p.tx.proto.setHandshakeWait(36);
    p.rx.proto.setHandshakeWait(36);
    RelayOptions opt;
    opt.corruptEvery = 70001;
    opt.dropEvery = 150001;
    opt.delayMs = 3;
    p.run(opt);
    EXPECT_EQ(p.txResult, 0);
    EXPECT_EQ(p.rxResult, 0);
    EXPECT_EQ(readBytes(d.dst + "/a"), a);
    EXPECT_EQ(readBytes(d.dst + "/b"), b);
    EXPECT_GT(p.tx.proto.Snapshot().TotalErrors + p.rx.proto.Snapshot().TotalErrors, 0u);
}

TEST(ZmodemOwn, HopelessLineFailsWithTooManyErrors)
{
    Dirs d;
    writeBytes(d.src + "/a", randomBytes(400000, 38));
    OwnPair p;
    p.rxDir = d.dst;
    p.tx.sendFiles({d.src + "/a"});
    // Short waits: a damaged header start is only noticed by the time-out.
    p.tx.proto.setHandshakeWait(9);
    p.rx.proto.setHandshakeWait(9);
    // Every subpacket is damaged, however short the sender makes them.
    RelayOptions opt;
    opt.corruptEvery = 200;
    opt.corruptFrom = 2000;
    p.run(opt);
    EXPECT_EQ(p.rxResult, -ecTooManyErrors);
    EXPECT_EQ(p.txResult, -ecCancelRequested);
}

TEST(ZmodemOwn, CancelFromEitherSideEndsBothCleanly)
{
    for (bool senderCancels : {true, false}) {
        Dirs d;
        writeBytes(d.src + "/a", randomBytes(3 << 20, 39));
        OwnPair p;
        p.rxDir = d.dst;
        p.tx.sendFiles({d.src + "/a"});
        RelayOptions opt;
        opt.bytesPerSecond = 200000;
        Protocol& canceller = senderCancels ? p.tx.proto : p.rx.proto;
        std::thread cancel;
        p.run(opt, [&] {
            cancel = std::thread([&] {
                for (int i = 0; i < 500 && p.rx.proto.BytesTransferred() < 100000; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                canceller.CancelTransfer();
            });
        });
        cancel.join();
        EXPECT_EQ(p.txResult, -ecCancelRequested) << senderCancels;
        EXPECT_EQ(p.rxResult, -ecCancelRequested) << senderCancels;
    }
}

TEST(Zelvo32Transfer, CommandLineFrontEnd)
{
    const std::string tool = ZELVO_TRANSFER_TOOL;
    EXPECT_EQ(std::system((tool + " --help > /dev/null").c_str()), 0);
    EXPECT_NE(std::system((tool + " send --line /dev/null --bogus x 2> /dev/null").c_str()), 0);
    EXPECT_NE(std::system((tool + " receive --line /nonexistent/tty 2> /dev/null").c_str()), 0);
    // Settings by name are checked before the line is touched.
    auto output = [](const std::string& cmd) {
        std::string out;
        if (FILE* f = ::popen((cmd + " 2>&1").c_str(), "r")) {
            char buf[512];
            while (size_t n = std::fread(buf, 1, sizeof buf, f))
                out.append(buf, n);
            ::pclose(f);
        }
        return out;
    };
    EXPECT_NE(output(tool + " receive --set NoSuch=1 --line /dev/null .").find("unknown protocol property \"NoSuch\""),
              std::string::npos);
    EXPECT_NE(output(tool + " receive --set AsciiEOFTimeout=x --line /dev/null .").find("is not a number"),
              std::string::npos);
    EXPECT_NE(output(tool + " receive --protocol xmodem --line /dev/null").find("name the file to write"),
              std::string::npos);
    if (!haveProgram("sz"))
        GTEST_SKIP() << "lrzsz (sz) is not installed";
    Dirs d;
    const auto data = randomBytes(300000, 40);
    writeBytes(d.src + "/x y.bin", data);
    const std::string cmd = tool + " receive --quiet --line 'exec:cd " + d.src
        + " && LD_PRELOAD=" ZELVO_FLUSH_SHIM " sz -q \"x y.bin\" 2>/dev/null' --dir " + d.dst;
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(readBytes(d.dst + "/x y.bin"), data) << "received names keep their case";

    // A one-file protocol receives into the file named, with settings by name.
    const std::string one = tool + " receive --quiet --protocol xmodem1k --set HandshakeWait=18 --line 'exec:cd "
        + d.src + " && LD_PRELOAD=" ZELVO_FLUSH_SHIM " sx -k \"x y.bin\" 2>/dev/null' " + d.dst + "/one.bin";
    EXPECT_EQ(std::system(one.c_str()), 0);
    EXPECT_TRUE(paddedCopy(readBytes(d.dst + "/one.bin"), data));

    // A refused file gives the same exit status wherever it stands in the batch.
    writeBytes(d.src + "/Old.txt", {'n'});
    writeBytes(d.src + "/Fresh.txt", {'f'});
    for (const char* order : {"Old.txt Fresh.txt", "Fresh.txt Old.txt"}) {
        const std::string into = makeTempDir();
        writeBytes(into + "/Old.txt", {'o'});
        const std::string refuse = tool + " receive --quiet --option-override --file-option reject --line 'exec:cd "
            + d.src + " && LD_PRELOAD=" ZELVO_FLUSH_SHIM " sz -q " + order + " 2>/dev/null' --dir " + into
            + " 2>/dev/null";
        const int status = std::system(refuse.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << order << ": " << status;
        EXPECT_EQ(readBytes(into + "/Old.txt"), std::vector<uint8_t>{'o'});
        EXPECT_EQ(readBytes(into + "/Fresh.txt"), std::vector<uint8_t>{'f'});
        removeTree(into);
    }

    // The same through the program's port component, the other way round.
    const std::string back = makeTempDir();
    const std::string send = tool + " send --quiet --port-component --line 'exec:cd " + back
        + " && LD_PRELOAD=" ZELVO_FLUSH_SHIM " rz -q 2>/dev/null' '" + d.dst + "/x y.bin'";
    EXPECT_EQ(std::system(send.c_str()), 0);
    EXPECT_EQ(readBytes(back + "/x y.bin"), data);
    removeTree(back);
}

TEST(Zelvo32Transfer, KermitBothWaysWithItsSettingsByName)
{
    if (!haveProgram("gkermit"))
        GTEST_SKIP() << "G-Kermit (gkermit) is not installed";
    const std::string tool = ZELVO_TRANSFER_TOOL;
    const std::string opts = " --quiet --protocol kermit --set KermitMaxLen=1000 --set KermitMaxWindows=20"
                             " --set KermitTimeoutSecs=3";
    Dirs d;
    const auto data = randomBytes(200000, 41);
    writeBytes(d.src + "/k.bin", data);
    const std::string receive = tool + " receive" + opts + " --line 'exec:cd " + d.src
        + " && gkermit -q -i -P -e 1000 -s k.bin' --dir " + d.dst;
    EXPECT_EQ(std::system(receive.c_str()), 0);
    EXPECT_EQ(readBytes(d.dst + "/k.bin"), data);
    const std::string back = makeTempDir();
    const std::string send = tool + " send" + opts + " --line 'exec:cd " + back + " && gkermit -q -i -P -e 1000 -r' "
        + d.dst + "/k.bin";
    EXPECT_EQ(std::system(send.c_str()), 0);
    EXPECT_EQ(readBytes(back + "/k.bin"), data);
    removeTree(back);
}

// ---- On the program's port component ----

#include "comm/com_port.h"
#include "comm/event_loop_bridge.h"
#include "comm/port_table.h"
#include "platform/clock.h"
#include "protocols/com_port_line.h"

namespace {

struct PortRig {
    comm::EventLoopBridge ui;
    platform::RegistryStore store{"/nonexistent/zelvo-proto-test-registry.reg"};
    PtyPair ours;
    comm::ComPort port{ui};
    Protocol proto;
    int finished = 1;
    bool done = false;
    bool eventsOnUiThread = true;
    int statusCalls = 0;
    PortRig()
    {
        comm::SetPortDevice(store, 7, ours.slaveName);
        port.setRegistryStore(&store);
        port.setComNumber(7);
        port.setBaud(115200);
        port.setOpen(true);
        proto.setProtocolType(ptZmodem);
        proto.setUpcaseFileNames(false);
        proto.setHandshakeWait(182);
        proto.setStatusInterval(2);
        proto.OnProtocolFinish = [this](Protocol&, int code) {
            eventsOnUiThread &= ui.isUiThread();
            finished = code;
            done = true;
        };
        proto.OnProtocolStatus = [this](Protocol&, uint16_t) {
            eventsOnUiThread &= ui.isUiThread();
            ++statusCalls;
        };
    }
    bool wait(int ms) { return ui.waitAndPump([this] { return done; }, ms); }
};

} // namespace

TEST(ZmodemOnComPort, ReceivesFromSzAndSendsToRz)
{
    NEED_LRZSZ();
    for (bool sending : {false, true}) {
        Dirs d;
        const auto data = randomBytes(3 << 20, 41);
        writeBytes(d.src + "/f.bin", data);
        writeBytes(d.src + "/g h.txt", {'g'});
        PortRig rig;
        PtyPair peerPty;
        Relay relay(rig.ours.master, peerPty.master);
        std::unique_ptr<Peer> peer;
        ComPortLine line(rig.port);
        if (sending) {
            peer = std::make_unique<Peer>(std::vector<std::string>{"rz", "-q"}, peerPty, d.dst);
            rig.proto.setFileMask(d.src + "/*");
            ASSERT_EQ(line.BeginTransmit(rig.proto), 0);
        } else {
            peer = std::make_unique<Peer>(std::vector<std::string>{"sz", "-q", "f.bin", "g h.txt"}, peerPty, d.src);
            rig.proto.setDestinationDirectory(d.dst);
            ASSERT_EQ(line.BeginReceive(rig.proto), 0);
        }
        ASSERT_TRUE(rig.wait(60000)) << sending << " stopped in " << rig.proto.Snapshot().stateName;
        EXPECT_EQ(rig.finished, 0) << sending;
        EXPECT_EQ(peer->wait(20000), 0) << sending;
        EXPECT_FALSE(line.Active());
        EXPECT_EQ(readBytes(d.dst + "/f.bin"), data) << sending;
        EXPECT_EQ(readBytes(d.dst + "/g h.txt"), std::vector<uint8_t>{'g'}) << sending;
        EXPECT_TRUE(rig.eventsOnUiThread);
        EXPECT_GT(rig.statusCalls, 0);
        rig.port.setOpen(false);
    }
}

TEST(ZmodemOnComPort, CancelFromTheUserInterfaceEndsTheTransfer)
{
    NEED_LRZSZ();
    Dirs d;
    writeBytes(d.src + "/f.bin", randomBytes(4 << 20, 42));
    PortRig rig;
    PtyPair peerPty;
    RelayOptions opt;
    opt.bytesPerSecond = 300000;
    Relay relay(rig.ours.master, peerPty.master, opt);
    Peer rz({"rz", "-q"}, peerPty, d.dst);
    ComPortLine line(rig.port);
    rig.proto.setFileName(d.src + "/f.bin");
    ASSERT_EQ(line.BeginTransmit(rig.proto), 0);
    rig.ui.waitAndPump([&] { return rig.proto.BytesTransferred() > 200000; }, 30000);
    rig.proto.CancelTransfer();
    ASSERT_TRUE(rig.wait(30000));
    EXPECT_EQ(rig.finished, -ecCancelRequested);
    EXPECT_EQ(rig.proto.ProtocolStatus(), psCancelRequested);
    EXPECT_NE(rz.wait(20000), 0) << "rz saw the cancel";
    EXPECT_FALSE(line.Active());
}

TEST(ZmodemOnComPort, PeerThatHangsUpEndsTheTransferAtOnce)
{
    PortRig rig;
    rig.port.setOpen(false);
    comm::SetPortDevice(rig.store, 8, "exec:sleep 1");
    rig.port.setComNumber(8);
    rig.port.setOpen(true);
    ComPortLine line(rig.port);
    rig.proto.setDestinationDirectory("/tmp");
    const int64_t start = platform::monotonicMs();
    ASSERT_EQ(line.BeginReceive(rig.proto), 0);
    ASSERT_TRUE(rig.wait(30000));
    EXPECT_EQ(rig.finished, -ecAbortNoCarrier);
    EXPECT_EQ(rig.proto.ProtocolStatus(), psAbortNoCarrier);
    EXPECT_LT(platform::monotonicMs() - start, 20000) << "well before the handshake time-outs";
}
