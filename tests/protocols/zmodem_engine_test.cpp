// The Zmodem engines wired to each other in memory: batches, recovery from damaged and
// lost bytes, block length adaptation, file management, crash recovery, cancel and the
// error limit. Time is simulated, so time-outs cost nothing.

#include <gtest/gtest.h>

#include "fake_host.h"
#include "protocols/zmodem_decoder.h"
#include "protocols/zmodem_defs.h"
#include "protocols/zmodem_receiver.h"
#include "protocols/zmodem_sender.h"

using namespace zelvo::protocols;
using namespace zelvo::protocols::zm;
using zelvo::protocols::test::FakeHost;
using zelvo::protocols::test::Link;
using zelvo::protocols::test::MemFile;
using zelvo::protocols::test::randomBytes;

namespace {

EngineSettings fastSettings()
{
    EngineSettings s;
    s.HandshakeWaitMs = 2000;
    s.FinishWaitMs = 2000;
    s.ZmodemFileOption = zfoWriteClobber;
    return s;
}

struct Pair {
    FakeHost tx, rx;
    EngineSettings txSettings = fastSettings(), rxSettings = fastSettings();
    std::unique_ptr<ZmodemSender> sender;
    std::unique_ptr<ZmodemReceiver> receiver;
    Link link;
    int64_t now = 1000;

    void add(const std::string& name, std::vector<uint8_t> data, int64_t mtime = 1700000000)
    {
        MemFile f;
        f.data = std::move(data);
        f.mtime = mtime;
        tx.toSend.emplace_back(name, std::move(f));
    }
    bool run(int maxSteps = 200000)
    {
        sender = std::make_unique<ZmodemSender>(tx, txSettings);
        receiver = std::make_unique<ZmodemReceiver>(rx, rxSettings);
        sender->start(now);
        receiver->start(now);
        return link.run(*sender, tx, *receiver, rx, now, maxSteps);
    }
};

// Decodes the headers in a byte stream.
std::vector<ZmodemDecoder::Event> headersIn(const std::vector<uint8_t>& bytes)
{
    ZmodemDecoder dec;
    std::vector<ZmodemDecoder::Event> out;
    size_t i = 0;
    while (i < bytes.size()) {
        ZmodemDecoder::Event ev;
        i += dec.feed(bytes.data() + i, bytes.size() - i, ev);
        if (ev.kind == ZmodemDecoder::EventKind::Header)
            out.push_back(ev);
    }
    return out;
}

} // namespace

TEST(ZmodemEngines, BatchWithEmptyAndLargeFilesArrivesIntact)
{
    Pair p;
    p.add("a.bin", randomBytes(200000, 1));
    p.add("empty", {});
    p.add("small.txt", {'h', 'i', '\n'});
    p.add("ctl", std::vector<uint8_t>{0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x11, 0x13, '@', '\r', 0x90, 0x93});
    ASSERT_TRUE(p.run());
    EXPECT_EQ(p.sender->result(), 0);
    EXPECT_EQ(p.receiver->result(), 0);
    ASSERT_EQ(p.rx.disk.size(), 4u);
    for (const auto& [name, file] : p.tx.toSend) {
        ASSERT_TRUE(p.rx.disk.count(name)) << name;
        EXPECT_EQ(p.rx.disk[name].data, file.data) << name;
        EXPECT_TRUE(p.rx.disk[name].complete) << name;
        EXPECT_EQ(p.rx.disk[name].mtime, file.mtime) << name;
    }
    EXPECT_EQ(p.tx.sentComplete.size(), 4u);
}

TEST(ZmodemEngines, FlippedByteMakesTheReceiverAskForAResend)
{
    Pair p;
    p.add("f", randomBytes(20000, 2));
    std::vector<uint8_t> toSender;
    bool flipped = false;
    p.link.aToB = [&](uint64_t i, uint8_t& b) {
        if (i == 5000 && !flipped) {
            b ^= 0x20;
            flipped = true;
        }
        return true;
    };
    p.link.bToA = [&](uint64_t, uint8_t& b) {
        toSender.push_back(b);
        return true;
    };
    ASSERT_TRUE(p.run());
    EXPECT_EQ(p.receiver->result(), 0);
    EXPECT_EQ(p.rx.disk["f"].data, p.tx.toSend[0].second.data);
    int zrpos = 0;
    for (const auto& h : headersIn(toSender))
        if (h.type == ZRPOS)
            ++zrpos;
    EXPECT_EQ(zrpos, 2) << "one to start the file, one to resend after the damage";
    EXPECT_EQ(p.receiver->state().TotalErrors, 1u);
    EXPECT_GE(p.tx.flushes, 1) << "pending output is discarded on ZRPOS";
}

TEST(ZmodemEngines, BlockLengthHalvesOnErrorsAndRecoversOnTheFifthSubpacket)
{
    for (bool eightK : {false, true}) {
        Pair p;
        p.txSettings.Zmodem8K = eightK;
        const uint32_t full = eightK ? 8192 : 1024;
        p.add("f", randomBytes(400000, 3));
        // Damage the data three times, each time 30000 bytes into a fresh run of data.
        p.tx.capacity = 16384;
        int damaged = 0;
        uint32_t lastErrors = 0;
        uint64_t sinceRestart = 0;
        p.link.aToB = [&](uint64_t, uint8_t& b) {
            const uint32_t errors = p.sender->state().TotalErrors;
            if (errors != lastErrors) {
                lastErrors = errors;
                sinceRestart = 0;
            }
            if (++sinceRestart == 30000 && damaged < 3) {
                b ^= 0x01;
                ++damaged;
            }
            return true;
        };
        ASSERT_TRUE(p.run());
        EXPECT_EQ(p.receiver->result(), 0);
        EXPECT_EQ(p.rx.disk["f"].data, p.tx.toSend[0].second.data);
        EXPECT_EQ(p.sender->state().TotalErrors, 3u);
        EXPECT_EQ(p.sender->blockLength(), full) << "back to full length by the end";
    }
}

TEST(ZmodemEngines, ThreeRepositioningsGoTo512Then256AndTheFifthIsFullAgain)
{
    // Drive the sender by hand: ZRINIT, ZRPOS to start, then three ZRPOS in a row.
    FakeHost host;
    EngineSettings s = fastSettings();
    ZmodemSender sender(host, s);
    MemFile f;
    f.data = randomBytes(100000, 4);
    host.toSend.emplace_back("f", f);
    host.capacity = 600; // room for about one subpacket at a time
    int64_t now = 0;
    sender.start(now);
    host.out.clear();
    ZmodemEncoder enc;
    auto feed = [&](uint8_t type, uint32_t pos, uint8_t zf0 = 0) {
        std::vector<uint8_t> h;
        auto p = ZmodemEncoder::position(pos);
        if (type == ZRINIT)
            p = {0, 0, 0, zf0};
        enc.hexHeader(h, type, p);
        sender.receive(h.data(), h.size(), now);
    };
    feed(ZRINIT, 0, 0x23);
    host.out.clear();
    feed(ZRPOS, 0);
    EXPECT_EQ(sender.blockLength(), 1024u);
    feed(ZRPOS, 1000);
    EXPECT_EQ(sender.blockLength(), 512u);
    feed(ZRPOS, 2000);
    EXPECT_EQ(sender.blockLength(), 256u);
    feed(ZRPOS, 3000);
    EXPECT_EQ(sender.blockLength(), 256u);
    // Let the subpackets flow and count their sizes.
    std::vector<size_t> sizes;
    ZmodemDecoder dec;
    dec.expectHeader();
    for (int round = 0; round < 40 && sizes.size() < 8; ++round) {
        std::vector<uint8_t> bytes;
        bytes.swap(host.out);
        size_t i = 0;
        while (i < bytes.size()) {
            ZmodemDecoder::Event ev;
            i += dec.feed(bytes.data() + i, bytes.size() - i, ev);
            if (ev.kind == ZmodemDecoder::EventKind::Data)
                sizes.push_back(dec.dataLength());
        }
        sender.poll(now);
    }
    ASSERT_GE(sizes.size(), 6u);
    EXPECT_EQ(sizes[0], 256u);
    EXPECT_EQ(sizes[3], 256u);
    EXPECT_EQ(sizes[4], 1024u) << "the fifth subpacket after the last error";
    EXPECT_EQ(sender.state().BlockErrors, 3u);
}

TEST(ZmodemEngines, DroppedAndDelayedBytesRecover)
{
    Pair p;
    p.add("f1", randomBytes(150000, 6));
    p.add("f2", randomBytes(70000, 7));
    p.link.chunk = 97;
    p.link.aToB = [](uint64_t i, uint8_t&) { return i % 40013 != 17; };      // drop
    p.link.bToA = [](uint64_t i, uint8_t&) { return i != 3; };               // lose part of the first ZRINIT
    ASSERT_TRUE(p.run());
    EXPECT_EQ(p.sender->result(), 0);
    EXPECT_EQ(p.receiver->result(), 0);
    EXPECT_EQ(p.rx.disk["f1"].data, p.tx.toSend[0].second.data);
    EXPECT_EQ(p.rx.disk["f2"].data, p.tx.toSend[1].second.data);
}

TEST(ZmodemEngines, HopelessLineEndsWithTooManyErrors)
{
    Pair p;
    p.add("f", randomBytes(100000, 8));
    p.link.aToB = [](uint64_t i, uint8_t& b) {
        if (i > 3000 && i % 300 == 0)
            b ^= 0x55;
        return true;
    };
    ASSERT_TRUE(p.run());
    EXPECT_EQ(p.receiver->result(), -ecTooManyErrors);
    EXPECT_EQ(p.sender->result(), -ecCancelRequested) << "the receiver's cancel ends the sender";
    EXPECT_FALSE(p.rx.disk["f"].complete);
}

TEST(ZmodemEngines, CancelFromEitherSideEndsBoth)
{
    for (bool senderCancels : {true, false}) {
        Pair p;
        p.add("f", randomBytes(500000, 9));
        p.tx.capacity = 4096;
        p.sender = std::make_unique<ZmodemSender>(p.tx, p.txSettings);
        p.receiver = std::make_unique<ZmodemReceiver>(p.rx, p.rxSettings);
        p.sender->start(p.now);
        p.receiver->start(p.now);
        // Let some data flow, then cancel.
        for (int i = 0; i < 50; ++i) {
            Link::move(p.tx, *p.receiver, nullptr, p.link.countAB, 4096, p.now);
            Link::move(p.rx, *p.sender, nullptr, p.link.countBA, 4096, p.now);
            p.now += 600;
            p.sender->poll(p.now);
            p.receiver->poll(p.now);
        }
        ASSERT_GT(p.receiver->position(), 0u);
        if (senderCancels)
            p.sender->cancel(p.now);
        else
            p.receiver->cancel(p.now);
        ASSERT_TRUE(p.link.run(*p.sender, p.tx, *p.receiver, p.rx, p.now));
        EXPECT_EQ(p.sender->result(), -ecCancelRequested);
        EXPECT_EQ(p.receiver->result(), -ecCancelRequested);
        EXPECT_EQ(p.sender->state().ProtocolStatus, psCancelRequested);
        EXPECT_EQ(p.receiver->state().ProtocolStatus, psCancelRequested);
    }
}

TEST(ZmodemEngines, CancelSequenceAndByteAccounting)
{
    FakeHost host;
    EngineSettings s = fastSettings();
    s.Overhead = 100;
    ZmodemSender sender(host, s);
    MemFile f;
    f.data = randomBytes(50000, 10);
    host.toSend.emplace_back("f", f);
    sender.start(0);
    ZmodemEncoder enc;
    std::vector<uint8_t> h;
    enc.hexHeader(h, ZRINIT, {0, 0, 0, 0x23});
    sender.receive(h.data(), h.size(), 0);
    host.out.clear();
    h.clear();
    enc.hexHeader(h, ZRPOS, ZmodemEncoder::position(0));
    sender.receive(h.data(), h.size(), 0);
    // Everything went into the 1 MiB port buffer; none of it has reached the line.
    const uint64_t sent = sender.state().BytesTransferred;
    ASSERT_EQ(sent, 50000u);
    const size_t waiting = host.out.size();
    sender.cancel(0);
    const int64_t notSent = static_cast<int64_t>(waiting) - 100 * static_cast<int64_t>(waiting / 1024);
    ASSERT_GT(notSent, 0);
    ASSERT_LT(notSent, 50000);
    const uint64_t expected = sent - static_cast<uint64_t>(notSent);
    EXPECT_EQ(sender.state().BytesTransferred, expected);
    const std::vector<uint8_t> seq = {0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18,
                                      8, 8, 8, 8, 8, 8, 8, 8};
    EXPECT_EQ(host.out, seq) << "pending output discarded, then the cancel sequence";
    EXPECT_EQ(sender.result(), -ecCancelRequested);
}

// Bytes after the protocol's last frame (the shell prompt printed when sz or rz ends)
// are not the engine's: they are left for the terminal, and they end the wait for the
// sender's "OO" when that got lost.
TEST(ZmodemEngines, WhatFollowsTheLastFrameIsLeftForTheTerminal)
{
    ZmodemEncoder enc;
    std::vector<uint8_t> zfin;
    enc.hexHeader(zfin, ZFIN, {0, 0, 0, 0});
    const std::string prompt = "user@host:~$ ";
    auto bytes = [](std::vector<uint8_t> v, const std::string& tail) {
        v.insert(v.end(), tail.begin(), tail.end());
        return v;
    };
    for (const std::string& between : {std::string("OO"), std::string()}) {
        FakeHost host;
        ZmodemReceiver rx(host, fastSettings());
        rx.start(0);
        rx.poll(rx.deadline());
        const auto chunk = bytes(zfin, between + prompt);
        rx.receive(chunk.data(), chunk.size(), 1000);
        ASSERT_TRUE(rx.done()) << "\"" << between << "\"";
        EXPECT_EQ(rx.result(), 0);
        EXPECT_EQ(rx.unusedInput(), prompt.size()) << "\"" << between << "\"";
    }
    {
        // A repeated ZFIN is answered again, not taken for the far side's next words.
        FakeHost host;
        ZmodemReceiver rx(host, fastSettings());
        rx.start(0);
        rx.poll(rx.deadline());
        rx.receive(zfin.data(), zfin.size(), 1000);
        host.out.clear();
        rx.receive(zfin.data(), zfin.size(), 1100);
        EXPECT_FALSE(rx.done());
        ASSERT_EQ(headersIn(host.out).size(), 1u);
        const auto tail = bytes({}, "OO" + prompt);
        rx.receive(tail.data(), tail.size(), 1200);
        EXPECT_TRUE(rx.done());
        EXPECT_EQ(rx.unusedInput(), prompt.size());
    }
    {
        // The sender's side: the receiver's ZFIN, its line end, then rz has ended.
        FakeHost host;
        ZmodemSender tx(host, fastSettings());
        tx.start(0);
        std::vector<uint8_t> zrinit;
        enc.hexHeader(zrinit, ZRINIT, {0, 0, 0, 0x23});
        tx.receive(zrinit.data(), zrinit.size(), 10);
        ASSERT_EQ(tx.currentState(), ZmodemSender::tzChkFinish);
        const auto chunk = bytes(zfin, prompt);
        tx.receive(chunk.data(), chunk.size(), 20);
        ASSERT_TRUE(tx.done());
        EXPECT_EQ(tx.result(), 0);
        EXPECT_EQ(tx.unusedInput(), prompt.size());
    }
}

TEST(ZmodemEngines, SilentSenderTimesOutAfterHandshakeRetries)
{
    FakeHost host;
    EngineSettings s = fastSettings();
    s.HandshakeRetry = 3;
    ZmodemReceiver rx(host, s);
    int64_t now = 0;
    rx.start(now);
    int zrinits = 0;
    for (int i = 0; i < 20 && !rx.done(); ++i) {
        now = rx.deadline();
        rx.poll(now);
        for (const auto& h : headersIn(host.out))
            zrinits += h.type == ZRINIT;
        host.out.clear();
    }
    EXPECT_TRUE(rx.done());
    EXPECT_EQ(rx.result(), -ecTimeout);
    EXPECT_EQ(zrinits, 3);
}

TEST(ZmodemEngines, ReceiverAnnouncesItsCapabilitiesInHex)
{
    FakeHost host;
    ZmodemReceiver rx(host, fastSettings());
    rx.start(0);
    rx.poll(rx.deadline());
    auto hs = headersIn(host.out);
    ASSERT_EQ(hs.size(), 1u);
    EXPECT_EQ(hs[0].type, ZRINIT);
    EXPECT_EQ(hs[0].p[ZF0], 0x27);
    EXPECT_EQ(host.out[3], 'B');
}

TEST(ZmodemEngines, SenderHonoursEscapeAllAndCrc16Receivers)
{
    Pair p;
    p.add("f", randomBytes(30000, 11));
    // Rewrite the receiver's ZRINIT to ask for CRC-16 and escaping of all controls.
    bool rewritten = false;
    std::vector<uint8_t> held;
    p.link.bToA = [&](uint64_t, uint8_t&) { return true; };
    p.sender = std::make_unique<ZmodemSender>(p.tx, p.txSettings);
    p.receiver = std::make_unique<ZmodemReceiver>(p.rx, p.rxSettings);
    p.sender->start(p.now);
    p.receiver->start(p.now);
    p.now = p.receiver->deadline();
    p.receiver->poll(p.now);
    p.rx.out.clear();
    ZmodemEncoder enc;
    std::vector<uint8_t> h;
    enc.hexHeader(h, ZRINIT, {0, 0, 0, CANFDX | ESCCTL});
    p.sender->receive(h.data(), h.size(), p.now);
    rewritten = true;
    ASSERT_TRUE(p.link.run(*p.sender, p.tx, *p.receiver, p.rx, p.now));
    EXPECT_TRUE(rewritten);
    EXPECT_TRUE(p.sender->escapingAll());
    EXPECT_EQ(p.sender->state().BlockCheck, bcmCrc16);
    EXPECT_EQ(p.rx.disk["f"].data, p.tx.toSend[0].second.data);
}

TEST(ZmodemEngines, WindowedReceiverGetsZcrcwAndAcks)
{
    Pair p;
    p.add("f", randomBytes(50000, 12));
    // Announce a 4096-byte receive buffer in the receiver's ZRINIT.
    p.sender = std::make_unique<ZmodemSender>(p.tx, p.txSettings);
    p.receiver = std::make_unique<ZmodemReceiver>(p.rx, p.rxSettings);
    p.sender->start(p.now);
    p.receiver->start(p.now);
    p.now = p.receiver->deadline();
    p.receiver->poll(p.now);
    p.rx.out.clear();
    ZmodemEncoder enc;
    std::vector<uint8_t> h;
    enc.hexHeader(h, ZRINIT, {0x00, 0x10, 0, 0x23});
    p.sender->receive(h.data(), h.size(), p.now);
    EXPECT_EQ(p.sender->receiverBufferSize(), 4096u);
    ASSERT_TRUE(p.link.run(*p.sender, p.tx, *p.receiver, p.rx, p.now));
    EXPECT_EQ(p.rx.disk["f"].data, p.tx.toSend[0].second.data);
}

// ---- File management ----

TEST(ZmodemManagement, RulesOfTheManagementByte)
{
    using D = ZmodemReceiver::Decision;
    LocalFile none;
    LocalFile local{true, 1000, 5000};
    auto decide = [&](uint8_t mgmt, const LocalFile& lf, uint64_t len, int64_t t, uint8_t conv = 0) {
        return ZmodemReceiver::decide(conv, mgmt, lf, len, t, true);
    };
    // Missing files are always written, unless 0x80 asks to skip them.
    for (uint8_t m = 0; m < 8; ++m)
        EXPECT_EQ(decide(m, none, 10, 1).skipStatus, 0) << int(m);
    EXPECT_EQ(decide(0x80 | zfoWriteClobber, none, 10, 1).skipStatus, psFileDoesntExist);
    // 0 is protect.
    EXPECT_EQ(decide(zfoNoOption, local, 2000, 9000).skipStatus, psCantWriteFile);
    EXPECT_EQ(decide(zfoWriteProtect, local, 2000, 9000).skipStatus, psCantWriteFile);
    EXPECT_EQ(decide(zfoWriteClobber, local, 1, 1).skipStatus, 0);
    // Newer: two seconds or more.
    EXPECT_EQ(decide(zfoWriteNewer, local, 10, 5001).skipStatus, psCantWriteFile);
    EXPECT_EQ(decide(zfoWriteNewer, local, 10, 5002).skipStatus, 0);
    EXPECT_EQ(decide(zfoWriteCrc, local, 10, 5002).skipStatus, 0);
    EXPECT_EQ(decide(zfoWriteCrc, local, 10, 4000).skipStatus, psCantWriteFile);
    // Newer or longer.
    EXPECT_EQ(decide(zfoWriteNewerLonger, local, 1001, 100).skipStatus, 0);
    EXPECT_EQ(decide(zfoWriteNewerLonger, local, 1000, 5001).skipStatus, psCantWriteFile);
    // Different: dates differ, or equal dates and different sizes.
    EXPECT_EQ(decide(zfoWriteDifferent, local, 1000, 4998).skipStatus, 0);
    EXPECT_EQ(decide(zfoWriteDifferent, local, 1000, 5001).skipStatus, psCantWriteFile);
    EXPECT_EQ(decide(zfoWriteDifferent, local, 999, 5001).skipStatus, 0);
    // Append extends at the end.
    D a = decide(zfoWriteAppend, local, 10, 1);
    EXPECT_EQ(a.skipStatus, 0);
    EXPECT_EQ(a.mode, OpenMode::Append);
    EXPECT_EQ(a.offset, 1000u);
    EXPECT_EQ(a.position, 0u) << "the whole incoming file goes after the local one";
    // Resume: conversion 3, incoming longer.
    D r = decide(zfoWriteProtect, local, 5000, 1, ZCRESUM);
    EXPECT_EQ(r.skipStatus, 0);
    EXPECT_EQ(r.mode, OpenMode::Resume);
    EXPECT_EQ(r.offset, 1000u);
    EXPECT_EQ(r.position, 1000u);
    EXPECT_EQ(decide(zfoWriteProtect, local, 1000, 1, ZCRESUM).skipStatus, psCantWriteFile);
}

TEST(ZmodemManagement, SenderOptionZeroProtectsUnlessOverridden)
{
    for (bool override : {false, true}) {
        Pair p;
        p.txSettings.ZmodemFileOption = zfoNoOption;
        p.rxSettings.ZmodemOptionOverride = override;
        p.rxSettings.ZmodemFileOption = zfoWriteClobber;
        p.rx.disk["f"].data = {'o', 'l', 'd'};
        p.add("f", {'n', 'e', 'w', '!'});
        p.add("g", {'g'});
        ASSERT_TRUE(p.run());
        EXPECT_EQ(p.rx.disk["g"].data, std::vector<uint8_t>{'g'});
        if (override) {
            EXPECT_EQ(p.rx.disk["f"].data, (std::vector<uint8_t>{'n', 'e', 'w', '!'}));
        } else {
            EXPECT_EQ(p.rx.disk["f"].data, (std::vector<uint8_t>{'o', 'l', 'd'}));
            bool sawSkip = false;
            for (const auto& st : p.rx.statuses)
                sawSkip |= st.ProtocolStatus == psCantWriteFile;
            EXPECT_TRUE(sawSkip);
        }
        EXPECT_EQ(p.sender->result(), 0);
    }
}

TEST(ZmodemManagement, SkipNoFileFromTheSender)
{
    Pair p;
    p.txSettings.ZmodemSkipNoFile = true;
    p.rx.disk["exists"].data = {'x'};
    p.add("exists", {'y', 'y'});
    p.add("absent", {'z'});
    ASSERT_TRUE(p.run());
    EXPECT_EQ(p.rx.disk["exists"].data, (std::vector<uint8_t>{'y', 'y'}));
    EXPECT_EQ(p.rx.disk.count("absent"), 0u);
}

TEST(ZmodemManagement, CrashRecoveryResumesAtTheLocalLength)
{
    for (bool receiverSide : {false, true}) {
        Pair p;
        auto data = randomBytes(100000, 13);
        p.rx.disk["f"].data.assign(data.begin(), data.begin() + 37000);
        if (receiverSide)
            p.rxSettings.ZmodemRecover = true;
        else
            p.txSettings.ZmodemRecover = true;
        p.add("f", data);
        uint64_t carried = 0;
        p.link.aToB = [&](uint64_t, uint8_t&) {
            ++carried;
            return true;
        };
        ASSERT_TRUE(p.run());
        EXPECT_EQ(p.rx.disk["f"].data, data);
        EXPECT_EQ(p.rx.opens.back().second, OpenMode::Resume);
        EXPECT_LT(carried, 70000u) << "only the missing part travels";
        EXPECT_EQ(p.receiver->state().InitialPosition, 37000u);
    }
}

TEST(ZmodemManagement, AppendAddsTheWholeIncomingFile)
{
    const std::vector<uint8_t> incoming = randomBytes(5000, 14);
    for (size_t localLength : {100u, 9000u}) {
        for (bool receiverDecides : {false, true}) {
            Pair p;
            const auto local = randomBytes(localLength, 15);
            p.rx.disk["f"].data = local;
            if (receiverDecides) {
                p.rxSettings.ZmodemOptionOverride = true;
                p.rxSettings.ZmodemFileOption = zfoWriteAppend;
            } else {
                p.txSettings.ZmodemFileOption = zfoWriteAppend;
            }
            p.add("f", incoming);
            ASSERT_TRUE(p.run());
            std::vector<uint8_t> expected = local;
            expected.insert(expected.end(), incoming.begin(), incoming.end());
            EXPECT_EQ(p.rx.disk["f"].data, expected) << localLength << " " << receiverDecides;
            EXPECT_EQ(p.sender->result(), 0);
            EXPECT_EQ(p.receiver->result(), 0);
            EXPECT_EQ(p.tx.sentComplete.size(), 1u);
        }
    }
}

// A receiver that appends by asking for its own length (past the end of our file) gets
// the whole file numbered from there, and the end of file it expects.
TEST(ZmodemManagement, SenderFollowsAReceiverThatAppendsAtItsLength)
{
    FakeHost host;
    ZmodemSender tx(host, fastSettings());
    MemFile f;
    f.data = randomBytes(300, 16);
    host.toSend.emplace_back("f", f);
    tx.start(0);
    ZmodemEncoder enc;
    std::vector<uint8_t> h;
    enc.hexHeader(h, ZRINIT, {0, 0, 0, 0x23});
    tx.receive(h.data(), h.size(), 1);
    host.out.clear();
    h.clear();
    enc.hexHeader(h, ZRPOS, ZmodemEncoder::position(5000));
    tx.receive(h.data(), h.size(), 2);
    auto hs = headersIn(host.out);
    ASSERT_EQ(hs.size(), 2u);
    EXPECT_EQ(hs[0].type, ZDATA);
    EXPECT_EQ(hs[0].position(), 5000u);
    EXPECT_EQ(hs[1].type, ZEOF);
    EXPECT_EQ(hs[1].position(), 5300u);
    EXPECT_EQ(tx.state().BytesTransferred, 300u);
    h.clear();
    enc.hexHeader(h, ZRINIT, {0, 0, 0, 0x23});
    tx.receive(h.data(), h.size(), 3);
    EXPECT_EQ(host.sentComplete.size(), 1u);
    EXPECT_EQ(tx.currentState(), ZmodemSender::tzChkFinish);
}

TEST(ZmodemManagement, RefusedNameIsSkippedAndTheBatchGoesOn)
{
    Pair p;
    p.rx.resolver = [](const std::string& wire, std::string& path) {
        if (wire.find("..") != std::string::npos)
            return static_cast<int>(psSkipFile);
        path = wire;
        return 0;
    };
    p.txSettings.IncludeDirectory = true;
    p.add("../evil", {'e'});
    p.add("good", {'g'});
    ASSERT_TRUE(p.run());
    EXPECT_EQ(p.rx.disk.count("../evil"), 0u);
    EXPECT_EQ(p.rx.disk["good"].data, std::vector<uint8_t>{'g'});
    EXPECT_EQ(p.sender->result(), 0);
}

TEST(ZmodemSender, FileInfoCarriesLowerCaseNameLengthAndOctalTime)
{
    SendFile f;
    f.path = "/home/u/Dir\\Sub/My File.TXT";
    f.length = 1234;
    f.mtime = 01234567;
    auto info = ZmodemSender::fileInfo(f, false);
    EXPECT_EQ(std::string(info.begin(), info.end()), std::string("my file.txt\0" "1234 1234567\0", 25));
    auto withDir = ZmodemSender::fileInfo(f, true);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(withDir.data())), "home/u/dir/sub/my file.txt");
}

TEST(ZmodemReceiverInput, FilesOf4GiBAndSwitchedFilesAreHandledSafely)
{
    FakeHost host;
    EngineSettings s = fastSettings();
    ZmodemReceiver rx(host, s);
    rx.start(0);
    rx.poll(rx.deadline());
    host.out.clear();
    ZmodemEncoder enc;
    auto zfile = [&](const std::string& info) {
        std::vector<uint8_t> w;
        enc.binHeader(w, ZFILE, {0, 0, zfoWriteClobber, 0});
        enc.dataSubpacket(w, reinterpret_cast<const uint8_t*>(info.data()), info.size(), ZCRCW);
        rx.receive(w.data(), w.size(), 10);
    };
    zfile(std::string("huge\0" "5000000000 0", 17));
    auto hs = headersIn(host.out);
    ASSERT_EQ(hs.size(), 1u);
    EXPECT_EQ(hs[0].type, ZSKIP);
    EXPECT_EQ(host.disk.count("huge"), 0u);
    host.out.clear();

    // A file is started, then the sender moves on to another one without finishing it.
    zfile(std::string("first\0" "100 0", 11));
    hs = headersIn(host.out);
    ASSERT_EQ(hs.size(), 1u);
    EXPECT_EQ(hs[0].type, ZRPOS);
    host.out.clear();
    zfile(std::string("second\0" "3 0", 10));
    hs = headersIn(host.out);
    ASSERT_EQ(hs.size(), 1u);
    EXPECT_EQ(hs[0].type, ZRPOS);
    EXPECT_FALSE(host.disk["first"].complete);
    EXPECT_EQ(host.opens.back().first, "second");
    EXPECT_EQ(rx.currentState(), ZmodemReceiver::rzStartData);
}
