// Reconnecting a line whose device goes away and comes back: pseudo-terminals stand in
// for the adapters, symbolic links for their device nodes and by-id names.

#include "comm/com_port.h"
#include "comm/device_identity.h"
#include "comm/event_loop_bridge.h"
#include "comm/port_table.h"
#include "comm/reconnector.h"
#include "platform/device_watcher.h"
#include "platform/registry_store.h"
#include "pty_pair.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <filesystem>
#include <memory>

using namespace zelvo::comm;
using zelvo::comm::test::PtyPair;
using zelvo::comm::test::waitUntil;
using zelvo::platform::DeviceWatcher;
using zelvo::platform::RegistryStore;
namespace fs = std::filesystem;

namespace {

class ReconnectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("zelvo-reconnect-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir / "by-id");
        port.setRegistryStore(&store);
        port.setAutoOpen(false);
    }
    void TearDown() override { fs::remove_all(dir); }

    // The adapter is plugged in: a new pseudo-terminal behind the given links.
    std::unique_ptr<PtyPair> plug(std::initializer_list<fs::path> links)
    {
        auto pty = std::make_unique<PtyPair>();
        for (const auto& l : links) {
            fs::remove(l);
            fs::create_symlink(pty->slaveName, l);
        }
        return pty;
    }
    // It is pulled out: the far end hangs up and its nodes go.
    void unplug(std::unique_ptr<PtyPair>& pty, std::initializer_list<fs::path> links)
    {
        pty.reset();
        for (const auto& l : links)
            fs::remove(l);
    }
    // Waits as the program does: for the watcher, at most a check interval at a time.
    bool waitForReconnect(Reconnector& r, DeviceWatcher& w, int timeoutMs = 10000)
    {
        return waitUntil(
            [&] {
                pollfd p{w.fd(), POLLIN, 0};
                ::poll(&p, 1, Reconnector::CheckIntervalMs);
                w.readEvents();
                r.Check();
                return !r.Waiting();
            },
            timeoutMs);
    }
    // The line hung up as an unplugged adapter does; the owner closes the port.
    void lose()
    {
        ASSERT_TRUE(waitUntil([&] { return port.Dispatcher() && port.Dispatcher()->LineHungUp(); }));
        port.setOpen(false);
    }
    std::string received(int timeoutMs = 5000)
    {
        std::string got;
        waitUntil(
            [&] {
                uint8_t b[64];
                got.append(reinterpret_cast<char*>(b), port.Open() ? port.GetBlock(b, sizeof b) : 0);
                return !got.empty();
            },
            timeoutMs);
        return got;
    }

    fs::path dir;
    EventLoopBridge ui;
    RegistryStore store{"/nonexistent/zelvo-test-registry.reg"};
    ComPort port{ui};
    std::vector<std::string> shown;
    int reopens = 0;
    Reconnector reconnector{{
        .show = [this](const std::string& l) { shown.push_back(l); },
        .reopen =
            [this](const std::string& path) {
                ++reopens;
                port.setDeviceOverride(path);
                try {
                    port.setOpen(true);
                } catch (const EQarnException&) {
                    return false;
                }
                return port.Open();
            },
        .reconnected = nullptr,
    }};
};

TEST_F(ReconnectTest, ADeviceThatComesBackUnderItsPathIsReopened)
{
    const fs::path node = dir / "ttyUSB0";
    auto adapter = plug({node});
    SetPortDevice(store, 5, node.string());
    port.setComNumber(5);
    port.setOpen(true);
    const DeviceIdentity id = IdentifyDevice(port.DeviceName(), (dir / "by-id").string());
    EXPECT_EQ(id.path, node.string());
    EXPECT_TRUE(id.byIdPath.empty());

    unplug(adapter, {node});
    lose();
    ASSERT_TRUE(reconnector.LineLost(id));
    EXPECT_EQ(shown, (std::vector<std::string>{"[disconnected]"}));
    DeviceWatcher watcher;
    watcher.setDirectories(reconnector.WatchDirectories());
    reconnector.Check(); // nothing there yet: nothing is tried
    EXPECT_TRUE(reconnector.Waiting());
    EXPECT_EQ(reopens, 0);

    adapter = plug({node});
    ASSERT_TRUE(waitForReconnect(reconnector, watcher));
    EXPECT_EQ(shown, (std::vector<std::string>{"[disconnected]", "[reconnected]"}));
    ASSERT_TRUE(port.Open());
    adapter->send("back");
    EXPECT_EQ(received(), "back");
}

TEST_F(ReconnectTest, ARenumberedAdapterIsFoundByItsByIdName)
{
    const fs::path byId = dir / "by-id" / "usb-Maker_Adapter_0001-if00-port0";
    auto adapter = plug({dir / "ttyUSB0", byId});
    SetPortDevice(store, 5, (dir / "ttyUSB0").string());
    port.setComNumber(5);
    port.setOpen(true);
    const DeviceIdentity id = IdentifyDevice(port.DeviceName(), (dir / "by-id").string());
    EXPECT_EQ(id.byIdPath, byId.string());

    unplug(adapter, {dir / "ttyUSB0", byId});
    lose();
    ASSERT_TRUE(reconnector.LineLost(id));
    DeviceWatcher watcher;
    // The by-id directory goes with the last adapter and is watched for until it is back.
    fs::remove(dir / "by-id");
    watcher.setDirectories(reconnector.WatchDirectories());
    // Another device takes the old name first: it is not the adapter.
    auto other = plug({dir / "ttyUSB0"});
    reconnector.Check();
    EXPECT_TRUE(reconnector.Waiting());
    fs::create_directories(dir / "by-id");
    adapter = plug({dir / "ttyUSB1", byId});
    ASSERT_TRUE(waitForReconnect(reconnector, watcher));
    EXPECT_EQ(port.DeviceName(), byId.string());
    adapter->send("mine");
    other->send("not mine");
    EXPECT_EQ(received(), "mine");
}

TEST_F(ReconnectTest, ExecLinesAreNotReconnectedAndABusyDeviceIsTriedAgain)
{
    EXPECT_TRUE(IdentifyDevice("exec:/bin/sh").empty());
    EXPECT_FALSE(reconnector.LineLost(IdentifyDevice("exec:/bin/sh")));
    EXPECT_TRUE(shown.empty());

    const fs::path node = dir / "ttyACM0";
    auto adapter = plug({node});
    SetPortDevice(store, 21, node.string());
    port.setComNumber(21);
    ASSERT_TRUE(reconnector.LineLost(IdentifyDevice(node.string())));
    // Back, but held by another program for a moment (as a modem prober does).
    ComPort prober{ui};
    prober.setRegistryStore(&store);
    prober.setAutoOpen(false);
    prober.setComNumber(21);
    prober.setOpen(true);
    reconnector.Check();
    EXPECT_TRUE(reconnector.Waiting());
    EXPECT_EQ(reopens, 1);
    prober.setOpen(false);
    reconnector.Check();
    EXPECT_FALSE(reconnector.Waiting());
    EXPECT_TRUE(port.Open());
}

} // namespace
