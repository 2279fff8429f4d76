// The dispatcher on pseudo-terminal pairs: buffers, triggers and their notifications,
// read-ahead, closing from a handler, hang-up.

#include "comm/event_loop_bridge.h"
#include "comm/posix_dispatcher.h"
#include "platform/clock.h"
#include "pty_pair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <sys/resource.h>

using namespace zelvo::comm;
using zelvo::comm::test::PtyPair;
using zelvo::comm::test::waitUntil;

namespace {

struct Msg {
    uint16_t msg;
    uint32_t w;
    uint32_t l;
};

// A procedure handler that records every notification and, by default, takes exactly
// the announced bytes of each avail notification.
class Recorder : public ProcedureHandler {
public:
    explicit Recorder(BaseDispatcher& d) : d_(d) {}
    // A notification may still be on its way when the test is done with the recorder
    // (the test saw the last bytes before the handler returned): the port is closed and
    // its threads have ended before the recorder goes.
    ~Recorder()
    {
        d_.ClosePort();
        waitUntil([this] { return !d_.ThreadsRunning(); }, 10000);
    }
    void procedureMessage(uint16_t msg, uint32_t w, uint32_t l) override
    {
        if (msg == MsgTriggerAvail && takeAnnounced) {
            std::vector<uint8_t> buf(w);
            const int n = d_.GetBlock(buf.data(), w);
            std::lock_guard lock(m_);
            data.append(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(n));
        }
        if (onMsg)
            onMsg(msg, w, l);
        std::lock_guard lock(m_);
        msgs.push_back({msg, w, l});
        cv_.notify_all();
    }
    bool waitCount(size_t n, int ms = 5000)
    {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return msgs.size() >= n; });
    }
    std::vector<Msg> snapshot()
    {
        std::lock_guard lock(m_);
        return msgs;
    }
    std::string received()
    {
        std::lock_guard lock(m_);
        return data;
    }
    size_t count(uint16_t msg)
    {
        std::lock_guard lock(m_);
        size_t n = 0;
        for (auto& x : msgs)
            n += x.msg == msg;
        return n;
    }

    bool takeAnnounced = true;
    std::function<void(uint16_t, uint32_t, uint32_t)> onMsg;
    std::string data;

private:
    BaseDispatcher& d_;
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<Msg> msgs;
};

class DispatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(pty.slaveName.empty());
        ASSERT_EQ(d.OpenPort(pty.slaveName, 19200, pNone, 8, 1, 4096, 4096, true, true), 0);
    }
    EventLoopBridge ui;
    PtyPair pty;
    PosixDispatcher d{nullptr, &ui};
};

TEST_F(DispatcherTest, OutputBufferExactlyFullThenOneByteTooMany)
{
    // Nobody reads the master, so the output thread is soon held up; fill what is left.
    std::vector<uint8_t> block(100000, 'x');
    // Let the driver fill up first so that the output buffer stays as we fill it.
    while (d.PutBlock(block.data(), 4096) == 0)
        waitUntil([&] { return d.OutputUsed() == 0; }, 200);
    ASSERT_TRUE(waitUntil([&] {
        const uint32_t before = d.OutputFree();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return d.OutputFree() == before;
    }));
    const uint32_t room = d.OutputFree();
    ASSERT_GT(room, 0u);
    EXPECT_EQ(d.PutBlock(block.data(), room + 1), ecOutputBufferTooSmall);
    EXPECT_EQ(d.OutputFree(), room); // nothing was queued
    EXPECT_EQ(d.PutBlock(block.data(), room), 0);
    EXPECT_EQ(d.OutputFree(), 0u);
    EXPECT_EQ(d.OutputUsed(), 4096u);
    EXPECT_EQ(d.PutByte('y'), ecOutputBufferTooSmall);
    EXPECT_EQ(d.PutBlock(block.data(), 0), 0);
    // Draining the far end lets everything through.
    std::string got = pty.receive(1 << 20, 1500);
    EXPECT_TRUE(waitUntil([&] {
        got += pty.receive(1 << 20, 50);
        return d.OutputUsed() == 0;
    }));
}

TEST_F(DispatcherTest, OutputArrivesInOrder)
{
    std::string sent;
    for (int i = 0; i < 2000; ++i)
        sent += "line " + std::to_string(i) + "\n";
    // The far end reads meanwhile: a pty holds only a few kilobytes.
    std::string got;
    std::thread reader([&] { got = pty.receive(sent.size(), 20000); });
    for (size_t pos = 0; pos < sent.size();) {
        const size_t len = std::min<size_t>(37, sent.size() - pos);
        if (d.PutBlock(sent.data() + pos, static_cast<uint32_t>(len)) == 0)
            pos += len;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    reader.join();
    EXPECT_EQ(got, sent);
}

// A dispatcher whose flush lingers once the writer has stopped, which widens the moment
// in which a writer not kept stopped for the whole flush would pick up a stretch of the
// buffer that is about to be emptied. It notes how much output was still queued when
// the writer stopped: everything else has left, that part must never leave.
class LingeringFlushDispatcher : public PosixDispatcher {
public:
    using PosixDispatcher::PosixDispatcher;
    std::atomic<uint32_t> queuedAtHold{0};

protected:
    void HoldWriter() override
    {
        PosixDispatcher::HoldWriter();
        queuedAtHold = OutputUsed();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
};

TEST(DispatcherFlush, NothingQueuedBeforeAFlushLeavesAfterItAndNothingTwice)
{
    EventLoopBridge ui;
    PtyPair pty;
    LingeringFlushDispatcher d(nullptr, &ui);
    ASSERT_EQ(d.OpenPort(pty.slaveName, 19200, pNone, 8, 1, 4096, 4096, true, true), 0);
    // Numbered bytes (0..250) fill the line until the writer is held up by the driver
    // with a stretch of the buffer in hand.
    uint64_t queued = 0;
    auto putNumbered = [&](uint32_t n) {
        std::vector<uint8_t> b(n);
        for (uint32_t i = 0; i < n; ++i)
            b[i] = static_cast<uint8_t>((queued + i) % 251);
        if (d.PutBlock(b.data(), n) != 0)
            return false;
        queued += n;
        return true;
    };
    while (putNumbered(1024))
        waitUntil([&] { return d.OutputUsed() == 0; }, 200);
    waitUntil([&] {
        const uint32_t before = d.OutputUsed();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return before > 0 && d.OutputUsed() == before;
    });
    putNumbered(d.OutputFree());
    ASSERT_EQ(d.FlushOutput(), 0);
    EXPECT_EQ(d.OutputUsed(), 0u);
    const uint64_t sent = queued - d.queuedAtHold;
    const std::string after = "\xFB\xFC\xFD\xFE\xFF after the flush";
    ASSERT_EQ(d.PutString(after), 0);
    std::string got = pty.receive(sent + after.size(), 10000);
    got += pty.receive(1 << 16, 200); // anything more would be a fault
    ASSERT_EQ(got.size(), sent + after.size());
    for (uint64_t i = 0; i < sent; ++i)
        ASSERT_EQ(static_cast<uint8_t>(got[i]), i % 251) << "at " << i;
    EXPECT_EQ(got.substr(sent), after);
}

TEST_F(DispatcherTest, FullInputBufferLeavesTheRestInTheDriver)
{
    std::string sent(10000, '\0');
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<char>('a' + i % 26);
    std::thread writer([&] { pty.send(sent); });
    ASSERT_TRUE(waitUntil([&] { return d.InputUsed() == InputBufferSize; }));
    EXPECT_TRUE(d.ByteReady());
    EXPECT_EQ(d.InputFree(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(d.InputUsed(), InputBufferSize);
    // Reading frees room; the bytes the driver kept follow, nothing is lost.
    std::string got;
    std::vector<uint8_t> buf(1000);
    ASSERT_TRUE(waitUntil([&] {
        const int n = d.GetBlock(buf.data(), static_cast<uint32_t>(buf.size()));
        got.append(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(n));
        return got.size() >= sent.size();
    }, 10000));
    writer.join();
    EXPECT_EQ(got, sent);
}

TEST_F(DispatcherTest, LongStreamThroughAnAvailHandlerLosesNothing)
{
    // Many times the buffer size, so the buffer goes round often (and now and then
    // exactly once between two notifications).
    Recorder rec(d);
    d.SetAvailLength(1);
    d.AddProcedureHandler(&rec);
    std::string sent(1 << 20, '\0');
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<char>((i * 31) ^ (i >> 9));
    std::thread writer([&] { pty.send(sent.data(), sent.size(), 30000); });
    ASSERT_TRUE(waitUntil([&] { return rec.received().size() >= sent.size(); }, 30000))
        << rec.received().size();
    writer.join();
    EXPECT_TRUE(rec.received() == sent);
}

TEST_F(DispatcherTest, GetAndPeekOnAnEmptyBuffer)
{
    uint8_t c = 0;
    EXPECT_EQ(d.GetByte(c), ecBufferIsEmpty);
    EXPECT_EQ(d.PeekByte(c, 1), ecBufferIsEmpty);
    EXPECT_FALSE(d.ByteReady());
    pty.send("ab");
    ASSERT_TRUE(waitUntil([&] { return d.InputUsed() == 2; }));
    EXPECT_EQ(d.PeekByte(c, 2), 0);
    EXPECT_EQ(c, 'b');
    EXPECT_EQ(d.PeekByte(c, 3), ecBufferIsEmpty);
    EXPECT_EQ(d.GetByte(c), 0);
    EXPECT_EQ(c, 'a');
    EXPECT_EQ(d.InputUsed(), 1u);
    d.FlushInput();
    EXPECT_EQ(d.InputUsed(), 0u);
}

TEST_F(DispatcherTest, AvailThenDataThenRestForXyzConnect)
{
    Recorder rec(d);
    const int h = d.NewDataTrigger("CONNECT", false, 7);
    ASSERT_EQ(h, 8);
    d.SetAvailLength(1);
    d.AddProcedureHandler(&rec);
    pty.send("xyzCONNECT");
    ASSERT_TRUE(rec.waitCount(3));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto msgs = rec.snapshot();
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_EQ(msgs[0].msg, MsgTriggerAvail);
    EXPECT_EQ(msgs[0].w, 3u);
    EXPECT_EQ(msgs[1].msg, MsgTriggerData);
    EXPECT_EQ(msgs[1].w, 8u);
    EXPECT_EQ(msgs[1].l & 0xFFFF, 7u);
    EXPECT_EQ(msgs[1].l >> 16, d.Handle());
    EXPECT_EQ(msgs[2].msg, MsgTriggerAvail);
    EXPECT_EQ(msgs[2].w, 7u);
    EXPECT_EQ(rec.received(), "xyzCONNECT");
    EXPECT_EQ(d.InputUsed(), 0u);
}

TEST_F(DispatcherTest, MatchesAcrossReadsAndIgnoresCase)
{
    Recorder rec(d);
    const int h = d.NewDataTrigger("CONNECT", true, 7);
    d.AddProcedureHandler(&rec);
    pty.send("con");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty.send("nect");
    ASSERT_TRUE(rec.waitCount(1));
    auto msgs = rec.snapshot();
    EXPECT_EQ(msgs[0].msg, MsgTriggerData);
    EXPECT_EQ(msgs[0].w, static_cast<uint32_t>(h));
}

TEST_F(DispatcherTest, TwoDataTriggersOnOneByteFireInReverseOrder)
{
    Recorder rec(d);
    const int first = d.NewDataTrigger("OK", false, 2);
    const int second = d.NewDataTrigger("K", false, 1);
    d.AddProcedureHandler(&rec);
    pty.send("OK");
    ASSERT_TRUE(rec.waitCount(2));
    auto msgs = rec.snapshot();
    EXPECT_EQ(msgs[0].w, static_cast<uint32_t>(second));
    EXPECT_EQ(msgs[1].w, static_cast<uint32_t>(first));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(rec.snapshot().size(), 2u);
}

TEST_F(DispatcherTest, ATriggerDroppedByAnEarlierHandlerOfTheSamePassIsNotNotified)
{
    Recorder rec(d);
    const int first = d.NewDataTrigger("OK", false, 2);
    const int second = d.NewDataTrigger("K", false, 1);
    // The handler of the second trigger (told first) drops the first one.
    rec.onMsg = [&](uint16_t msg, uint32_t w, uint32_t) {
        if (msg == MsgTriggerData && w == static_cast<uint32_t>(second))
            d.DropTrigger(static_cast<uint16_t>(first));
    };
    d.AddProcedureHandler(&rec);
    pty.send("OK");
    ASSERT_TRUE(rec.waitCount(1));
    d.SetAvailLength(1);
    pty.send("!"); // a later pass, so anything still due has been delivered
    ASSERT_TRUE(waitUntil([&] { return rec.count(MsgTriggerAvail) > 0; }));
    EXPECT_EQ(rec.count(MsgTriggerData), 1u);
    for (const auto& m : rec.snapshot())
        EXPECT_FALSE(m.msg == MsgTriggerData && m.w == static_cast<uint32_t>(first));
}

TEST_F(DispatcherTest, TriggerHandlesAndErrors)
{
    EXPECT_EQ(d.NewDataTrigger("123456789012345678901", false, 21), 8);
    EXPECT_EQ(d.NewDataTrigger("1234567890123456789012", false, 22), ecTriggerTooLong);
    EXPECT_EQ(d.NewTimerTrigger(), 16);
    EXPECT_EQ(d.NewStatusTrigger(stOutSent), 24 | stOutSent);
    EXPECT_EQ(d.NewStatusTrigger(6), ecBadArgument);
    EXPECT_EQ(d.DropTrigger(1), 0);
    EXPECT_EQ(d.AvailLength(), 0u);
    EXPECT_EQ(d.DropTrigger(0), ecBadTriggerHandle);
    EXPECT_EQ(d.DropTrigger(999), ecBadTriggerHandle);
    EXPECT_EQ(d.ArmTimerTrigger(8, 5, true), ecBadTriggerHandle); // a data trigger
    EXPECT_EQ(d.ArmStatusTrigger(16, 0, true), ecBadTriggerHandle); // a timer trigger
    EXPECT_EQ(d.DropTrigger(16), 0);
    EXPECT_EQ(d.TimerTriggerLeft(16), ecBadTriggerHandle);
}

TEST_F(DispatcherTest, TimerTriggerFiresOnceAndZeroTicksExpiresAtOnce)
{
    Recorder rec(d);
    d.AddProcedureHandler(&rec);
    const int t = d.NewTimerTrigger();
    ASSERT_EQ(d.ArmTimerTrigger(static_cast<uint16_t>(t), 0, true), 0);
    ASSERT_TRUE(rec.waitCount(1, 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto msgs = rec.snapshot();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].msg, MsgTriggerTimer);
    EXPECT_EQ(msgs[0].w, static_cast<uint32_t>(t));
    ASSERT_EQ(d.ArmTimerTrigger(static_cast<uint16_t>(t), 2, true), 0);
    EXPECT_GT(d.TimerTriggerLeft(static_cast<uint16_t>(t)), 0);
    ASSERT_TRUE(rec.waitCount(2, 3000));
}

// The clock runs from 100 ms before the point where a 32-bit millisecond count wraps.
int64_t gClockOffset = 0;
int64_t clockNearTheWrap()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + gClockOffset;
}

TEST_F(DispatcherTest, TimersAndWaitsRunThroughTheMillisecondWrap)
{
    using namespace std::chrono;
    const int64_t real = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    gClockOffset = (int64_t(1) << 32) - 100 - real;
    zelvo::platform::setClockSource(clockNearTheWrap);
    struct Restore {
        ~Restore() { zelvo::platform::setClockSource(nullptr); }
    } restore;

    Recorder rec(d);
    d.AddProcedureHandler(&rec);
    const int t = d.NewTimerTrigger();
    const auto start = steady_clock::now();
    ASSERT_EQ(d.ArmTimerTrigger(static_cast<uint16_t>(t), 4, true), 0);
    // A break of 3 ticks lasts its 3 ticks while the clock's low 32 bits turn over.
    EXPECT_EQ(d.SendBreak(3, false), 0);
    const auto took = duration_cast<milliseconds>(steady_clock::now() - start).count();
    EXPECT_GE(took, 2 * 55);
    EXPECT_LT(took, 3000);
    EXPECT_TRUE(rec.waitCount(1, 5000)) << "a timer armed before the wrap fires after it";
}

TEST_F(DispatcherTest, StatusTriggerFiresOncePerActivation)
{
    Recorder rec(d);
    d.AddProcedureHandler(&rec);
    const int used = d.NewStatusTrigger(stOutBuffUsed);
    ASSERT_EQ(d.PutString("hello"), 0);
    ASSERT_EQ(d.ArmStatusTrigger(static_cast<uint16_t>(used), 0, true), 0);
    EXPECT_EQ(pty.receive(5), "hello");
    ASSERT_TRUE(rec.waitCount(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(rec.count(MsgTriggerStatus), 1u);
    EXPECT_EQ(rec.snapshot()[0].w, static_cast<uint32_t>(used));
    EXPECT_EQ(rec.snapshot()[0].w & 7, static_cast<uint32_t>(stOutBuffUsed));
    // Activated again, it fires again.
    ASSERT_EQ(d.ArmStatusTrigger(static_cast<uint16_t>(used), 0, true), 0);
    ASSERT_TRUE(rec.waitCount(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(rec.count(MsgTriggerStatus), 2u);
}

TEST_F(DispatcherTest, OutSentAndOutFreeTriggers)
{
    Recorder rec(d);
    d.AddProcedureHandler(&rec);
    const int sent = d.NewStatusTrigger(stOutSent);
    const int freeT = d.NewStatusTrigger(stOutBuffFree);
    ASSERT_EQ(d.ArmStatusTrigger(static_cast<uint16_t>(sent), 0, true), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(rec.count(MsgTriggerStatus), 0u);
    d.PutByte('z');
    ASSERT_TRUE(rec.waitCount(1));
    EXPECT_EQ(rec.snapshot()[0].w, static_cast<uint32_t>(sent));
    ASSERT_EQ(d.ArmStatusTrigger(static_cast<uint16_t>(freeT), 4000, true), 0);
    ASSERT_TRUE(rec.waitCount(2));
    EXPECT_EQ(rec.snapshot()[1].w, static_cast<uint32_t>(freeT));
    EXPECT_GE(rec.snapshot()[1].l & 0xFFFF, 4000u);
}

// A sender that refills the output buffer each time half of it is free must be woken as
// the output drains, not only at the dispatch thread's timed passes: whenever the room
// appears after the check that follows an arming, a sender served at those passes alone
// gets one refill (2 KiB) per 50 ms. The far end checks every byte, so a refill that
// overwrote queued output shows.
TEST_F(DispatcherTest, OutputFreeTriggerKeepsARefillingSenderFed)
{
    constexpr size_t kTotal = 2u << 20;
    uint32_t inSize = 0, outSize = 0;
    d.GetBufferSizes(inSize, outSize);
    ASSERT_GT(outSize, 1u);
    const auto freeT = static_cast<uint16_t>(d.NewStatusTrigger(stOutBuffFree));
    std::atomic<size_t> queued{0};
    std::atomic<int> fired{0};
    auto refill = [&] {
        std::vector<uint8_t> block(d.OutputFree());
        const size_t n = std::min(block.size(), kTotal - queued.load());
        for (size_t i = 0; i < n; ++i)
            block[i] = static_cast<uint8_t>((queued + i) % 251);
        if (n > 0 && d.PutBlock(block.data(), static_cast<uint32_t>(n)) == 0)
            queued += n;
        if (queued < kTotal)
            d.ArmStatusTrigger(freeT, static_cast<uint16_t>(outSize / 2), true);
    };
    Recorder rec(d);
    rec.onMsg = [&](uint16_t msg, uint32_t w, uint32_t l) {
        if (msg != MsgTriggerStatus || w != freeT)
            return;
        ++fired;
        // The notification carries the free room it saw, at least the armed level.
        EXPECT_GE(l & 0xFFFF, outSize / 2);
        refill();
    };
    d.AddProcedureHandler(&rec);
    refill();

    const auto start = std::chrono::steady_clock::now();
    const auto limit = start + std::chrono::seconds(30);
    size_t got = 0;
    size_t bad = 0;
    // Small reads keep the pty full, so room in the output buffer appears only as the
    // far end reads, after the check that follows each arming.
    std::vector<uint8_t> buf(512);
    while (got < kTotal && std::chrono::steady_clock::now() < limit) {
        pollfd pf{pty.master, POLLIN, 0};
        if (::poll(&pf, 1, 100) <= 0)
            continue;
        const ssize_t r = ::read(pty.master, buf.data(), buf.size());
        for (ssize_t i = 0; i < r; ++i)
            bad += buf[static_cast<size_t>(i)] != static_cast<uint8_t>((got + static_cast<size_t>(i)) % 251);
        if (r > 0)
            got += static_cast<size_t>(r);
    }
    // The last block may reach the far end before its handler has counted it.
    EXPECT_TRUE(waitUntil([&] { return queued.load() == kTotal; }));
    d.RemoveProcedureHandler(&rec);
    // A notification already under way may still be in the handler; it goes before the
    // handler does.
    EXPECT_TRUE(waitUntil([&] { return !d.InNotification(); }));
    EXPECT_EQ(got, kTotal);
    EXPECT_EQ(bad, 0u);
    EXPECT_GE(fired.load(), static_cast<int>(kTotal / outSize) - 1);
}

// The wake-up on drained output only hastens the check: a disarmed output-free trigger
// stays silent however much output drains beside an armed modem trigger, and once armed
// with room available it fires at once.
TEST_F(DispatcherTest, OutputDrainWithoutOutputTriggerFiresNothing)
{
    Recorder rec(d);
    d.AddProcedureHandler(&rec);
    const auto modem = static_cast<uint16_t>(d.NewStatusTrigger(stModem));
    ASSERT_EQ(d.ArmStatusTrigger(modem, msDCD, true), 0);
    const auto freeT = static_cast<uint16_t>(d.NewStatusTrigger(stOutBuffFree));
    ASSERT_EQ(d.ArmStatusTrigger(freeT, 100, false), 0);
    const std::string chunk(1000, 'q');
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(waitUntil([&] { return d.OutputFree() >= chunk.size(); }));
        ASSERT_EQ(d.PutString(chunk), 0);
        EXPECT_EQ(pty.receive(chunk.size()).size(), chunk.size());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(rec.count(MsgTriggerStatus), 0u);
    // Armed afterwards with room available, the free trigger fires at once.
    ASSERT_EQ(d.ArmStatusTrigger(freeT, 100, true), 0);
    ASSERT_TRUE(rec.waitCount(1));
    EXPECT_EQ(rec.snapshot()[0].w, freeT);
}

TEST_F(DispatcherTest, HandlersShareReadAheadAndInputIsConsumedAsFarAsTheFurthest)
{
    Recorder a(d), b(d);
    b.takeAnnounced = false;
    std::string bSaw;
    std::mutex bMutex;
    b.onMsg = [&](uint16_t msg, uint32_t w, uint32_t) {
        if (msg != MsgTriggerAvail)
            return;
        // The second handler sees the same bytes from the same start.
        for (uint32_t i = 0; i < w; ++i) {
            uint8_t c;
            std::lock_guard lock(bMutex);
            if (d.GetByte(c) == 0)
                bSaw += static_cast<char>(c);
        }
    };
    d.SetAvailLength(1);
    d.AddProcedureHandler(&a);
    d.AddProcedureHandler(&b);
    pty.send("hello");
    ASSERT_TRUE(waitUntil([&] { return a.received().size() == 5; }));
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard lock(bMutex);
        return bSaw.size() == 5;
    }));
    EXPECT_EQ(a.received(), "hello");
    EXPECT_EQ(bSaw, "hello");
    EXPECT_EQ(d.InputUsed(), 0u);
}

TEST_F(DispatcherTest, UnreadBytesAreAnnouncedAgainWithNewOnes)
{
    Recorder rec(d);
    rec.takeAnnounced = false;
    d.SetAvailLength(1);
    d.AddProcedureHandler(&rec);
    pty.send("abc");
    ASSERT_TRUE(rec.waitCount(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(rec.count(MsgTriggerAvail), 1u); // no repeat until new bytes arrive
    pty.send("de");
    ASSERT_TRUE(rec.waitCount(2));
    EXPECT_EQ(rec.snapshot()[1].w, 5u);
}

// Bytes one handler left unread are announced to a handler that joins later, without
// waiting for more bytes from the line (the terminal taking the line back after a
// transfer must show what arrived at its end).
TEST_F(DispatcherTest, WaitingBytesAreAnnouncedToAHandlerThatJoinsLater)
{
    Recorder first(d);
    first.takeAnnounced = false;
    d.SetAvailLength(1);
    d.AddProcedureHandler(&first);
    pty.send("tail");
    ASSERT_TRUE(first.waitCount(1));
    d.RemoveProcedureHandler(&first);
    Recorder second(d);
    d.AddProcedureHandler(&second);
    ASSERT_TRUE(second.waitCount(1));
    EXPECT_EQ(second.snapshot()[0].msg, MsgTriggerAvail);
    EXPECT_EQ(second.received(), "tail");
}

TEST_F(DispatcherTest, RemovingAHandlerInsideANotificationTakesEffectAfterIt)
{
    Recorder first(d), second(d);
    first.takeAnnounced = false;
    second.takeAnnounced = false;
    first.onMsg = [&](uint16_t, uint32_t, uint32_t) { d.RemoveProcedureHandler(&second); };
    d.SetAvailLength(1);
    d.AddProcedureHandler(&first);
    d.AddProcedureHandler(&second);
    pty.send("a");
    ASSERT_TRUE(first.waitCount(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // Marked deleted during the pass: the second handler is not called for it.
    EXPECT_EQ(second.snapshot().size(), 0u);
    pty.send("b");
    ASSERT_TRUE(first.waitCount(2));
    EXPECT_EQ(second.snapshot().size(), 0u);
}

TEST_F(DispatcherTest, CloseFromInsideAProcedureHandlerDoesNotDeadlock)
{
    Recorder rec(d);
    std::atomic<bool> released{false};
    d.SetReleaseCallback([&] { released = true; });
    rec.onMsg = [&](uint16_t, uint32_t, uint32_t) { d.ClosePort(); };
    d.SetAvailLength(1);
    d.AddProcedureHandler(&rec);
    pty.send("x");
    ASSERT_TRUE(waitUntil([&] { return released.load(); }));
    EXPECT_TRUE(waitUntil([&] { return !d.ThreadsRunning(); }));
    EXPECT_FALSE(d.IsOpen());
    EXPECT_EQ(d.DeviceFd(), -1);
}

TEST_F(DispatcherTest, ReopensAfterACloseFromInsideAHandler)
{
    Recorder rec(d);
    std::atomic<bool> released{false};
    d.SetReleaseCallback([&] { released = true; });
    rec.onMsg = [&](uint16_t, uint32_t, uint32_t) { d.ClosePort(); };
    d.SetAvailLength(1);
    d.AddProcedureHandler(&rec);
    pty.send("x");
    ASSERT_TRUE(waitUntil([&] { return released.load() && !d.ThreadsRunning(); }));
    rec.onMsg = nullptr;
    ASSERT_EQ(d.OpenPort(pty.slaveName, 19200, pNone, 8, 1, 4096, 4096, true, true), 0);
    d.SetAvailLength(1);
    pty.send("y");
    EXPECT_TRUE(waitUntil([&] { return rec.received().find('y') != std::string::npos; }));
    EXPECT_EQ(d.ClosePort(), 0);
}

TEST_F(DispatcherTest, WindowHandlersRunOnTheUiThread)
{
    struct Win : WindowHandler {
        std::vector<uint16_t> msgs;
        std::thread::id thread;
        BaseDispatcher* d = nullptr;
        std::string got;
        void windowMessage(uint16_t msg, uint32_t w, uint32_t) override
        {
            msgs.push_back(msg);
            thread = std::this_thread::get_id();
            std::vector<uint8_t> buf(w);
            got.append(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(d->GetBlock(buf.data(), w)));
        }
    } win;
    win.d = &d;
    d.AddWindowHandler(&win);
    d.RecomputeHandlerFlags(1); // as the port's own window does when it wants events
    d.SetAvailLength(1);
    pty.send("ping");
    ASSERT_TRUE(ui.waitAndPump([&] { return win.got.size() == 4; }, 5000));
    EXPECT_EQ(win.thread, std::this_thread::get_id());
    EXPECT_EQ(win.got, "ping");
    d.RemoveWindowHandler(&win);
}

TEST_F(DispatcherTest, PacedStreamReachesEveryWindowInFewNotificationsAndWhole)
{
    // Two windows, as the port's own window and the terminal: each reads every byte.
    struct Win : WindowHandler {
        BaseDispatcher* d = nullptr;
        int notifications = 0;
        std::string got;
        void windowMessage(uint16_t msg, uint32_t w, uint32_t) override
        {
            if (msg != MsgTriggerAvail)
                return;
            ++notifications;
            std::vector<uint8_t> buf(w);
            got.append(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(d->GetBlock(buf.data(), w)));
        }
    } first, second;
    first.d = second.d = &d;
    d.AddWindowHandler(&first);
    d.AddWindowHandler(&second);
    d.SetAvailLength(1);
    d.SetInputPacing(50);
    EXPECT_EQ(d.InputPacingNow(), 50u);

    // 400 small writes over about a second, as a serial driver delivers a fast line.
    std::string sent;
    for (int i = 0; sent.size() < 400 * 16; ++i)
        sent += "line " + std::to_string(i) + "\r\n";
    const auto start = std::chrono::steady_clock::now();
    std::thread writer([&] {
        for (size_t at = 0; at < sent.size(); at += 16) {
            pty.send(sent.substr(at, 16));
            std::this_thread::sleep_for(std::chrono::microseconds(2500));
        }
    });
    ASSERT_TRUE(ui.waitAndPump([&] { return second.got.size() == sent.size(); }, 20000));
    writer.join();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(first.got, sent);
    EXPECT_EQ(second.got, sent);
    EXPECT_EQ(first.notifications, second.notifications);
    // At most one notification per pacing interval, and one at the very start.
    EXPECT_LE(first.notifications, int(ms / 50) + 2) << ms << " ms";

    // A protocol engine listening takes every read at once.
    Recorder engine(d);
    d.AddProcedureHandler(&engine);
    EXPECT_EQ(d.InputPacingNow(), 0u);
    d.RemoveProcedureHandler(&engine);
    EXPECT_EQ(d.InputPacingNow(), 50u);
    d.RemoveWindowHandler(&first);
    d.RemoveWindowHandler(&second);
}

TEST_F(DispatcherTest, LineParameters)
{
    uint32_t baud;
    int parity, bits, stop;
    ASSERT_EQ(d.GetLineParams(baud, parity, bits, stop), 0);
    EXPECT_EQ(baud, 19200u);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(stop, 1);
    EXPECT_EQ(d.SetLineParams(KeepBaud, KeepParity, KeepDataBits, KeepStopBits), 0);
    EXPECT_EQ(d.SetLineParams(57600, pEven, 7, 2), 0);
    d.GetLineParams(baud, parity, bits, stop);
    EXPECT_EQ(baud, 57600u);
    EXPECT_EQ(parity, pEven);
    EXPECT_EQ(bits, 7);
    EXPECT_EQ(stop, 2);
    // Five data bits with two stop bits are one and a half, still reported as "not one".
    EXPECT_EQ(d.SetLineParams(KeepBaud, pNone, 5, 2), 0);
    d.GetLineParams(baud, parity, bits, stop);
    EXPECT_EQ(bits, 5);
    EXPECT_EQ(stop, 2);
    // Rates without a speed code of their own are set as arbitrary rates.
    for (uint32_t rate : {12345u, 250000u, 3000000u}) {
        EXPECT_EQ(d.SetLineParams(rate, KeepParity, KeepDataBits, KeepStopBits), 0) << rate;
        d.GetLineParams(baud, parity, bits, stop);
        EXPECT_EQ(baud, rate);
        EXPECT_EQ(d.BaudInUse(), rate);
    }
    EXPECT_EQ(d.SetLineParams(57600, KeepParity, KeepDataBits, KeepStopBits), 0);
    EXPECT_EQ(d.BaudInUse(), 57600u);
    EXPECT_EQ(d.SetLineParams(5000000, KeepParity, KeepDataBits, KeepStopBits), ecBaudRate);
    EXPECT_EQ(d.SetLineParams(49, KeepParity, KeepDataBits, KeepStopBits), ecBaudRate);
    d.GetLineParams(baud, parity, bits, stop);
    EXPECT_EQ(baud, 57600u); // a refused rate changes nothing
    EXPECT_EQ(d.BaudInUse(), 57600u);
    EXPECT_EQ(BaseDispatcher::BaudFromRateCode(0xFEFF), 115200u);
    EXPECT_EQ(BaseDispatcher::BaudFromRateCode(0xFF16), 9600u);
    EXPECT_EQ(BaseDispatcher::BaudFromRateCode(0xFF19), 0xFF19u);
}

TEST_F(DispatcherTest, FlowControlArgumentsAndDtrUnderFlowControl)
{
    EXPECT_EQ(d.SetHardwareFlow(4097, 10, hfUseDTR), ecBadArgument);
    EXPECT_EQ(d.SetHardwareFlow(100, 200, hfUseDTR), ecBadArgument);
    EXPECT_EQ(d.EnableSoftwareFlow(5000, 10, sfReceiveFlow), ecBadArgument);
    ASSERT_EQ(d.SetHardwareFlow(3686, 409, hfUseDTR | hfRequireCTS), 0);
    EXPECT_EQ(d.SetDTR(false), 1);
    EXPECT_EQ(d.SetRTS(false), 0);
    ASSERT_EQ(d.EnableSoftwareFlow(3686, 409, sfReceiveFlow | sfTransmitFlow), 0);
    uint32_t hw, sw;
    uint8_t xon, xoff;
    d.GetFlowSettings(hw, sw, xon, xoff);
    EXPECT_EQ(hw, hfUseDTR | hfRequireCTS);
    EXPECT_EQ(sw, sfReceiveFlow | sfTransmitFlow);
    EXPECT_EQ(xon, 17);
    EXPECT_EQ(xoff, 19);
    d.DisableSoftwareFlow();
    d.GetFlowSettings(hw, sw, xon, xoff);
    EXPECT_EQ(sw, 0u);
}

TEST_F(DispatcherTest, PseudoTerminalReportsModemLinesOn)
{
    EXPECT_TRUE(d.CheckCTS());
    EXPECT_TRUE(d.CheckDSR());
    EXPECT_TRUE(d.CheckDCD());
    EXPECT_FALSE(d.CheckRI());
    EXPECT_EQ(d.TakeLineError(), leNone);
    EXPECT_EQ(d.SendBreak(1, false), 0);
}

TEST_F(DispatcherTest, HangUpIsCarrierLostWithoutSpinning)
{
    Recorder rec(d);
    d.AddProcedureHandler(&rec);
    const int modem = d.NewStatusTrigger(stModem);
    ASSERT_EQ(d.ArmStatusTrigger(static_cast<uint16_t>(modem), msDCD, true), 0);
    d.SetAvailLength(1);
    pty.send("bye");
    ASSERT_TRUE(rec.waitCount(1));
    ::close(pty.slave);
    pty.slave = -1;
    pty.closeMaster();
    ASSERT_TRUE(waitUntil([&] { return d.LineHungUp(); }));
    ASSERT_TRUE(waitUntil([&] { return rec.count(MsgTriggerStatus) == 1; }));
    EXPECT_FALSE(d.CheckDCD());
    // The dispatcher keeps working without the line and does not spin.
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    getrusage(RUSAGE_SELF, &after);
    const double cpu = (after.ru_utime.tv_sec - before.ru_utime.tv_sec) +
                       (after.ru_utime.tv_usec - before.ru_utime.tv_usec) / 1e6 +
                       (after.ru_stime.tv_sec - before.ru_stime.tv_sec) +
                       (after.ru_stime.tv_usec - before.ru_stime.tv_usec) / 1e6;
    EXPECT_LT(cpu, 0.2); // a spinning thread would use the whole 0.3 s
    EXPECT_EQ(d.PutString("lost"), 0);
    EXPECT_EQ(d.ClosePort(), 0);
}

TEST(DispatcherOpen, Failures)
{
    PosixDispatcher d(nullptr, nullptr);
    EXPECT_EQ(d.OpenPort("/dev/zelvo-no-such-port", 9600, pNone, 8, 1, 4096, 4096, true, true), ecFileNotFound);
    EXPECT_EQ(d.OpenPort("/dev/null", 9600, pNone, 8, 1, 4096, 4096, true, true), ecPathNotFound);
    PtyPair pty;
    EXPECT_EQ(d.OpenPort(pty.slaveName, 5000000, pNone, 8, 1, 4096, 4096, true, true), ecBaudRate);
    EXPECT_FALSE(d.IsOpen());
    ASSERT_EQ(d.OpenPort(pty.slaveName, 9600, pNone, 8, 1, 4096, 4096, true, true), 0);
    PosixDispatcher other(nullptr, nullptr);
    EXPECT_EQ(other.OpenPort(pty.slaveName, 9600, pNone, 8, 1, 4096, 4096, true, true), ecAccessDenied);
    EXPECT_EQ(d.ClosePort(), 0);
    EXPECT_EQ(other.OpenPort(pty.slaveName, 9600, pNone, 8, 1, 4096, 4096, true, true), 0);
}

size_t countEntries(const char* dir)
{
    size_t n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

TEST(DispatcherOpen, NothingOutlivesClosePort)
{
    PtyPair pty;
    {
        // The first threads of a process may start a helper thread of a sanitizer's
        // runtime, which stays; count from after one open and close.
        PosixDispatcher first(nullptr, nullptr);
        ASSERT_EQ(first.OpenPort(pty.slaveName, 9600, pNone, 8, 1, 4096, 4096, true, true), 0);
        EXPECT_EQ(first.ClosePort(), 0);
    }
    const size_t fds = countEntries("/proc/self/fd");
    const size_t threads = countEntries("/proc/self/task");
    for (int i = 0; i < 5; ++i) {
        PosixDispatcher d(nullptr, nullptr);
        ASSERT_EQ(d.OpenPort(i % 2 ? pty.slaveName : "exec:cat", 9600, pNone, 8, 1, 4096, 4096, true, true), 0);
        d.PutString("data");
        d.StartTracing(100);
        EXPECT_EQ(d.ClosePort(), 0);
        EXPECT_FALSE(d.ThreadsRunning());
        EXPECT_EQ(d.OutputFree(), 0u); // the buffers are gone
        EXPECT_EQ(d.InputUsed(), 0u);
    }
    EXPECT_EQ(countEntries("/proc/self/fd"), fds);
    EXPECT_EQ(countEntries("/proc/self/task"), threads);
}

TEST(DispatcherOpen, HandlesAreIndicesInTheProcessList)
{
    PosixDispatcher a(nullptr, nullptr);
    auto b = std::make_unique<PosixDispatcher>(nullptr, nullptr);
    const uint16_t hb = b->Handle();
    EXPECT_NE(a.Handle(), hb);
    EXPECT_EQ(BaseDispatcher::FromHandle(a.Handle()), &a);
    b.reset();
    EXPECT_EQ(BaseDispatcher::FromHandle(hb), nullptr);
    PosixDispatcher c(nullptr, nullptr);
    EXPECT_EQ(c.Handle(), hb); // the free slot is reused
}

TEST(DispatcherOpen, ExecLineWorksBothWaysAndEndsTheChild)
{
    PosixDispatcher d(nullptr, nullptr);
    ASSERT_EQ(d.OpenPort("exec:stty -echo; read line; echo \"got:$line\"; sleep 30", 9600, pNone, 8, 1,
                         4096, 4096, true, true),
              0);
    const int pid = d.ChildPid();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(d.PutString("hello\r"), 0);
    std::string got;
    ASSERT_TRUE(waitUntil([&] {
        uint8_t buf[256];
        const int n = d.GetBlock(buf, sizeof buf);
        got.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
        return got.find("got:hello") != std::string::npos;
    }));
    EXPECT_EQ(d.ClosePort(), 0);
    EXPECT_NE(::kill(pid, 0), 0); // ended and reaped
    EXPECT_EQ(d.DeviceFd(), -1);
}

TEST(DispatcherOpen, ExecCommandThatExitsIsAHangUp)
{
    PosixDispatcher d(nullptr, nullptr);
    ASSERT_EQ(d.OpenPort("exec:printf done", 9600, pNone, 8, 1, 4096, 4096, true, true), 0);
    ASSERT_TRUE(waitUntil([&] { return d.LineHungUp(); }));
    std::string got(16, '\0');
    got.resize(static_cast<size_t>(d.GetBlock(got.data(), 16)));
    EXPECT_EQ(got, "done");
    EXPECT_FALSE(d.CheckDCD());
    EXPECT_EQ(d.ClosePort(), 0);
}

} // namespace
