// Xmodem, Ymodem and ASCII over pseudo-terminals through a relay: against lrzsz (sx, rx,
// sb, rb), against ourselves on a damaged line, and ASCII against plain shell commands.
// Files are compared byte for byte; Xmodem copies may carry SUB fill to the block size.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "interop_rig.h"
#include "platform/clock.h"

using namespace zelvo;
using namespace zelvo::protocols;
using namespace zelvo::protocols::test;

namespace {

bool streamingType(TProtocolType t)
{
    return t == ptXmodem1KG || t == ptYmodemG;
}

bool batchType(TProtocolType t)
{
    return t == ptYmodem || t == ptYmodemG;
}

} // namespace

TEST(XmodemInterop, LrzszSendersToOurReceivers)
{
    NEED_LRZSZ();
    struct Case {
        std::vector<std::string> argv;
        TProtocolType type;
    };
    // sx answers 'C' and 'G' alike with CRC blocks that wait for an acknowledgement.
    const Case cases[] = {
        {{"sx", "-q", "f.bin"}, ptXmodem},
        {{"sx", "-q", "f.bin"}, ptXmodemCRC},
        {{"sx", "-q", "-k", "f.bin"}, ptXmodem1K},
        {{"sx", "-q", "-k", "f.bin"}, ptXmodem1KG},
    };
    for (const Case& c : cases) {
        Dirs d;
        const auto data = randomBytes(200000 + 77, 51);
        writeBytes(d.src + "/f.bin", data);
        Ours us(c.type);
        PtyPair peerPty;
        Relay relay(us.pty.master, peerPty.master);
        Peer sx(c.argv, peerPty, d.src);
        EXPECT_EQ(us.receive(d.dst + "/out.bin"), 0) << c.type;
        EXPECT_EQ(sx.wait(20000), 0) << c.type;
        EXPECT_TRUE(paddedCopy(readBytes(d.dst + "/out.bin"), data)) << c.type;
    }
}

TEST(XmodemInterop, OurSendersToRx)
{
    NEED_LRZSZ();
    struct Case {
        TProtocolType type;
        std::vector<std::string> argv;
    };
    // rx without -c asks with NAK: our CRC and 1K senders fall back to checksum.
    const Case cases[] = {
        {ptXmodem, {"rx", "-q", "r.bin"}},
        {ptXmodemCRC, {"rx", "-q", "-c", "r.bin"}},
        {ptXmodemCRC, {"rx", "-q", "r.bin"}},
        {ptXmodem1K, {"rx", "-q", "-c", "r.bin"}},
        {ptXmodem1K, {"rx", "-q", "r.bin"}},
    };
    for (const Case& c : cases) {
        Dirs d;
        const auto data = randomBytes(c.type == ptXmodem1K ? 60000 + 5 : 20000 + 5, 52);
        writeBytes(d.src + "/f.bin", data);
        Ours us(c.type);
        us.sendFiles({d.src + "/f.bin"});
        // A block that rx's input flush swallowed is sent again after 1.5 s, not 7.5 s.
        us.proto.setXYmodemBlockWait(18);
        PtyPair peerPty;
        // rx empties its input after every acknowledgement; a little latency keeps the
        // next block from arriving before that, as on a real line.
        RelayOptions latency;
        latency.delayMs = 2;
        Relay relay(us.pty.master, peerPty.master, latency);
        Peer rx(c.argv, peerPty, d.dst);
        EXPECT_EQ(us.send(), 0) << c.type << " " << c.argv.size();
        EXPECT_EQ(rx.wait(20000), 0) << c.type;
        EXPECT_TRUE(paddedCopy(readBytes(d.dst + "/r.bin"), data)) << c.type << " " << c.argv.size();
    }
}

TEST(YmodemInterop, SbToOurReceiversAndOurSenderToRb)
{
    NEED_LRZSZ();
    const auto big = randomBytes((1 << 20) + 333, 53);
    const auto small = allByteValues(9);
    for (TProtocolType t : {ptYmodem, ptYmodemG}) {
        Dirs d;
        writeBytes(d.src + "/big.bin", big);
        writeBytes(d.src + "/b c.txt", small);
        writeBytes(d.src + "/empty", {});
        Ours us(t);
        PtyPair peerPty;
        Relay relay(us.pty.master, peerPty.master);
        Peer sb({"sb", "-q", "-k", "big.bin", "b c.txt", "empty"}, peerPty, d.src);
        EXPECT_EQ(us.receive(d.dst), 0) << t;
        EXPECT_EQ(sb.wait(20000), 0) << t;
        EXPECT_EQ(readBytes(d.dst + "/big.bin"), big) << t;
        EXPECT_EQ(readBytes(d.dst + "/b c.txt"), small) << t;
        EXPECT_TRUE(fileExists(d.dst + "/empty")) << t;
        EXPECT_TRUE(readBytes(d.dst + "/empty").empty()) << t;
    }
    Dirs d;
    const std::vector<uint8_t> part(big.begin(), big.begin() + 200000 + 11);
    writeBytes(d.src + "/big.bin", part);
    writeBytes(d.src + "/Small.TXT", small);
    writeBytes(d.src + "/empty", {});
    Ours us(ptYmodem);
    us.sendFiles({d.src + "/big.bin", d.src + "/Small.TXT", d.src + "/empty"});
    us.proto.setXYmodemBlockWait(18);
    PtyPair peerPty;
    RelayOptions latency;
    latency.delayMs = 2;
    Relay relay(us.pty.master, peerPty.master, latency);
    Peer rb({"rb", "-q"}, peerPty, d.dst);
    EXPECT_EQ(us.send(), 0);
    EXPECT_EQ(rb.wait(20000), 0);
    EXPECT_EQ(readBytes(d.dst + "/big.bin"), part);
    EXPECT_EQ(readBytes(d.dst + "/small.txt"), small) << "names go out in lower case";
    EXPECT_TRUE(fileExists(d.dst + "/empty"));
}

// ---- Ourselves on both ends ----

TEST(XmodemOwn, EveryTypeRecoversOrEndsCleanlyOnADamagedLine)
{
    for (TProtocolType t : {ptXmodem, ptXmodemCRC, ptXmodem1K, ptXmodem1KG, ptYmodem, ptYmodemG}) {
        Dirs d;
        const auto data = randomBytes(150000, 54);
        writeBytes(d.src + "/f.bin", data);
        OwnPair p(t);
        p.rxDir = batchType(t) ? d.dst : d.dst + "/f.bin";
        p.tx.sendFiles({d.src + "/f.bin"});
        for (Ours* o : {&p.tx, &p.rx}) {
            o->proto.setXYmodemBlockWait(9);
            o->proto.setHandshakeWait(18);
        }
        RelayOptions opt;
        opt.corruptEvery = 40013;
        opt.dropEvery = 70001;
        opt.delayMs = 1;
        const int64_t start = platform::monotonicMs();
        p.run(opt);
        if (streamingType(t)) {
            // No resending: the receiver cancels at the first damage, the sender stops.
            EXPECT_NE(p.rxResult, 0) << t;
            EXPECT_EQ(p.txResult, -ecCancelRequested) << t;
            EXPECT_LT(platform::monotonicMs() - start, 15000) << t;
        } else {
            EXPECT_EQ(p.rxResult, 0) << t;
            EXPECT_EQ(p.txResult, 0) << t;
            const auto got = readBytes(d.dst + "/f.bin");
            EXPECT_TRUE(batchType(t) ? got == data : paddedCopy(got, data)) << t;
            EXPECT_GT(p.rx.proto.Snapshot().TotalErrors + p.tx.proto.Snapshot().TotalErrors, 0u) << t;
        }
    }
}

TEST(XmodemOwn, HopelessLineEndsWithTooManyErrors)
{
    Dirs d;
    writeBytes(d.src + "/f.bin", randomBytes(100000, 55));
    OwnPair p(ptXmodem1K);
    p.rxDir = d.dst + "/f.bin";
    p.tx.sendFiles({d.src + "/f.bin"});
    for (Ours* o : {&p.tx, &p.rx})
        o->proto.setXYmodemBlockWait(9);
    RelayOptions opt;
    opt.corruptEvery = 200;
    opt.corruptFrom = 4000;
    p.run(opt);
    EXPECT_EQ(p.rxResult, -ecTooManyErrors);
    EXPECT_EQ(p.txResult, -ecCancelRequested);
}

TEST(XmodemOwn, CancelFromEitherSideEndsBothPromptly)
{
    for (TProtocolType t : {ptYmodem, ptXmodem1KG}) {
        for (bool senderCancels : {true, false}) {
            Dirs d;
            writeBytes(d.src + "/f.bin", randomBytes(3 << 20, 56));
            OwnPair p(t);
            p.rxDir = batchType(t) ? d.dst : d.dst + "/f.bin";
            p.tx.sendFiles({d.src + "/f.bin"});
            RelayOptions opt;
            opt.bytesPerSecond = 200000;
            Protocol& canceller = senderCancels ? p.tx.proto : p.rx.proto;
            std::atomic<int64_t> cancelledAt{0};
            std::thread cancel;
            p.run(opt, [&] {
                cancel = std::thread([&] {
                    for (int i = 0; i < 1000 && p.rx.proto.BytesTransferred() < 100000; ++i)
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    cancelledAt = platform::monotonicMs();
                    canceller.CancelTransfer();
                });
            });
            cancel.join();
            EXPECT_EQ(p.txResult, -ecCancelRequested) << t << " " << senderCancels;
            EXPECT_EQ(p.rxResult, -ecCancelRequested) << t << " " << senderCancels;
            EXPECT_LT(platform::monotonicMs() - cancelledAt.load(), 5000) << t << " " << senderCancels;
        }
    }
}

// ---- ASCII ----

TEST(AsciiInterop, SendToAStoringPeerWithEachLfTranslation)
{
    const std::string text = "one\r\ntwo\nthree\r";
    const std::pair<TAsciiEOLTranslation, std::string> cases[] = {
        {aetNone, "one\r\ntwo\nthree\r"},
        {aetStrip, "one\rtwothree\r"},
        {aetAddCRBefore, "one\r\r\ntwo\r\nthree\r"},
        {aetAddLFAfter, "one\r\ntwo\nthree\r"},
    };
    for (const auto& [lf, expected] : cases) {
        Dirs d;
        writeBytes(d.src + "/t.txt", {text.begin(), text.end()});
        Ours us(ptAscii);
        us.proto.setAsciiLFTranslation(lf);
        us.proto.setAsciiCharDelay(1);
        us.sendFiles({d.src + "/t.txt"});
        PtyPair peerPty;
        Relay relay(us.pty.master, peerPty.master);
        Peer store({"sh", "-c", "head -c " + std::to_string(expected.size()) + " > stored.txt"}, peerPty, d.dst);
        EXPECT_EQ(us.send(), 0) << lf;
        EXPECT_EQ(store.wait(10000), 0) << lf;
        EXPECT_EQ(readBytes(d.dst + "/stored.txt"), std::vector<uint8_t>(expected.begin(), expected.end())) << lf;
    }
}

TEST(AsciiInterop, ReceiveWhatAPeerPrintsUntilItFallsSilent)
{
    const std::string text = "one\r\ntwo\nthree\r";
    const std::pair<TAsciiEOLTranslation, std::string> cases[] = {
        {aetNone, "one\r\ntwo\nthree\r"},
        {aetStrip, "one\ntwo\nthree"},
        {aetAddCRBefore, "one\r\ntwo\nthree\r"},
        {aetAddLFAfter, "one\r\n\ntwo\nthree\r\n"},
    };
    for (const auto& [cr, expected] : cases) {
        Dirs d;
        writeBytes(d.src + "/t.txt", {text.begin(), text.end()});
        Ours us(ptAscii);
        us.proto.setAsciiCRTranslation(cr);
        us.proto.setAsciiEOFTimeout(9);
        PtyPair peerPty;
        Relay relay(us.pty.master, peerPty.master);
        Peer print({"sh", "-c", "cat t.txt; sleep 5"}, peerPty, d.src);
        const int64_t start = platform::monotonicMs();
        EXPECT_EQ(us.receive(d.dst + "/got.txt"), 0) << cr;
        EXPECT_LT(platform::monotonicMs() - start, 4000) << "ended by the silence, not the hang-up";
        EXPECT_EQ(readBytes(d.dst + "/got.txt"), std::vector<uint8_t>(expected.begin(), expected.end())) << cr;
    }
}
