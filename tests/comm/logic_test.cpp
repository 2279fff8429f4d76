// The pieces without a device: data-trigger matcher, trace and dispatch log formats,
// tick timers, the error table and the UI bridge.

#include "comm/baud_rates.h"
#include "comm/comm_types.h"
#include "comm/data_trigger.h"
#include "comm/event_log.h"
#include "comm/event_loop_bridge.h"
#include "comm/exceptions.h"
#include "comm/tick_timer.h"
#include "comm/trace_ring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

using namespace zelvo::comm;

namespace {

DataTrigger makeTrigger(const char* s, bool ignoreCase = false)
{
    DataTrigger t;
    EXPECT_TRUE(t.assign(reinterpret_cast<const uint8_t*>(s), static_cast<int>(std::strlen(s)), ignoreCase));
    return t;
}

// Offers every byte; returns the 1-based positions where the trigger completed.
std::vector<size_t> feed(DataTrigger& t, const std::string& input)
{
    std::vector<size_t> hits;
    for (size_t i = 0; i < input.size(); ++i)
        if (t.match(static_cast<uint8_t>(input[i])))
            hits.push_back(i + 1);
    return hits;
}

TEST(DataTriggerMatcher, OverlappingStarts)
{
    auto ab = makeTrigger("ab");
    EXPECT_EQ(feed(ab, "aab"), (std::vector<size_t>{3}));
    auto aab = makeTrigger("aab");
    EXPECT_EQ(feed(aab, "aaab"), (std::vector<size_t>{4}));
    auto abab = makeTrigger("abac");
    EXPECT_EQ(feed(abab, "ababac"), (std::vector<size_t>{6}));
    auto c = makeTrigger("CONNECT");
    EXPECT_EQ(feed(c, "xyzCONNECTCONNECT"), (std::vector<size_t>{10, 17}));
    auto one = makeTrigger("K");
    EXPECT_EQ(feed(one, "KKxK"), (std::vector<size_t>{1, 2, 4}));
}

TEST(DataTriggerMatcher, CaseAndLength)
{
    auto c = makeTrigger("CONNECT", true);
    EXPECT_EQ(feed(c, "connect"), (std::vector<size_t>{7}));
    auto exact = makeTrigger("OK");
    EXPECT_TRUE(feed(exact, "ok").empty());
    DataTrigger t;
    const uint8_t bytes[22] = {};
    EXPECT_TRUE(t.assign(bytes, 21, false));
    EXPECT_FALSE(t.assign(bytes, 22, false));
    DataTrigger empty;
    EXPECT_FALSE(empty.match('a'));
}

TEST(DataTriggerMatcher, ArbitraryBytesNeverMatchWrongly)
{
    // Compared with a plain search for the string in the input seen so far (which is
    // what a completed match must mean), over a pseudo-random stream of a few letters.
    auto t = makeTrigger("abcab");
    uint32_t seed = 12345;
    std::string seen;
    for (int i = 0; i < 200000; ++i) {
        seed = seed * 1103515245 + 12345;
        const char ch = static_cast<char>('a' + (seed >> 16) % 3);
        seen += ch;
        const bool hit = t.match(static_cast<uint8_t>(ch));
        if (hit) {
            ASSERT_GE(seen.size(), 5u);
            ASSERT_EQ(seen.substr(seen.size() - 5), "abcab");
        }
    }
}

TEST(Trace, DumpExampleInHex)
{
    TraceRing t;
    ASSERT_EQ(t.Start(1000), 0);
    for (int i = 0; i < 100; ++i)
        t.Add('R', 'A');
    t.Add('T', 0x0D);
    const std::string expected = "Receive: " + std::string(78, 'A') + "\n" + std::string(22, 'A') +
                                 "\nTransmit: [0D]\n";
    EXPECT_EQ(t.Render(true), expected);
}

TEST(Trace, DecimalItemsAndSpaces)
{
    std::string s;
    EXPECT_EQ(AppendTraceItem(s, 0x0D, false), 4);
    EXPECT_EQ(s, "[13]");
    s.clear();
    EXPECT_EQ(AppendTraceItem(s, 7, false), 3);
    EXPECT_EQ(AppendTraceItem(s, 200, false), 5);
    EXPECT_EQ(s, "[7][200]");
    s.clear();
    AppendTraceItem(s, ' ', false);
    AppendTraceItem(s, ' ', true);
    EXPECT_EQ(s, " [20]");
    // Wrapping counts the decimal widths: 19 items of 4 columns fill 76, the 20th wraps.
    TraceRing t;
    t.Start(100);
    for (int i = 0; i < 20; ++i)
        t.Add('R', 13);
    EXPECT_EQ(t.Render(false), "Receive: " + std::string() + [] {
        std::string r;
        for (int i = 0; i < 19; ++i)
            r += "[13]";
        return r + "\n[13]\n";
    }());
}

TEST(Trace, LimitsWrapAndSpecialKinds)
{
    TraceRing t;
    EXPECT_EQ(t.Start(TraceRing::MaxTraceSize + 1), ecBadArgument);
    ASSERT_EQ(t.Start(3), 0);
    t.Add('R', '1');
    t.Add('R', '2');
    t.Add('T', '3');
    t.Add('X', '4'); // overwrites the oldest
    EXPECT_EQ(t.Render(true), "Receive: 2\nTransmit: 3\nSpecial-X: 4\n");
    t.Pause();
    t.Add('R', '5');
    EXPECT_EQ(t.Render(true), "Receive: 2\nTransmit: 3\nSpecial-X: 4\n");
    t.Clear();
    EXPECT_EQ(t.Render(true), "");
    // Dumping an empty trace writes nothing and succeeds; a bad path fails with errno.
    EXPECT_EQ(t.WriteTraceFile("/nonexistent/dir/x.trc", true), 0);
    t.Start(3);
    t.Add('R', 'a');
    EXPECT_EQ(t.WriteTraceFile("/nonexistent/dir/x.trc", true), -ENOENT);
    EXPECT_FALSE(t.allocated());
}

TEST(DispatchLog, DropsOldestRecordsWhenFull)
{
    EventLog log;
    ASSERT_EQ(log.Start(100), 0);
    for (uint32_t i = 0; i < 5; ++i)
        log.Add(lkTrigger, lsAvail, i * 10, i);
    // 100 bytes hold six 16-byte headers; five fit, a sixth and seventh drop the oldest.
    EXPECT_EQ(log.RecordCount(), 5u);
    log.Add(lkDispatch, lsReadPort, 60, 30, std::string(30, 'x').data(), 30);
    EXPECT_EQ(log.RecordCount(), 4u);
    const std::string text = log.Render(true);
    EXPECT_EQ(text.find("Trigger   Avail         00000000"), std::string::npos);
    EXPECT_EQ(text.find("Trigger   Avail         00000001"), std::string::npos);
    EXPECT_NE(text.find("0000.020  Trigger   Avail         00000002  \n"), std::string::npos);
    EXPECT_NE(text.find("0000.060  Dispatch  ReadPort      0000001e  " + std::string(30, 'x') + "\n"),
              std::string::npos);
    EXPECT_EQ(log.Start(EventLog::MaxLogSize + 1), ecBadArgument);
}

TEST(DispatchLog, LongDataWrapsAndModemBitsAreNamed)
{
    EventLog log;
    ASSERT_EQ(log.Start(4096), 0);
    log.Add(lkDispatch, lsWritePort, 1234, 40, std::string(40, 'y').data(), 40);
    log.Add(lkDispatch, lsModemStatus, 5, 0xB1);
    const std::string text = log.Render(true);
    EXPECT_NE(text.find("0001.234  Dispatch  WritePort     00000028  " + std::string(34, 'y') + "\n" +
                        std::string(44, ' ') + std::string(6, 'y') + "\n"),
              std::string::npos);
    EXPECT_NE(text.find("Modem status  000000b1  (DCTS CTS DSR DCD)"), std::string::npos);
}

TEST(TickTimers, ExpiryElapsedAndWrap)
{
    EventTimer t;
    NewTimerAt(t, 0, 1000);
    EXPECT_FALSE(TimerExpiredAt(t, 1000));
    EXPECT_TRUE(TimerExpiredAt(t, 1001)); // a 0-tick timer expires at the next check
    NewTimerAt(t, 10, 1000);
    EXPECT_EQ(RemainingTimeAt(t, 1004), 6);
    EXPECT_EQ(ElapsedTimeAt(t, 1004), 4);
    EXPECT_FALSE(TimerExpiredAt(t, 1010));
    EXPECT_TRUE(TimerExpiredAt(t, 1011));
    // Started just before the point where a 32-bit millisecond count wraps (49.7 days
    // of uptime): the timer runs on through it.
    const int64_t wrap = (int64_t(1) << 32) / 55;
    NewTimerAt(t, 10, wrap - 5);
    EXPECT_FALSE(TimerExpiredAt(t, wrap + 2));
    EXPECT_EQ(ElapsedTimeAt(t, wrap + 2), 7);
    EXPECT_EQ(RemainingTimeAt(t, wrap + 2), 3);
    EXPECT_TRUE(TimerExpiredAt(t, wrap + 6));
    EXPECT_EQ(RemainingTimeAt(t, wrap + 6), 0);
    NewTimerAt(t, -3, wrap);                     // a negative interval is none
    EXPECT_TRUE(TimerExpiredAt(t, wrap + 1));
    NewTimerAt(t, TicksPerDay, wrap);
    EXPECT_EQ(RemainingTimeAt(t, wrap), TicksPerDay);
    EXPECT_EQ(SecondsToTicks(1), 18);
    EXPECT_EQ(SecondsToTicks(10), 182);
    EXPECT_EQ(SecondsToTicks(60), 1092);
    EXPECT_EQ(TicksToSeconds(182), 10);
}

TEST(BaudRates, StandardTableAndTolerance)
{
    const auto rates = StandardBaudRates();
    ASSERT_FALSE(rates.empty());
    EXPECT_EQ(rates.front(), MinBaud);
    EXPECT_EQ(rates.back(), MaxBaud);
    EXPECT_TRUE(std::is_sorted(rates.begin(), rates.end()));
    for (uint32_t r : rates)
        EXPECT_EQ(BaudOfSpeedCode(SpeedCodeOf(r)), r);
    EXPECT_TRUE(IsStandardBaud(921600));
    EXPECT_FALSE(IsStandardBaud(14400));
    EXPECT_EQ(SpeedCodeOf(250000), 0u);
    // A driver that sets the nearest rate its clock divides to: 2 % off is still usable,
    // more is refused (and a driver that fell back to 9600 is far off).
    EXPECT_TRUE(BaudRateClose(250000, 250000));
    EXPECT_TRUE(BaudRateClose(250000, 245000));
    EXPECT_FALSE(BaudRateClose(250000, 244000));
    EXPECT_FALSE(BaudRateClose(3500000, 9600));
    EXPECT_TRUE(BaudRateClose(MaxBaud, MaxBaud + MaxBaud / 50));
}

TEST(ErrorTable, CodesRaiseTheirClassesAndTexts)
{
    auto text = [](int code) {
        try {
            RaiseForCode(code);
        } catch (const EQarnException& e) {
            return std::string(e.what());
        }
        return std::string("no exception");
    };
    EXPECT_EQ(text(0), "no exception");
    EXPECT_THROW(RaiseForCode(ecBadId), EOpenComm);
    EXPECT_THROW(RaiseForCode(ecBufferIsEmpty), ESerialIO);
    EXPECT_THROW(RaiseForCode(ecBadTriggerHandle), ETrigger);
    EXPECT_THROW(RaiseForCode(ecBadArgument), EGeneral);
    EXPECT_THROW(RaiseForCode(ecOutOfMemory), EOutOfMemory);
    EXPECT_THROW(RaiseForCode(-ENOMEM), EOutOfMemory);
    EXPECT_THROW(RaiseForCode(-2), EInOutError);
    EXPECT_EQ(text(-ENOENT), "File not found");
    // Platform errors are errno values: each reads as itself, in the program's words
    // where it has them (an input/output error is not an access problem).
    EXPECT_EQ(text(-EACCES), "File access denied");
    EXPECT_EQ(text(-EIO), "Input/output error");
    EXPECT_EQ(text(-ENXIO), "No such device or address");
    EXPECT_EQ(text(-EBUSY), "Device or resource busy");
    EXPECT_EQ(text(ecBaudRate), "ie_BaudRate - Unsupported baud rate");
    EXPECT_EQ(text(ecPutBlockFail), "Failed to put entire block");
    EXPECT_EQ(text(ecOutputBufferTooSmall), "Output buffer too small for block");
    EXPECT_EQ(text(ecBaseAddressNotSet), "Base address not set");
    EXPECT_EQ(text(ecNotOpen), "ie_NOpen - device not open");
    EXPECT_EQ(text(ecNotOpenedByTapi), "Comport was not opened by Tapi");
    EXPECT_EQ(text(ecNullApi), "No device layer specified");
    EXPECT_EQ(text(-EINVAL), "Invalid argument"); // the platform's text
    EXPECT_EQ(text(-99999), "Qarn exception");
    try {
        RaiseForCode(-13);
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorNumber(), 13);
        EXPECT_EQ(e.ErrorCode(), -13);
    }
    // A family code without a class of its own.
    try {
        RaiseForCode(-3008);
        FAIL();
    } catch (const ESerialIO&) {
        FAIL() << "no class of its own";
    } catch (const EQarnException& e) {
        EXPECT_STREQ(e.what(), "Timed out waiting for data");
    }
}

TEST(EventLoopBridgeTest, SendRunsOnTheUiThreadAndTimesOut)
{
    EventLoopBridge ui;
    EXPECT_TRUE(ui.isUiThread());
    std::atomic<bool> sent{false};
    std::thread::id ranOn;
    std::thread worker([&] {
        EXPECT_FALSE(ui.isUiThread());
        sent = ui.send([&] { ranOn = std::this_thread::get_id(); }, 3000);
        ui.wake();
    });
    EXPECT_TRUE(ui.waitAndPump([&] { return sent.load(); }, 5000));
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    // Nobody pumps: the call is cancelled at its limit and never runs later.
    bool ran = false;
    bool result = true;
    std::thread late([&] { result = ui.send([&] { ran = true; }, 50); });
    late.join();
    EXPECT_FALSE(result);
    ui.pumpPending();
    EXPECT_FALSE(ran);
}

TEST(EventLoopBridgeTest, WaitAndPumpWakesAndTimesOut)
{
    EventLoopBridge ui;
    std::atomic<bool> flag{false};
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        flag = true;
        ui.wake();
    });
    EXPECT_TRUE(ui.waitAndPump([&] { return flag.load(); }, 10000));
    t.join();
    EXPECT_FALSE(ui.waitAndPump([] { return false; }, 20));
    int order = 0;
    ui.post([&] { order = order * 10 + 1; });
    ui.post([&] { order = order * 10 + 2; });
    ui.pumpPending();
    EXPECT_EQ(order, 12);
}

TEST(EventLoopBridgeTest, RunUntilQuit)
{
    EventLoopBridge ui;
    std::thread loop([&] {
        ui.bindToCurrentThread();
        ui.run();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    int value = 0;
    EXPECT_TRUE(ui.send([&] { value = 7; }, 3000));
    EXPECT_EQ(value, 7);
    ui.quit();
    loop.join();
    // A quit that comes before the loop runs is not lost (a thread slow to start).
    ui.bindToCurrentThread();
    ui.quit();
    ui.run();
}

} // namespace
