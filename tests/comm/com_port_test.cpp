// The port component on pseudo-terminal pairs mapped through the port table.

#include "comm/com_port.h"
#include "comm/event_loop_bridge.h"
#include "comm/port_table.h"
#include "comm/serial_device_info.h"
#include "platform/registry_store.h"
#include "pty_pair.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <thread>

using namespace zelvo::comm;
using zelvo::comm::test::PtyPair;
using zelvo::comm::test::waitUntil;
using zelvo::platform::RegistryStore;
namespace fs = std::filesystem;

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// A device that refuses chosen settings with an input/output error, as an adapter
// pulled out while the port opens does.
class RefusingDispatcher : public PosixDispatcher {
public:
    RefusingDispatcher(void* owner, UiBridge* bridge, std::function<bool(const DeviceControlBlock&)> refuse)
        : PosixDispatcher(owner, bridge), refuse_(std::move(refuse))
    {
    }

protected:
    int WriteDeviceBlock(const DeviceControlBlock& d) override
    {
        return refuse_ && refuse_(d) ? -EIO : PosixDispatcher::WriteDeviceBlock(d);
    }

private:
    std::function<bool(const DeviceControlBlock&)> refuse_;
};

class RefusingPort : public ComPort {
public:
    using ComPort::ComPort;
    std::function<bool(const DeviceControlBlock&)> refuse;

protected:
    std::unique_ptr<PosixDispatcher> CreateDispatcher() override
    {
        return std::make_unique<RefusingDispatcher>(this, &Bridge(), refuse);
    }
};

class ComPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(pty.slaveName.empty());
        SetPortDevice(store, 3, pty.slaveName);
        port.setRegistryStore(&store);
        port.setComNumber(3);
        port.setAutoOpen(false);
    }
    std::string tempPath(const char* name)
    {
        return ::testing::TempDir() + name + std::to_string(::getpid());
    }
    EventLoopBridge ui;
    RegistryStore store{"/nonexistent/zelvo-test-registry.reg"};
    PtyPair pty;
    ComPort port{ui};
};

TEST_F(ComPortTest, Defaults)
{
    ComPort p(ui);
    EXPECT_EQ(p.DeviceLayer(), dlWin32);
    EXPECT_EQ(p.ComNumber(), 0);
    EXPECT_EQ(p.Baud(), 19200u);
    EXPECT_TRUE(p.PromptForPort());
    EXPECT_EQ(p.Parity(), pNone);
    EXPECT_EQ(p.DataBits(), 8);
    EXPECT_EQ(p.StopBits(), 1);
    EXPECT_EQ(p.InSize(), 4096);
    EXPECT_EQ(p.OutSize(), 4096);
    EXPECT_TRUE(p.AutoOpen());
    EXPECT_FALSE(p.Open());
    EXPECT_TRUE(p.DTR());
    EXPECT_TRUE(p.RTS());
    EXPECT_EQ(p.HWFlowOptions(), 0);
    EXPECT_EQ(p.SWFlowOptions(), swfNone);
    EXPECT_EQ(p.XOnChar(), 17);
    EXPECT_EQ(p.XOffChar(), 19);
    EXPECT_EQ(p.Tracing(), tlOff);
    EXPECT_EQ(p.TraceSize(), 10000u);
    EXPECT_EQ(p.TraceName(), "Qarn.TRC");
    EXPECT_EQ(p.LogName(), "Qarn.LOG");
    EXPECT_EQ(p.CommNotificationLevel(), 10);
    EXPECT_EQ(p.TapiMode(), tmAuto);
    EXPECT_EQ(p.AvailTriggerLength(), 1);
    EXPECT_EQ(p.OutputFree(), 4096u); // OutSize while closed
    EXPECT_EQ(p.InputUsed(), 0u);
    EXPECT_FALSE(p.CTS());
}

TEST_F(ComPortTest, NoPortSelected)
{
    ComPort p(ui);
    p.setPromptForPort(false);
    try {
        p.setOpen(true);
        FAIL() << "opened without a port";
    } catch (const ENoPortSelected& e) {
        EXPECT_EQ(e.ErrorCode(), ecNoPortSelected);
        EXPECT_STREQ(e.what(), "The ComNumber property of the TComPort has not been set");
    }
    EXPECT_EQ(p.Dispatcher(), nullptr);
    // With the prompt but no dialog the request is a Cancel.
    p.setPromptForPort(true);
    EXPECT_THROW(p.setOpen(true), ENoPortSelected);
    // A dialog's choice is taken.
    p.setRegistryStore(&store);
    p.setPortPrompt([](uint16_t& n) {
        n = 3;
        return true;
    });
    p.setOpen(true);
    EXPECT_EQ(p.ComNumber(), 3);
    EXPECT_TRUE(p.Open());
}

TEST_F(ComPortTest, MissingPortIsBadIdAndBusyPortIsAlreadyOpen)
{
    SetPortDevice(store, 4, "/dev/zelvo-no-such-port");
    ComPort missing(ui);
    missing.setRegistryStore(&store);
    missing.setComNumber(4);
    try {
        missing.setOpen(true);
        FAIL();
    } catch (const EBadId& e) {
        EXPECT_STREQ(e.what(), "ie_BadId - Specified comport doesn't exist");
    }
    EXPECT_FALSE(missing.Open());

    port.setOpen(true);
    ComPort second(ui);
    second.setRegistryStore(&store);
    second.setComNumber(3);
    try {
        second.setOpen(true);
        FAIL();
    } catch (const EAlreadyOpen& e) {
        EXPECT_EQ(e.ErrorCode(), ecAlreadyOpen);
        EXPECT_STREQ(e.what(), "ie_Open - device already open");
    }
    EXPECT_EQ(second.Dispatcher(), nullptr);
}

TEST_F(ComPortTest, AnInputOutputErrorDuringOpenReadsAsSuch)
{
    RefusingPort p(ui);
    p.setRegistryStore(&store);
    p.setComNumber(3);
    p.refuse = [](const DeviceControlBlock&) { return true; };
    try {
        p.setOpen(true);
        FAIL();
    } catch (const EAlreadyOpen&) {
        FAIL() << "the port is not in use";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorNumber(), EIO);
        EXPECT_STREQ(e.what(), "Input/output error");
    }
    EXPECT_FALSE(p.Open());
}

TEST_F(ComPortTest, ASettingRefusedDuringOpenLeavesThePortClosed)
{
    RefusingPort p(ui);
    p.setRegistryStore(&store);
    p.setComNumber(3);
    p.setAutoOpen(false);
    p.setSWFlowOptions(swfBoth); // stored; the device refuses it when the port opens
    p.refuse = [](const DeviceControlBlock& d) { return d.outX || d.inX; };
    int told = 0;
    p.AddPortUserCallback([&](ComPort&, bool) { ++told; });
    EXPECT_THROW(p.setOpen(true), EInOutError);
    EXPECT_FALSE(p.Open());
    EXPECT_EQ(p.State(), ComPort::psClosed);
    EXPECT_EQ(p.Dispatcher(), nullptr);
    EXPECT_EQ(told, 0);
    EXPECT_THROW(p.PutText("x"), ECommNotOpen);
    // The device was let go: it opens, and works, once the setting is accepted.
    p.refuse = nullptr;
    p.setOpen(true);
    EXPECT_EQ(told, 1);
    uint16_t got = 0;
    p.setOnTriggerAvail([&](ComPort&, uint16_t n) { got = n; });
    pty.send("ok");
    EXPECT_TRUE(ui.waitAndPump([&] { return got > 0; }, 5000));
}

TEST_F(ComPortTest, BaudWhileClosedAndOpen)
{
    port.setBaud(5000000); // only stored while closed
    EXPECT_EQ(port.Baud(), 5000000u);
    try {
        port.setOpen(true); // a rate the device cannot set says so
        FAIL();
    } catch (const EQarnException& e) {
        EXPECT_EQ(e.ErrorCode(), ecBaudRate);
    }
    EXPECT_FALSE(port.Open());
    port.setBaud(9600);
    port.setOpen(true);
    port.setBaud(38400);
    uint32_t baud;
    int parity, bits, stop;
    port.Dispatcher()->GetLineParams(baud, parity, bits, stop);
    EXPECT_EQ(baud, 38400u);
    port.setBaud(12345); // an arbitrary rate
    EXPECT_EQ(port.Dispatcher()->BaudInUse(), 12345u);
    port.setBaud(38400);
    try {
        port.setBaud(5000000);
        FAIL();
    } catch (const EQarnException& e) {
        EXPECT_EQ(e.ErrorCode(), ecBaudRate);
    }
    EXPECT_EQ(port.Baud(), 38400u);
    port.setParity(pEven);
    port.setDataBits(7);
    port.Dispatcher()->GetLineParams(baud, parity, bits, stop);
    EXPECT_EQ(parity, pEven);
    EXPECT_EQ(bits, 7);
}

TEST_F(ComPortTest, AutoOpen)
{
    EXPECT_THROW(port.PutText("x"), ECommNotOpen);
    EXPECT_FALSE(port.Open());
    port.setAutoOpen(true);
    port.PutText("hello");
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(pty.receive(5), "hello");
}

TEST_F(ComPortTest, FlowControlDefaultsAndRs485)
{
    port.setOpen(true);
    port.setHWFlowOptions(hwfBit(hwfUseRTS) | hwfBit(hwfRequireCTS));
    EXPECT_EQ(port.BufferFull(), 3686);
    EXPECT_EQ(port.BufferResume(), 409);
    uint32_t hw, sw;
    uint8_t xon, xoff;
    port.Dispatcher()->GetFlowSettings(hw, sw, xon, xoff);
    EXPECT_EQ(hw, hfUseRTS | hfRequireCTS);
    port.setRS485Mode(true);
    EXPECT_EQ(port.HWFlowOptions(), 0);
    EXPECT_FALSE(port.RTS());
    port.setHWFlowOptions(hwfBit(hwfUseRTS));
    EXPECT_FALSE(port.RS485Mode());
    port.setXOnChar(0x11);
    port.setXOffChar(0x13);
    port.setSWFlowOptions(swfBoth);
    port.Dispatcher()->GetFlowSettings(hw, sw, xon, xoff);
    EXPECT_EQ(sw, sfReceiveFlow | sfTransmitFlow);
}

TEST_F(ComPortTest, FlowLevelsKeptWhenValid)
{
    port.setBufferFull(2916);
    port.setBufferResume(360);
    port.setSWFlowOptions(swfReceive);
    EXPECT_EQ(port.BufferFull(), 2916);
    EXPECT_EQ(port.BufferResume(), 360);
}

TEST_F(ComPortTest, TracingIsWrittenAtClose)
{
    const std::string name = tempPath("trace");
    std::remove(name.c_str());
    port.setTraceName(name);
    port.setTracing(tlOn);
    port.setOpen(true);
    port.PutText("AT\r");
    EXPECT_EQ(pty.receive(3), "AT\r");
    pty.send("OK");
    ASSERT_TRUE(waitUntil([&] { return port.InputUsed() == 2; }));
    port.setOpen(false);
    EXPECT_EQ(readFile(name), "Transmit: AT[0D]\nReceive: OK\n");
    std::remove(name.c_str());
}

TEST_F(ComPortTest, ATraceOrLogThatCannotBeWrittenAtCloseIsReported)
{
    const std::string nowhere = "/nonexistent-zelvo-dir/trace";
    port.setTraceName(nowhere);
    port.setTracing(tlOn);
    port.setOpen(true);
    port.PutText("AT\r");
    try {
        port.setOpen(false);
        FAIL() << "the lost trace is not reported";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorNumber(), ENOENT);
        EXPECT_EQ(std::string(e.what()), nowhere + ": File not found");
    }
    // The close itself went through.
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.State(), ComPort::psClosed);
    EXPECT_EQ(port.Dispatcher(), nullptr);
    port.setLogName(nowhere);
    port.setLogging(tlOn);
    port.setOpen(true);
    EXPECT_THROW(port.setOpen(false), EInOutError);
    EXPECT_FALSE(port.Open());
}

TEST_F(ComPortTest, TracingStates)
{
    port.setTracing(tlPause); // while closed only off and on are kept
    EXPECT_EQ(port.Tracing(), tlOff);
    port.setTracing(tlOn);
    EXPECT_EQ(port.Tracing(), tlOn);
    port.setOpen(true);
    EXPECT_TRUE(port.Dispatcher()->TracingOn());
    port.setTracing(tlPause);
    EXPECT_EQ(port.Tracing(), tlPause);
    EXPECT_FALSE(port.Dispatcher()->TracingOn());
    EXPECT_TRUE(port.Dispatcher()->TraceAllocated());
    port.setTraceSize(5000000); // capped; the paused trace restarts paused
    EXPECT_EQ(port.TraceSize(), 4000000u);
    EXPECT_TRUE(port.Dispatcher()->TraceAllocated());
    EXPECT_FALSE(port.Dispatcher()->TracingOn());
    port.setTracing(tlOn);
    EXPECT_TRUE(port.Dispatcher()->TracingOn());
    port.setTracing(tlOff);
    EXPECT_FALSE(port.Dispatcher()->TraceAllocated());
    port.setLogSize(20000000);
    EXPECT_EQ(port.LogSize(), 16000000u);
}

TEST_F(ComPortTest, LineStateAndArguments)
{
    port.setOpen(true);
    port.setHWFlowOptions(hwfBit(hwfUseDTR));
    port.setDTR(false); // the line is under flow control; the state is still kept
    EXPECT_FALSE(port.DTR());
    port.setHWFlowOptions(0);
    EXPECT_TRUE(port.CTS());
    EXPECT_TRUE(port.DSR());
    EXPECT_TRUE(port.DCD());
    EXPECT_FALSE(port.Ring());
    EXPECT_EQ(port.LineError(), 0);
    EXPECT_FALSE(port.LineBreak());
    EXPECT_THROW(port.NewStatusTrigger(6), EBadArgument);
    EXPECT_THROW(port.GetByte(), EBufferIsEmpty);
    EXPECT_THROW(port.PeekByte(1), EBufferIsEmpty);
    std::vector<char> big(5000, 'x');
    EXPECT_THROW(port.PutBlock(big.data(), static_cast<uint32_t>(big.size())), EOutputBufferTooSmall);
    port.SendBreak(1, true);
    pty.send("q");
    ASSERT_TRUE(waitUntil([&] { return port.ByteReady(); }));
    EXPECT_EQ(port.PeekByte(1), 'q');
    EXPECT_EQ(port.GetByte(), 'q');
}

TEST_F(ComPortTest, DispatchLogDump)
{
    const std::string name = tempPath("log");
    std::remove(name.c_str());
    port.setLogName(name);
    port.setOpen(true);
    port.setLogging(tlOn);
    port.PutText("hi");
    port.setLogging(tlDump);
    const std::string text = readFile(name);
    EXPECT_EQ(text.rfind("Qarn v2.57\nCompiler : ", 0), 0u);
    EXPECT_NE(text.find("Time      Type      SubType       Data      OtherData\n"
                        "--------  --------  ------------  --------  ---------\n"),
              std::string::npos);
    EXPECT_NE(text.find("Dispatch  WritePort     00000002  hi\n"), std::string::npos);
    EXPECT_EQ(port.Logging(), tlOff);
    std::remove(name.c_str());
}

TEST_F(ComPortTest, CloseInsideOnTriggerAvail)
{
    int calls = 0;
    port.setOnTriggerAvail([&](ComPort& p, uint16_t count) {
        ++calls;
        EXPECT_EQ(count, 3);
        p.setOpen(false);
    });
    port.setOpen(true);
    pty.send("abc");
    ASSERT_TRUE(ui.waitAndPump([&] { return port.State() == ComPort::psClosed; }, 10000));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(port.Dispatcher(), nullptr);
    EXPECT_FALSE(port.Open());
    // The port can be opened again at once.
    port.setOpen(true);
    EXPECT_TRUE(port.Open());
}

TEST_F(ComPortTest, AStatusTriggerThatClosedThePortFiresAgainAfterTheReopen)
{
    // As the program watches for a hang-up: the handler of the status trigger closes
    // the port; the trigger comes back with the reopen and is armed again.
    int fired = 0;
    port.setOnTriggerStatus([&](ComPort& p, uint16_t) {
        ++fired;
        p.setOpen(false);
    });
    port.setOpen(true);
    const uint16_t sent = port.NewStatusTrigger(stOutSent);
    for (int round = 1; round <= 3; ++round) {
        port.ArmStatusTrigger(sent, 0, true);
        port.PutText("x");
        ASSERT_TRUE(ui.waitAndPump([&] { return fired == round && port.State() == ComPort::psClosed; }, 5000))
            << "round " << round;
        port.setOpen(true);
    }
}

TEST_F(ComPortTest, EventsUsersAndSavedTriggers)
{
    std::vector<std::string> seen;
    struct Win : WindowHandler {
        std::vector<std::string>* seen;
        void windowMessage(uint16_t msg, uint32_t, uint32_t) override
        {
            seen->push_back(msg == MsgPortOpen ? "win open" : msg == MsgPortClose ? "win close" : "other");
        }
    } win;
    win.seen = &seen;
    port.AddPortUser(&win);
    const int id = port.AddPortUserCallback([&](ComPort&, bool opening) {
        seen.push_back(opening ? "cb open" : "cb close");
    });
    port.setOnOpened([&](ComPort&, bool) { seen.push_back("OnOpened"); });
    port.setOnClosed([&](ComPort&, bool) { seen.push_back("OnClosed"); });
    std::vector<uint16_t> data;
    port.setOnTriggerData([&](ComPort&, uint16_t h) { data.push_back(h); });
    std::string got;
    port.setOnTriggerAvail([&](ComPort& p, uint16_t n) {
        for (uint16_t i = 0; i < n; ++i)
            got += static_cast<char>(p.GetByte());
    });
    port.setOpen(true);
    EXPECT_EQ(seen, (std::vector<std::string>{"cb open", "win open", "OnOpened"}));
    const uint16_t h = port.NewDataTrigger("READY", false);
    pty.send("..READY");
    ASSERT_TRUE(ui.waitAndPump([&] { return data.size() == 1 && got.size() == 7; }, 30000));
    EXPECT_EQ(data[0], h);
    EXPECT_EQ(got, "..READY");
    // Triggers survive a close and reopen.
    seen.clear();
    port.setOpen(false);
    EXPECT_EQ(seen, (std::vector<std::string>{"cb close", "win close", "OnClosed"}));
    port.RemovePortUserCallback(id);
    port.RemovePortUser(&win);
    // Bytes that wait in the device while the port is closed are matched by the restored
    // trigger at the reopen. (A notification still under way at the close defers it, and
    // the reopen with it; either way the bytes are read only after the reopen.)
    pty.send("READY");
    port.setOpen(true);
    ASSERT_TRUE(ui.waitAndPump([&] { return data.size() == 2; }, 30000));
    EXPECT_EQ(data[1], h);
    EXPECT_EQ(seen.size(), 4u); // only OnOpened: the users were removed
    EXPECT_EQ(seen.back(), "OnOpened");
    EXPECT_THROW(port.NewDataTrigger("0123456789012345678901", false), ETriggerTooLong);
    EXPECT_THROW(port.DropTrigger(0), EBadTriggerHandle);
    port.DropTrigger(h);
}

TEST_F(ComPortTest, BytesWaitingAtAReopenMeetTheRestoredTriggers)
{
    RefusingPort p(ui);
    p.setRegistryStore(&store);
    p.setComNumber(3);
    p.setAutoOpen(false);
    p.setSWFlowOptions(swfBoth);
    std::vector<uint16_t> data;
    p.setOnTriggerData([&](ComPort&, uint16_t h) { data.push_back(h); });
    p.setOpen(true);
    const uint16_t h = p.NewDataTrigger("READY", false);
    p.setOpen(false);
    pty.send("READY");
    // The flow settings go onto the device slowly at the reopen: a reader that ran
    // already would take the waiting bytes before the trigger is back.
    p.refuse = [](const DeviceControlBlock& d) {
        if (d.outX || d.inX)
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return false;
    };
    p.setOpen(true);
    ASSERT_TRUE(ui.waitAndPump([&] { return !data.empty(); }, 30000));
    EXPECT_EQ(data[0], h);
}

TEST_F(ComPortTest, StatusEventsByType)
{
    int sent = 0, used = 0;
    port.setOnTriggerOutSent([&](ComPort&) { ++sent; });
    port.setOnTriggerOutbuffUsed([&](ComPort&) { ++used; });
    port.setOpen(true);
    const uint16_t s = port.NewStatusTrigger(stOutSent);
    const uint16_t u = port.NewStatusTrigger(stOutBuffUsed);
    port.ArmStatusTrigger(s, 0, true);
    port.ArmStatusTrigger(u, 0, true);
    port.PutText("x");
    EXPECT_EQ(pty.receive(1), "x");
    ASSERT_TRUE(ui.waitAndPump([&] { return sent == 1 && used == 1; }, 5000));
}

TEST_F(ComPortTest, ChangingComNumberReopens)
{
    PtyPair other;
    SetPortDevice(store, 7, other.slaveName);
    port.setOpen(true);
    port.setComNumber(7);
    EXPECT_TRUE(port.Open());
    port.PutText("moved");
    EXPECT_EQ(other.receive(5), "moved");
}

TEST_F(ComPortTest, ClosingStateIgnoresDataAndDeviceLayerMustBeWin32)
{
    port.setDeviceLayer(dlWinsock);
    EXPECT_THROW(port.setOpen(true), ENullApi);
    port.setDeviceLayer(dlWin32);
    port.setTapiMode(tmOn);
    EXPECT_THROW(port.setOpen(true), ENotOpenedByTapi);
    port.setTapiMode(tmOff);
    port.BeginLoading();
    port.setOpen(true); // only remembered while loading
    EXPECT_FALSE(port.Open());
    port.EndLoading();
    EXPECT_TRUE(port.Open());
}

TEST(ComPortExec, ShellOnAPseudoTerminalBothWays)
{
    EventLoopBridge ui;
    RegistryStore store("/nonexistent/zelvo-test-registry.reg");
    SetPortDevice(store, 9, "exec:exec /bin/sh");
    ComPort port(ui);
    port.setRegistryStore(&store);
    port.setComNumber(9);
    std::string got;
    port.setOnTriggerAvail([&](ComPort& p, uint16_t n) {
        std::string buf(n, '\0');
        got.append(buf.data(), p.GetBlock(buf.data(), n));
    });
    port.setOpen(true);
    port.PutText("echo zel$((40+2))vo\r");
    ASSERT_TRUE(ui.waitAndPump([&] { return got.find("zel42vo") != std::string::npos; }, 10000)) << got;
    port.setOpen(false);
    EXPECT_FALSE(port.Open());
}

TEST(ComPortLocalLine, TerminalTypeAndWindowSizeReachTheCommand)
{
    EventLoopBridge ui;
    RegistryStore store("/nonexistent/zelvo-test-registry.reg");
    SetPortDevice(store, 9, "exec:exec /bin/sh");
    ComPort port(ui);
    port.setRegistryStore(&store);
    port.setComNumber(9);
    port.setExecTerminalType("vt52");
    std::string got;
    port.setOnTriggerAvail([&](ComPort& p, uint16_t n) {
        std::string buf(n, '\0');
        got.append(buf.data(), p.GetBlock(buf.data(), n));
    });
    port.setOpen(true);
    ASSERT_EQ(port.Dispatcher()->SetWindowSize(31, 101, 808, 496), 0);
    port.PutText("echo \"<$TERM>\"; stty size\r");
    ASSERT_TRUE(ui.waitAndPump([&] { return got.find("31 101") != std::string::npos; }, 10000)) << got;
    EXPECT_NE(got.find("<vt52>"), std::string::npos) << got;
    port.setOpen(false);
}

TEST(PortTable, DefaultsAndEntries)
{
    EXPECT_EQ(DefaultPortDevice(1), "/dev/ttyS0");
    EXPECT_EQ(DefaultPortDevice(4), "/dev/ttyS3");
    EXPECT_EQ(DefaultPortDevice(5), "/dev/ttyUSB0");
    EXPECT_EQ(DefaultPortDevice(20), "/dev/ttyUSB15");
    EXPECT_EQ(DefaultPortDevice(21), "/dev/ttyACM0");
    EXPECT_EQ(DefaultPortDevice(36), "/dev/ttyACM15");
    EXPECT_EQ(DefaultPortDevice(37), "");
    RegistryStore store("/nonexistent/zelvo-test-registry.reg");
    SetPortDevice(store, 2, "exec:sz file");
    EXPECT_EQ(store.readString("software\\brunmo\\zelvo32\\ports", "COM2"), "exec:sz file");
    EXPECT_EQ(PortDevice(store, 2), "exec:sz file");
    EXPECT_EQ(PortDevice(store, 3), "/dev/ttyS2");
    SetPortDevice(store, 2, "");
    EXPECT_EQ(PortDevice(store, 2), "/dev/ttyS1");
}

TEST(PortTable, LocalShell)
{
    const char* old = std::getenv("SHELL");
    const std::string saved = old ? old : "";
    ::setenv("SHELL", "/bin/it's", 1);
    EXPECT_EQ(LocalShellDevice(), "exec:exec '/bin/it'\\''s' -i");
    ::unsetenv("SHELL");
    EXPECT_EQ(LocalShellDevice(), "exec:exec '/bin/sh' -i");
    if (old)
        ::setenv("SHELL", saved.c_str(), 1);
}

TEST(PortTable, ChoiceTexts)
{
    EXPECT_EQ(PortChoiceText(5, "/dev/ttyUSB0"), "COM5 (/dev/ttyUSB0)");
    EXPECT_EQ(PortChoiceNumber("COM5 (/dev/ttyUSB0)"), 5);
    EXPECT_EQ(PortChoiceNumber("COM50"), 50);
    EXPECT_EQ(PortChoiceNumber("COM51"), 0);
    EXPECT_EQ(PortChoiceNumber("COMx"), 0);
    EXPECT_EQ(PortChoiceNumber("CO"), 0);
}

TEST(PortTable, AvailablePortsIncludePortsInUse)
{
    EventLoopBridge ui;
    PtyPair a, b;
    RegistryStore store("/nonexistent/zelvo-test-registry.reg");
    for (int n = 1; n <= MaxComNumber; ++n)
        SetPortDevice(store, n, "/dev/zelvo-no-such-port");
    SetPortDevice(store, 12, a.slaveName);
    SetPortDevice(store, 40, b.slaveName);
    SetPortDevice(store, 45, "exec:/bin/sh");
    ComPort busy(ui);
    busy.setRegistryStore(&store);
    busy.setComNumber(40);
    busy.setOpen(true);
    EXPECT_EQ(ProbePortDevice(b.slaveName), ecAccessDenied);
    EXPECT_EQ(AvailablePorts(store), (std::vector<int>{12, 40, 45}));
}


// A fake device tree: a USB adapter (ttyUSB0, with a by-id link), a built-in UART behind
// the serial core's port device (ttyS0) and a node sysfs knows nothing of.
class FakeDeviceTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = fs::temp_directory_path() / ("zelvo-devtree-" + std::to_string(::getpid()));
        fs::remove_all(root);
        const fs::path usb = root / "sys/devices/pci0000:00/usb1/1-1";
        fs::create_directories(usb / "1-1:1.0/ttyUSB0");
        put(usb / "idVendor", "0403\n");
        put(usb / "idProduct", "6001\n");
        put(usb / "manufacturer", "FTDI\n");
        put(usb / "product", "FTDI FT232R USB UART\n");
        put(usb / "serial", "A50\x1b[2J285BI  \n"); // what a device says is not trusted
        fs::create_directories(root / "sys/bus/usb-serial/drivers/ftdi_sio");
        fs::create_directory_symlink("../../../../../../bus/usb-serial/drivers/ftdi_sio",
                                     usb / "1-1:1.0/ttyUSB0/driver");
        // The serial core puts a controller and a port device of its own below the UART.
        const fs::path uart = root / "sys/devices/platform/serial8250";
        fs::create_directories(uart / "serial8250:0/serial8250:0.0");
        fs::create_directories(root / "sys/bus/platform/drivers/serial8250");
        fs::create_directories(root / "sys/bus/serial-base/drivers/port");
        fs::create_directories(root / "sys/bus/serial-base/drivers/ctrl");
        fs::create_directory_symlink("../../../bus/platform/drivers/serial8250", uart / "driver");
        fs::create_directory_symlink("../../../../bus/serial-base/drivers/ctrl", uart / "serial8250:0/driver");
        fs::create_directory_symlink("../../../../../bus/serial-base/drivers/port",
                                     uart / "serial8250:0/serial8250:0.0/driver");
        fs::create_directories(root / "sys/class/tty/ttyUSB0");
        fs::create_directories(root / "sys/class/tty/ttyS0");
        fs::create_directory_symlink("../../../devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0",
                                     root / "sys/class/tty/ttyUSB0/device");
        fs::create_directory_symlink("../../../devices/platform/serial8250/serial8250:0/serial8250:0.0",
                                     root / "sys/class/tty/ttyS0/device");
        fs::create_directories(root / "dev/serial/by-id");
        for (const char* n : {"ttyUSB0", "ttyS0", "ttyX9"})
            put(root / "dev" / n, "");
        fs::create_symlink("../../ttyUSB0", root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        roots = {(root / "sys").string(), (root / "dev/serial/by-id").string()};
    }
    void TearDown() override { fs::remove_all(root); }
    static void put(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }

    fs::path root;
    DeviceTreeRoots roots;
};

TEST_F(FakeDeviceTree, DescribesAdaptersUartsAndUnknownNodes)
{
    const std::string byId = (root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0").string();
    SerialDeviceInfo usb = DescribeSerialDevice((root / "dev/ttyUSB0").string(), roots);
    EXPECT_EQ(usb.byIdPath, byId);
    EXPECT_EQ(usb.vendorId, "0403");
    EXPECT_EQ(usb.productId, "6001");
    EXPECT_EQ(usb.serial, "A50[2J285BI");
    EXPECT_EQ(usb.driver, "ftdi_sio");
    EXPECT_EQ(usb.Summary(), "FTDI FT232R USB UART, serial A50[2J285BI (0403:6001, ftdi_sio)");
    // Named through its by-id link, it is the same device.
    EXPECT_EQ(DescribeSerialDevice(byId, roots).Summary(), usb.Summary());
    SerialDeviceInfo uart = DescribeSerialDevice((root / "dev/ttyS0").string(), roots);
    EXPECT_EQ(uart.driver, "serial8250");
    EXPECT_TRUE(uart.byIdPath.empty());
    EXPECT_EQ(uart.Summary(), "(serial8250)");
    EXPECT_TRUE(DescribeSerialDevice((root / "dev/ttyX9").string(), roots).empty());
    EXPECT_TRUE(DescribeSerialDevice((root / "dev/ttyGone").string(), roots).empty());
    EXPECT_EQ(DescribeSerialDevice("exec:/bin/sh", roots).Summary(), "");
}

} // namespace
