// The telephony device against the modem simulator on exec: lines: pass-through,
// calls with and without a rate, retries, failures, hang-up, carrier loss and cancel,
// through a real port.

#include "comm/com_port.h"
#include "comm/event_loop_bridge.h"
#include "comm/telephony/modem_config.h"
#include "comm/telephony/modem_device.h"
#include "platform/clock.h"
#include "platform/registry_store.h"
#include "pty_pair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace zelvo::telephony;
using namespace zelvo::comm;
using zelvo::platform::RegistryStore;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kGuardMs = 200;

class ModemDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path()
               / ("zelvo-modem-" + std::to_string(::getpid()) + "-"
                  + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        store_ = (dir_ / "registry.reg").string();
        log_ = (dir_ / "sim.log").string();
        port.setAutoOpen(false);
        port.setOnTriggerAvail([this](ComPort& p, uint16_t count) {
            std::string buf(count, '\0');
            buf.resize(p.GetBlock(buf.data(), count));
            received += buf;
        });
        device = std::make_unique<ModemDevice>(port, store_);
        device->OnTapiStatus = [this](const CallStatus& s) {
            if (s.last)
                statuses.push_back("]");
            else
                statuses.push_back((s.first ? "[" : "")
                                   + DescribeStatus(s.message, s.state, s.reason));
        };
        device->OnTapiPortOpen = [this] { events.push_back("open"); };
        device->OnTapiConnect = [this] { events.push_back("connect"); };
        device->OnTapiFail = [this] { events.push_back("fail"); };
        device->OnTapiPortClose = [this] { events.push_back("close"); };
        device->OnTapiError = [this](const std::string& t) { events.push_back("error: " + t); };
    }
    void TearDown() override
    {
        device.reset();
        port.setOpen(false);
        fs::remove_all(dir_);
    }

    // A simulated modem, quick to answer, with a short guard time.
    void addModem(const std::string& name, const std::string& args)
    {
        ModemConfig m;
        m.name = name;
        m.device = "exec:'" ZELVO_MODEMSIM "' --delay 50 --guard " + std::to_string(kGuardMs)
                   + " --log '" + log_ + "' " + args;
        m.guardMs = kGuardMs;
        RegistryStore store(store_);
        store.load();
        std::string error;
        ASSERT_TRUE(WriteModem(store, m, error)) << error;
        ASSERT_TRUE(store.save());
    }
    bool waitFor(const std::function<bool()>& pred, int ms = 10000)
    {
        return ui.waitAndPump(pred, ms);
    }
    bool waitEvent(const std::string& e, int ms = 10000)
    {
        return waitFor([&] { return std::count(events.begin(), events.end(), e) > 0; }, ms);
    }
    bool waitReceived(const std::string& text, int ms = 10000)
    {
        return waitFor([&] { return received.find(text) != std::string::npos; }, ms);
    }
    size_t countStatus(const std::string& text) const
    {
        return size_t(std::count_if(statuses.begin(), statuses.end(), [&](const std::string& s) {
            return s == text || s == "[" + text;
        }));
    }
    std::string simLog() const
    {
        std::ifstream f(log_);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }

    fs::path dir_;
    std::string store_;
    std::string log_;
    EventLoopBridge ui;
    ComPort port{ui};
    std::unique_ptr<ModemDevice> device;
    std::vector<std::string> events;
    std::vector<std::string> statuses;
    std::string received;
};

} // namespace

TEST_F(ModemDeviceTest, PassThroughLetsTheUserTalkToTheModem)
{
    addModem("Sim", "");
    device->setSelectedDevice("sim"); // names are not case-sensitive
    device->OpenPassThrough();
    ASSERT_TRUE(waitEvent("open"));
    EXPECT_EQ(device->state(), ModemDevice::State::PassThrough);
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(port.TapiMode(), tmOn);
    port.PutText("AT\r");
    ASSERT_TRUE(waitReceived("OK"));
    port.PutText("ATI1\r");
    ASSERT_TRUE(waitReceived("Zelvo32 modem simulator"));

    EXPECT_FALSE(device->EndCall());
    ASSERT_TRUE(waitEvent("close"));
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.TapiMode(), tmAuto);
    EXPECT_TRUE(device->EndCall());
    EXPECT_NE(simLog().find("AT\nATI1\n"), std::string::npos) << simLog();

    // Closing the port from elsewhere also ends the modem's use.
    events.clear();
    device->OpenPassThrough();
    ASSERT_TRUE(waitEvent("open"));
    port.setOpen(false);
    ASSERT_TRUE(waitEvent("close"));
    EXPECT_EQ(device->state(), ModemDevice::State::Idle);

    // A modem that is not configured is reported, not opened.
    device->setSelectedDevice("Nowhere");
    device->OpenPassThrough();
    ASSERT_TRUE(waitFor([&] { return events.back().rfind("error: ", 0) == 0; }));
    EXPECT_NE(events.back().find("There is no modem named \"Nowhere\""), std::string::npos);
    EXPECT_FALSE(port.Open());
}

TEST_F(ModemDeviceTest, CallsConnectWithAndWithoutARateAndHangUpByEscape)
{
    addModem("Sim", "--number 1='exec:echo WELCOME; exec cat'");
    addModem("Plain", "--rate 0 --number 1=exec:cat");
    device->setSelectedDevice("Sim");
    device->PlaceCall("1");
    ASSERT_TRUE(waitEvent("connect"));
    EXPECT_EQ(events, (std::vector<std::string>{"open", "connect"}));
    EXPECT_EQ(device->ConnectRate(), 33600u);
    EXPECT_EQ(statuses, (std::vector<std::string>{"[Proceeding...", "Dialing...", "Connected!", "]"}));
    EXPECT_EQ(port.TapiMode(), tmOn);
    // What the far end says right after CONNECT reaches the terminal.
    ASSERT_TRUE(waitReceived("WELCOME"));
    port.PutText("hello\r");
    ASSERT_TRUE(waitFor([&] {
        size_t a = received.find("hello");
        return a != std::string::npos && received.find("hello", a + 1) != std::string::npos;
    }));

    const int64_t start = zelvo::platform::monotonicMs();
    EXPECT_FALSE(device->EndCall());
    ASSERT_TRUE(waitEvent("close"));
    // A guard time of silence before "+++" and the modem's guard time after it.
    EXPECT_GE(zelvo::platform::monotonicMs() - start, int64_t(2 * kGuardMs));
    std::string log = simLog();
    size_t escape = log.find("+++\n");
    ASSERT_NE(escape, std::string::npos) << log;
    EXPECT_NE(log.find("ATH\n", escape), std::string::npos) << log;
    EXPECT_EQ(statuses.back(), "]");
    EXPECT_EQ(statuses[statuses.size() - 2], "[Line is idle");
    EXPECT_FALSE(port.Open());

    events.clear();
    device->setSelectedDevice("Plain");
    device->PlaceCall("1");
    ASSERT_TRUE(waitEvent("connect"));
    EXPECT_EQ(device->ConnectRate(), 0u);
    EXPECT_FALSE(device->EndCall());
    ASSERT_TRUE(waitEvent("close"));
}

TEST_F(ModemDeviceTest, BusyFirstThenConnectedOnTheSecondAttempt)
{
    addModem("Sim", "--number 2=BUSY,exec:cat");
    device->setSelectedDevice("Sim");
    device->setMaxAttempts(3);
    device->setRetryWait(1);
    device->PlaceCall("2");
    ASSERT_TRUE(waitEvent("connect", 15000));
    EXPECT_EQ(countStatus("Called number is busy"), 1u);
    EXPECT_EQ(countStatus("Waiting for retry in 1 seconds"), 1u);
    EXPECT_EQ(countStatus("Dialing..."), 2u);
    EXPECT_EQ(events, (std::vector<std::string>{"open", "connect"}));
    EXPECT_FALSE(device->EndCall());
    ASSERT_TRUE(waitEvent("close"));
}

TEST_F(ModemDeviceTest, AllAttemptsFailing)
{
    addModem("Sim", "--number 3='NO ANSWER'");
    device->setSelectedDevice("Sim");
    device->setMaxAttempts(2);
    device->setRetryWait(1);
    device->PlaceCall("3");
    ASSERT_TRUE(waitEvent("fail", 15000));
    EXPECT_EQ(countStatus("Call disconnected (No Answer by Remote)"), 2u);
    EXPECT_EQ(statuses.back(), "]");
    EXPECT_EQ(events, std::vector<std::string>{"fail"});
    EXPECT_EQ(device->state(), ModemDevice::State::Idle);
    EXPECT_FALSE(port.Open());

    // A number the modem finds no carrier for, and a modem that cannot be opened.
    events.clear();
    device->setMaxAttempts(1);
    device->PlaceCall("4");
    ASSERT_TRUE(waitEvent("fail"));
    EXPECT_EQ(countStatus("Dial failed/no connection"), 1u);
    RegistryStore store(store_);
    store.load();
    ModemConfig gone;
    gone.name = "Gone";
    gone.device = (dir_ / "no-such-tty").string();
    std::string error;
    ASSERT_TRUE(WriteModem(store, gone, error));
    ASSERT_TRUE(store.save());
    events.clear();
    device->setSelectedDevice("Gone");
    device->PlaceCall("1");
    ASSERT_TRUE(waitEvent("fail"));
    EXPECT_EQ(countStatus("Dial failed/no connection"), 2u);
}

TEST_F(ModemDeviceTest, CarrierLostWhenTheFarSideEnds)
{
    addModem("Sim", "--number 4='exec:read x; echo BYE' --number 5='exec:echo QUICK'");
    device->setSelectedDevice("Sim");
    device->PlaceCall("4");
    ASSERT_TRUE(waitEvent("connect"));
    port.PutText("quit\r");
    ASSERT_TRUE(waitEvent("close")) << received;
    EXPECT_TRUE(waitReceived("NO CARRIER"));
    EXPECT_NE(received.find("BYE"), std::string::npos);
    EXPECT_EQ(countStatus("Call disconnected (Normal Hangup by Remote)"), 1u);
    EXPECT_EQ(device->state(), ModemDevice::State::Idle);
    EXPECT_FALSE(port.Open());

    // A far end that is gone by the time the port opens is noticed all the same.
    events.clear();
    received.clear();
    device->PlaceCall("5");
    ASSERT_TRUE(waitEvent("close"));
    EXPECT_EQ(events, (std::vector<std::string>{"open", "connect", "close"}));
    EXPECT_NE(received.find("QUICK"), std::string::npos);
}

TEST_F(ModemDeviceTest, CancelWhileDiallingOrWaitingToRetry)
{
    addModem("Slow", "--delay 5000 --number 1=exec:cat");
    addModem("Busy", "--number 1=BUSY");
    device->setSelectedDevice("Slow");
    device->PlaceCall("1");
    ASSERT_TRUE(waitFor([&] { return countStatus("Dialing...") == 1; }));
    const int64_t start = zelvo::platform::monotonicMs();
    EXPECT_FALSE(device->EndCall());
    ASSERT_TRUE(waitEvent("close"));
    // The dial was aborted, not waited out.
    EXPECT_LT(zelvo::platform::monotonicMs() - start, 4000);
    EXPECT_EQ(countStatus("Call disconnected (Cancelled)"), 1u);
    EXPECT_EQ(std::count(events.begin(), events.end(), "connect"), 0);

    events.clear();
    device->setSelectedDevice("Busy");
    device->setRetryWait(60);
    device->PlaceCall("1");
    ASSERT_TRUE(waitFor([&] { return countStatus("Waiting for retry in 60 seconds") == 1; }));
    EXPECT_FALSE(device->EndCall());
    ASSERT_TRUE(waitEvent("close"));
    EXPECT_EQ(device->state(), ModemDevice::State::Idle);
}

TEST(ModemLineHandOver, ThePortWorksOnTheLineAndLeavesItOpenWhenItCloses)
{
    // A pseudo-terminal's slave side stands in for a serial modem line.
    zelvo::comm::test::PtyPair pty;
    ASSERT_FALSE(pty.slaveName.empty());
    ModemLine line;
    ASSERT_EQ(line.open(pty.slaveName, 9600, false), 0);
    EXPECT_FALSE(line.isPty());
    EventLoopBridge ui;
    ComPort port(ui);
    port.setAutoOpen(false);
    port.setBaud(57600);
    port.setTapiHandle(line.fd(), line.isPty());
    port.setTapiMode(tmOn);
    port.setOpen(true);
    // The line keeps the speed it was set up with; the port reads it back.
    EXPECT_EQ(port.Baud(), 9600u);
    port.PutText("ATDT1\r");
    EXPECT_EQ(pty.receive(6), "ATDT1\r");
    port.setOpen(false);
    // The device still holds its line after the port has let go of it.
    ASSERT_TRUE(line.write("ATH\r", 1000));
    EXPECT_EQ(pty.receive(4), "ATH\r");
    // Another opener finds it in use.
    ModemLine other;
    EXPECT_EQ(other.open(pty.slaveName, 9600, false), ecAccessDenied);
}
