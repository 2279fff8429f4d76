// The modem driver's parts without processes: result codes, the dialling and hang-up
// conversation on a fake line with a fake clock, the status texts, the modem list in
// the settings store, and the simulator's command interpreter.

#include "comm/port_table.h"
#include "comm/telephony/call_status.h"
#include "comm/telephony/hayes_dialer.h"
#include "comm/telephony/modem_config.h"
#include "comm/telephony/tools/modem_simulator.h"
#include "platform/registry_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zelvo::telephony;
using zelvo::platform::RegistryStore;
using Outcome = HayesDialer::Outcome;

namespace {

struct FakeLine : ModemIo {
    std::string written;
    std::vector<std::string> statuses;
    std::vector<bool> dtr;
    bool modemLines = false;
    bool dcd = false;

    void write(std::string_view b) override { written += b; }
    bool hasModemLines() const override { return modemLines; }
    void setDTR(bool on) override { dtr.push_back(on); }
    bool carrier() const override { return dcd; }
    void status(uint32_t m, uint32_t s, uint32_t r) override
    {
        statuses.push_back(DescribeStatus(m, s, r));
    }
    // What was written since the last call.
    std::string take()
    {
        std::string s;
        s.swap(written);
        return s;
    }
};

void feed(HayesDialer& d, std::string_view bytes, int64_t now)
{
    for (char c : bytes)
        d.receive(uint8_t(c), now);
}

CallPlan plan(int attempts = 3, int wait = 60)
{
    CallPlan p;
    p.number = "5551234";
    p.attempts = attempts;
    p.retryWaitSeconds = wait;
    p.answerSeconds = 30;
    p.guardMs = 1000;
    return p;
}

} // namespace

TEST(ResultCodes, VerboseNumericAndOtherText)
{
    const struct {
        const char* line;
        ResultCode code;
        uint32_t rate;
    } cases[] = {
        {"OK", ResultCode::Ok, 0},
        {"CONNECT", ResultCode::Connect, 0},
        {"CONNECT 33600", ResultCode::Connect, 33600},
        {" connect 2400/ARQ/V42 ", ResultCode::Connect, 2400},
        {"CONNECTED TO HOST", ResultCode::None, 0},
        {"CONNECT 99999999999999", ResultCode::None, 0},
        {"CONNECT 9600x", ResultCode::None, 0},
        {"BUSY", ResultCode::Busy, 0},
        {"NO CARRIER", ResultCode::NoCarrier, 0},
        {"NO ANSWER", ResultCode::NoAnswer, 0},
        {"NO DIAL TONE", ResultCode::NoDialtone, 0},
        {"RINGING", ResultCode::Ring, 0},
        {"ERROR", ResultCode::Error, 0},
        {"7", ResultCode::Busy, 0},
        {"5", ResultCode::Connect, 1200},
        {"ATDT5551234", ResultCode::None, 0},
        {"", ResultCode::None, 0},
    };
    for (const auto& c : cases) {
        ModemResult r = ParseResultLine(c.line);
        EXPECT_EQ(r.code, c.code) << c.line;
        EXPECT_EQ(r.rate, c.rate) << c.line;
    }
}

TEST(HayesDialer, ConnectsAfterInitAndStopsReadingAtTheConnectLine)
{
    FakeLine line;
    HayesDialer d(line);
    d.placeCall(plan(), 0);
    EXPECT_EQ(line.take(), "ATZ\r");
    // The modem echoes our commands; echo is not a result.
    feed(d, "ATZ\r\r\nOK\r\n", 10);
    EXPECT_EQ(line.take(), "ATDT5551234\r");
    feed(d, "ATDT5551234\r\r\nRINGING\r\n\r\nCONNECT 33600/ARQ\r", 20);
    EXPECT_EQ(d.outcome(), Outcome::Connected);
    EXPECT_EQ(d.connectRate(), 33600u);
    // What follows CONNECT is the far end's and is left alone.
    feed(d, "\nBUSY\r\n", 30);
    EXPECT_EQ(d.outcome(), Outcome::Connected);
    EXPECT_EQ(line.statuses, (std::vector<std::string>{"Proceeding...", "Dialing...",
                                                       "Ringback detected", "Connected!"}));

    // A line of noise longer than any result is dropped whole; the next line counts.
    HayesDialer e(line);
    CallPlan p = plan();
    p.init.clear();
    e.placeCall(p, 0);
    EXPECT_EQ(line.take(), "ATDT5551234\r");
    feed(e, std::string(100000, 'X') + "CONNECT\r\n", 5);
    EXPECT_EQ(e.outcome(), Outcome::Running);
    feed(e, "CONNECT\r", 6);
    EXPECT_EQ(e.outcome(), Outcome::Connected);
    EXPECT_EQ(e.connectRate(), 0u);
}

TEST(HayesDialer, RetriesAfterTheWaitAndGivesUpAfterTheLastAttempt)
{
    FakeLine line;
    HayesDialer d(line);
    d.placeCall(plan(2, 3), 0);
    feed(d, "\r\nOK\r\n", 0);
    line.take();
    line.statuses.clear();
    feed(d, "\r\nBUSY\r\n", 100);
    EXPECT_EQ(d.outcome(), Outcome::Running);
    // Nothing goes to the modem while waiting; the seconds left are shown each second.
    for (int64_t t = 100; t < 3100; t += 50) {
        d.tick(t);
        EXPECT_EQ(line.written, "") << t;
    }
    EXPECT_EQ(line.statuses,
              (std::vector<std::string>{"Called number is busy", "Waiting for retry in 3 seconds",
                                        "Waiting for retry in 2 seconds",
                                        "Waiting for retry in 1 seconds"}));
    d.tick(3100);
    EXPECT_EQ(line.take(), "ATZ\r");
    EXPECT_EQ(d.attempt(), 2);
    feed(d, "\r\nOK\r\n\r\nNO ANSWER\r\n", 3200);
    EXPECT_EQ(d.outcome(), Outcome::Failed);
    EXPECT_EQ(line.statuses.back(), "Call disconnected (No Answer by Remote)");

    // ERROR to the dial command: the number is refused, no attempt follows.
    HayesDialer e(line);
    e.placeCall(plan(3, 1), 0);
    feed(e, "OK\r", 0);
    feed(e, "ERROR\r", 0);
    EXPECT_EQ(e.outcome(), Outcome::Failed);
    EXPECT_EQ(e.attempt(), 1);
}

TEST(HayesDialer, ATimedOutDialIsAbortedBeforeTheNextAttempt)
{
    FakeLine line;
    HayesDialer d(line);
    CallPlan p = plan(2, 1);
    p.init.clear();
    d.placeCall(p, 0);
    line.take();
    d.tick(29999);
    EXPECT_EQ(line.written, "");
    d.tick(30000);
    EXPECT_EQ(line.take(), "\r");
    feed(d, "\r\nNO CARRIER\r\n", 30100);
    d.tick(31100);
    EXPECT_EQ(line.take(), "ATDT5551234\r");
    // An init string nobody answers counts as a failed attempt too.
    HayesDialer e(line);
    e.placeCall(plan(1, 1), 0);
    e.tick(HayesDialer::kCommandWaitMs);
    EXPECT_EQ(e.outcome(), Outcome::Failed);
    EXPECT_EQ(line.statuses.back(), "Dial failed/no connection");
}

TEST(HayesDialer, CancelAbortsTheDialAndHangsUpACallThatConnectsMeanwhile)
{
    FakeLine line;
    HayesDialer d(line);
    d.placeCall(plan(), 0);
    feed(d, "OK\r", 0);
    line.take();
    d.cancel(500);
    EXPECT_EQ(line.take(), "\r");
    feed(d, "CONNECT 9600\r", 600);
    EXPECT_EQ(d.outcome(), Outcome::Running);
    // The call is hung up by escape (no modem lines): a guard time of silence first.
    d.tick(1599);
    EXPECT_EQ(line.written, "");
    d.tick(1600);
    EXPECT_EQ(line.take(), "+++");
    feed(d, "\r\nOK\r\n", 2700);
    EXPECT_EQ(line.take(), "ATH\r");
    feed(d, "\r\nOK\r\n", 2750);
    EXPECT_EQ(d.outcome(), Outcome::Cancelled);

    // During the retry wait a cancel ends the call at once.
    HayesDialer e(line);
    e.placeCall(plan(3, 60), 0);
    feed(e, "OK\rBUSY\r", 0);
    e.cancel(100);
    EXPECT_EQ(e.outcome(), Outcome::Cancelled);
    EXPECT_EQ(line.statuses.back(), "Call disconnected (Cancelled)");
}

TEST(HayesDialer, HangsUpByDropingDtrOrByEscape)
{
    FakeLine line;
    line.modemLines = true;
    HayesDialer d(line);
    d.hangUp(HangupMethod::Auto, 1000, 0);
    EXPECT_EQ(line.dtr, std::vector<bool>{false});
    d.tick(HayesDialer::kDtrDropMs);
    EXPECT_EQ(line.dtr, (std::vector<bool>{false, true}));
    d.tick(HayesDialer::kDtrDropMs + HayesDialer::kDtrSettleMs);
    EXPECT_EQ(line.take(), "ATH\r");
    feed(d, "OK\r", 1300);
    EXPECT_EQ(d.outcome(), Outcome::HungUp);

    // A modem that ignores DTR keeps its carrier: the escape sequence follows.
    line.dcd = true;
    line.dtr.clear();
    HayesDialer e(line);
    e.hangUp(HangupMethod::Dtr, 500, 0);
    e.tick(1000);
    e.tick(1250);
    EXPECT_EQ(line.written, "");
    e.tick(1750);
    EXPECT_EQ(line.take(), "+++");
    // No OK to the escape (already in command mode): ATH is sent all the same, and
    // a modem that never answers it is taken as hung up.
    e.tick(1750 + 500 + 1500);
    EXPECT_EQ(line.take(), "ATH\r");
    e.tick(1750 + 500 + 1500 + HayesDialer::kCommandWaitMs);
    EXPECT_EQ(e.outcome(), Outcome::HungUp);
}

TEST(CallStatus, TextsOfTheTables)
{
    EXPECT_EQ(DescribeStatus(kMsgCallState, kCallDisconnected, kReasonNoAnswer),
              "Call disconnected (No Answer by Remote)");
    EXPECT_EQ(DescribeStatus(kMsgCallState, kCallDisconnected | kCallConnected, 0),
              "Connected!");
    EXPECT_EQ(DescribeStatus(kMsgCallState, kCallDisconnected, 0),
              "Call disconnected (Reason Unknown)");
    EXPECT_EQ(DescribeStatus(kMsgCallState, 0, 0), "Unknown state");
    EXPECT_EQ(DescribeStatus(kMsgLineState, 0x400, 0), "Closed");
    EXPECT_EQ(DescribeStatus(kMsgReply, 1, 0), "TAPI line reply");
    EXPECT_EQ(DescribeStatus(kMsgDevice, kDeviceRetryWait, 25), "Waiting for retry in 25 seconds");
    EXPECT_EQ(DescribeStatus(99, kDeviceBusy, 0), "Called number is busy");
    EXPECT_EQ(DescribeStatus(kMsgDevice, 0x100, 0), "TAPI state change");
}

TEST(ModemStore, ModemsAreWrittenReadAndRemoved)
{
    RegistryStore store("/nonexistent/zelvo-modems.reg");
    ModemConfig a;
    a.name = "Office";
    a.device = "COM5";
    a.init = "AT&F";
    a.hangup = HangupMethod::Escape;
    a.baud = 115200;
    a.rtsCts = true;
    a.answerSeconds = 45;
    a.guardMs = 300;
    ModemConfig b;
    b.name = "Sim";
    b.device = "exec:zelvo32-modemsim";
    std::string error;
    ASSERT_TRUE(WriteModem(store, a, error)) << error;
    ASSERT_TRUE(WriteModem(store, b, error)) << error;
    // Parsed back from the text the store saves.
    RegistryStore again("/nonexistent/zelvo-modems.reg");
    ASSERT_TRUE(again.parse(store.serialize()));
    EXPECT_EQ(ReadModems(again), (std::vector<ModemConfig>{a, b}));
    EXPECT_EQ(FindModem(again, "office"), a);

    // Damaged or missing settings take their defaults; the device is what counts.
    again.writeString("software\\brunmo\\zelvo32\\modems\\Sim", "Baud", "fast");
    again.writeDword("software\\brunmo\\zelvo32\\modems\\Sim", "Guard", 1);
    again.deleteValue("software\\brunmo\\zelvo32\\modems\\Sim", "Init");
    EXPECT_EQ(FindModem(again, "Sim"), b);

    // A rename in case only replaces the entry; a removal takes its settings along.
    ModemConfig renamed = b;
    renamed.name = "SIM";
    ASSERT_TRUE(WriteModem(again, renamed, error));
    EXPECT_EQ(ReadModems(again), (std::vector<ModemConfig>{a, renamed}));
    RemoveModem(again, "office");
    EXPECT_EQ(ReadModems(again), std::vector<ModemConfig>{renamed});
    EXPECT_FALSE(again.keyExists("software\\brunmo\\zelvo32\\modems\\Office"));

    // Names that the line list or the store could not carry are refused.
    for (const char* bad : {"", " lead", "a\\b", "My Direct to COM2", "two\nlines"}) {
        ModemConfig m = a;
        m.name = bad;
        EXPECT_FALSE(WriteModem(again, m, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    ModemConfig noDevice = a;
    noDevice.device.clear();
    EXPECT_FALSE(WriteModem(again, noDevice, error));

    zelvo::comm::SetPortDevice(again, 7, "/dev/ttyFAKE");
    EXPECT_EQ(ResolveModemDevice(again, "com7"), "/dev/ttyFAKE");
    EXPECT_EQ(ResolveModemDevice(again, "COM77"), "COM77");
    EXPECT_EQ(ResolveModemDevice(again, "/dev/ttyS1"), "/dev/ttyS1");
}

namespace {

struct SimHost : ModemSimulator::Host {
    std::string line;
    std::string far;
    std::vector<std::string> connects;
    int hangups = 0;
    void toLine(std::string_view b) override { line += b; }
    bool connect(const std::string& c) override
    {
        connects.push_back(c);
        return true;
    }
    void toFar(std::string_view b) override { far += b; }
    void hangupFar() override { ++hangups; }
    std::string take()
    {
        std::string s;
        s.swap(line);
        return s;
    }
};

} // namespace

TEST(ModemSimulator, CommandsEscapeAndAnswers)
{
    ModemSimulator::Options o;
    o.dialDelayMs = 100;
    o.guardMs = 500;
    std::string error;
    ASSERT_TRUE(ModemSimulator::AddNumber(o, "555-1234=BUSY,exec:cat, with comma", error));
    EXPECT_FALSE(ModemSimulator::AddNumber(o, "1=RINGS", error));
    SimHost h;
    ModemSimulator sim(h, o);

    sim.fromLine("noise AT\r", 0);
    EXPECT_EQ(h.take(), "noise AT\r\r\nOK\r\n");
    sim.fromLine("ATE0V0\r", 0);
    EXPECT_EQ(h.take(), "ATE0V0\r0\r");
    sim.fromLine("ATV1Q0\rATX9&K3\\N3%C1S7=60S7?\r", 0);
    EXPECT_EQ(h.take(), "\r\nOK\r\n\r\n060\r\n\r\nOK\r\n");
    sim.fromLine("ATFOO\r", 0);
    EXPECT_EQ(h.take(), "\r\nERROR\r\n");

    sim.fromLine("ATDT (555) 1234\r", 1000);
    sim.tick(1099);
    EXPECT_EQ(h.take(), "");
    sim.tick(1100);
    EXPECT_EQ(h.take(), "\r\nBUSY\r\n");
    sim.fromLine("A/", 2000);
    sim.tick(2100);
    EXPECT_EQ(h.take(), "\r\nCONNECT 33600\r\n");
    EXPECT_EQ(h.connects, std::vector<std::string>{"cat, with comma"});
    ASSERT_TRUE(sim.online());

    // "+++" inside data, or without the guard times, is data.
    sim.fromLine("a+++b", 3000);
    sim.fromLine("+++", 3100);
    sim.tick(3700);
    EXPECT_EQ(h.far, "a+++b+++");
    EXPECT_TRUE(sim.online());
    // With the guard before and after it, it is the escape; the call stays up.
    sim.fromLine("+", 5000);
    sim.fromLine("++", 5100);
    sim.tick(5599);
    EXPECT_TRUE(sim.online());
    sim.tick(5600);
    EXPECT_FALSE(sim.online());
    EXPECT_TRUE(sim.callUp());
    EXPECT_EQ(h.take(), "\r\nOK\r\n");
    sim.fromLine("ATO\r", 6000);
    EXPECT_TRUE(sim.online());
    sim.farEnded();
    EXPECT_EQ(h.take(), "\r\nCONNECT 33600\r\n\r\nNO CARRIER\r\n");
    EXPECT_FALSE(sim.callUp());

    // A key during the dial aborts it; unknown numbers find no carrier. (Echo is off.)
    sim.fromLine("ATD999\r", 7000);
    sim.fromLine("\r", 7050);
    sim.tick(8000);
    sim.fromLine("ATD999\r", 9000);
    sim.tick(9100);
    EXPECT_EQ(h.take(), "\r\nNO CARRIER\r\n\r\nNO CARRIER\r\n");
    EXPECT_EQ(h.hangups, 0);
}
