#include "test_home.h"
#include "app/session_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace zelvo::app;
using zelvo::platform::RegistryStore;
namespace fs = std::filesystem;

namespace {

// Every test runs with its own configuration directory, as the program would.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = zelvo::app::testing::testConfigHome("zelvo-app-settings");
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string port(std::string_view session = kDefaultSession)
    {
        return GroupKey(session, "Port");
    }

    fs::path dir_;
};

SessionSettings changed()
{
    SessionSettings s;
    s.port.ComNumber = 7;
    s.port.Baud = 115200;
    s.port.StopBits = 2;
    s.port.Parity = 2;
    s.port.hwfUseRTS = true;
    s.port.hwfRequireCTS = true;
    s.port.SWFlowOptions = 3;
    s.port.XOnChar = 1;
    s.port.XOffChar = 2;
    s.protocol.ProtocolType = 7;
    s.protocol.ZmodemRecover = true;
    s.protocol.ZmodemAutoStart = true;
    s.protocol.ZmodemFileOption = 6;
    s.protocol.KermitMaxLen = 94;
    s.protocol.AsciiEOFTimeout = 100;
    s.protocol.SendFile = "/home/u/a \"b\" \\c.bin";
    s.protocol.BatchPath = "/tmp/in";
    s.emulator.EmulatorType = 3;
    s.emulator.Keyboard = "VT100";
    s.window.FontName = "DejaVu Sans Mono";
    s.window.FontHeight = -20;
    s.window.FontColor = 0x00FF00;
    s.window.LED = true;
    s.window.Status = false;
    s.window.Left = 12;
    s.window.Top = -300;
    s.script.Dial = "555-1234";
    s.script.Path = "/scripts";
    s.script.Scripts = {"/scripts/a.vm", "/scripts/b.vm"};
    s.emulator.Timestamps = 2;
    s.emulator.HexView = true;
    s.emulator.EnterSends = 2;
    s.emulator.LFImpliesCR = true;
    s.script.Macros[0] = {"Reset", "AT&F\\r"};
    s.script.Macros[11] = {"", "\\x03"};
    return s;
}

} // namespace

TEST_F(SettingsTest, FirstStartKeepsTheDesignDefaults)
{
    RegistryStore store;
    ASSERT_TRUE(store.load());
    SessionSettings s;
    ReadReport r = ReadRegistry(store, kDefaultSession, s);
    EXPECT_FALSE(r.rootFound);
    EXPECT_EQ(s, SessionSettings{});
    EXPECT_EQ(s.port.ComNumber, 0u);
    EXPECT_EQ(s.port.Baud, 57600u);
    EXPECT_TRUE(s.port.isDirect());
    EXPECT_EQ(s.protocol.ZmodemFileOption, 4u);
    EXPECT_EQ(s.window.FontHeight, -18);
    EXPECT_EQ(s.window.FontColor, 0xC0C0C0u);
    EXPECT_TRUE(ReadSessions(store).empty());
    // The session list is not written before the root exists; the first exit writes the
    // default session first, which creates it.
    WriteSessions(store, {"x"});
    EXPECT_FALSE(store.keyExists(kSessionsKey));
    WriteRegistry(store, kDefaultSession, s);
    WriteSessions(store, {});
    EXPECT_EQ(store.readDword(kSessionsKey, "Count"), 0u);
}

TEST_F(SettingsTest, WindowValuesAddedLaterAreOptional)
{
    RegistryStore store;
    SessionSettings a = changed();
    a.window.CaptureCrLf = true;
    a.window.HistoryRows = 600;
    WriteRegistry(store, kDefaultSession, a);
    SessionSettings back;
    ReadRegistry(store, kDefaultSession, back);
    EXPECT_TRUE(back.window.CaptureCrLf);
    EXPECT_EQ(back.window.HistoryRows, 600u);
    // A store from before them reads completely and keeps the defaults.
    ASSERT_TRUE(store.deleteValue(GroupKey(kDefaultSession, "window"), "CaptureCRLF"));
    ASSERT_TRUE(store.deleteValue(GroupKey(kDefaultSession, "window"), "HistoryRows"));
    SessionSettings old;
    ReadReport r = ReadRegistry(store, kDefaultSession, old);
    EXPECT_EQ(r.window, GroupRead::Complete);
    EXPECT_TRUE(r.stoppedAt.empty());
    EXPECT_FALSE(old.window.CaptureCrLf);
    EXPECT_EQ(old.window.HistoryRows, 175u);
    EXPECT_EQ(old.window.Top, a.window.Top);
}

TEST_F(SettingsTest, XtermEmulationAndTheVisualBell)
{
    // A first start takes the xterm emulation; what a store holds stays.
    RegistryStore empty;
    SessionSettings first;
    ApplyFirstStartDefaults(ReadRegistry(empty, kDefaultSession, first), first);
    EXPECT_EQ(first.emulator.EmulatorType, 5u);
    RegistryStore store;
    SessionSettings ansi;
    ansi.emulator.VisualBell = true;
    WriteRegistry(store, kDefaultSession, ansi);
    SessionSettings read;
    ApplyFirstStartDefaults(ReadRegistry(store, kDefaultSession, read), read);
    EXPECT_EQ(read.emulator.EmulatorType, 1u);
    EXPECT_TRUE(read.emulator.VisualBell);
    // Type 5 is stored and read like the others; numbers beyond it are skipped.
    store.writeDword(GroupKey(kDefaultSession, "Emulator"), "Type", 5);
    EXPECT_EQ(ReadRegistry(store, kDefaultSession, read).emulator, GroupRead::Complete);
    EXPECT_EQ(read.emulator.EmulatorType, 5u);
    store.writeDword(GroupKey(kDefaultSession, "Emulator"), "Type", 6);
    ReadRegistry(store, kDefaultSession, read);
    EXPECT_EQ(read.emulator.EmulatorType, 5u);
    // A store from before the bell setting reads completely and keeps the current choice.
    store.deleteValue(GroupKey(kDefaultSession, "Emulator"), "VisualBell");
    read.emulator.VisualBell = false;
    EXPECT_EQ(ReadRegistry(store, kDefaultSession, read).emulator, GroupRead::Complete);
    EXPECT_FALSE(read.emulator.VisualBell);
}

TEST_F(SettingsTest, SessionsSurviveASaveAndAReload)
{
    SessionSettings a = changed();
    SessionSettings b;
    b.port.ComNumber = 3;
    {
        RegistryStore store;
        ASSERT_TRUE(store.load());
        WriteRegistry(store, kDefaultSession, a);
        WriteRegistry(store, SessionPath("lab\\board 2"), b);
        WriteSessions(store, {"lab\\board 2", "", "office"});
        ASSERT_TRUE(store.save());
    }
    RegistryStore store;
    ASSERT_TRUE(store.load());
    SessionSettings ra;
    ReadReport r = ReadRegistry(store, kDefaultSession, ra);
    EXPECT_TRUE(r.stoppedAt.empty());
    EXPECT_EQ(r.port, GroupRead::Complete);
    EXPECT_EQ(r.script, GroupRead::Complete);
    EXPECT_EQ(ra, a);
    // A name with a backslash makes a deeper key and is found again by the same name,
    // whatever the case of the letters.
    EXPECT_TRUE(store.keyExists("software\\brunmo\\zelvo32\\sessions\\lab\\board 2\\Port"));
    SessionSettings rb;
    ReadRegistry(store, SessionPath("LAB\\Board 2"), rb);
    EXPECT_EQ(rb, b);
    EXPECT_EQ(ReadSessions(store), (std::vector<std::string>{"lab\\board 2", "", "office"}));
}

TEST_F(SettingsTest, MissingValueEndsOnlyItsGroup)
{
    RegistryStore store;
    std::string k = port();
    store.writeDword(k, "Mode", 3);
    store.writeDword(k, "Port", 4);
    store.writeDword(k, "Baud", 9600);
    // No "Stop": parity, flow and the rest keep what they were.
    store.writeDword(k, "Parity", 2);
    store.writeDword(k, "CTS", 1);
    store.writeDword(GroupKey(kDefaultSession, "Emulator"), "Type", 0);
    store.writeDword(GroupKey(kDefaultSession, "window"), "Size", 10);
    store.writeString(GroupKey(kDefaultSession, "window"), "Name", "Mono");
    SessionSettings s;
    s.port.Parity = 1;
    s.port.StopBits = 2;
    ReadReport r = ReadRegistry(store, kDefaultSession, s);
    EXPECT_EQ(r.port, GroupRead::Stopped);
    EXPECT_EQ(s.port.ComNumber, 4u);
    EXPECT_EQ(s.port.Baud, 9600u);
    EXPECT_EQ(s.port.StopBits, 2u);
    EXPECT_EQ(s.port.Parity, 1u);
    EXPECT_FALSE(s.port.hwfRequireCTS);
    EXPECT_EQ(r.protocol, GroupRead::Absent);
    // Later groups are still read; the window group stops at the missing "Pitch" after
    // name and size were taken.
    EXPECT_EQ(r.emulator, GroupRead::Complete);
    EXPECT_EQ(s.emulator.EmulatorType, 0u);
    EXPECT_EQ(s.emulator.Keyboard, "");
    EXPECT_EQ(r.window, GroupRead::Stopped);
    EXPECT_EQ(s.window.FontName, "Mono");
    EXPECT_EQ(s.window.FontSize, 10);
    EXPECT_EQ(s.window.FontHeight, -18);
    EXPECT_EQ(r.stoppedAt, (std::vector<std::string>{"Port\\Stop", "window\\Pitch"}));
}

TEST_F(SettingsTest, ReconnectIsOnInOlderStoresAndKeptWhereWritten)
{
    RegistryStore store;
    std::string k = port();
    for (const char* v : {"Mode", "Port", "Baud", "Stop", "Parity", "DTR", "RTS", "DSR", "CTS", "SFLOW", "Xon", "Xoff"})
        store.writeDword(k, v, std::string_view(v) == "Mode" ? 3 : 1);
    SessionSettings s;
    s.port.Reconnect = false;
    ReadReport r = ReadRegistry(store, kDefaultSession, s);
    EXPECT_EQ(r.port, GroupRead::Complete); // an older store: nothing is missing
    EXPECT_FALSE(s.port.Reconnect) << "kept as it was";
    SessionSettings fresh;
    ReadRegistry(store, kDefaultSession, fresh);
    EXPECT_TRUE(fresh.port.Reconnect);
    fresh.port.Reconnect = false;
    WriteRegistry(store, kDefaultSession, fresh);
    SessionSettings back;
    ReadRegistry(store, kDefaultSession, back);
    EXPECT_EQ(back, fresh);
    // Written as a string by hand: ignored, the rest of the group is still read.
    store.writeString(k, "Reconnect", "no");
    back = SessionSettings();
    EXPECT_EQ(ReadRegistry(store, kDefaultSession, back).port, GroupRead::Complete);
    EXPECT_TRUE(back.port.Reconnect);
}

TEST_F(SettingsTest, ValueOfTheWrongTypeIsAFailureButAMissingStringIsNot)
{
    RegistryStore store;
    std::string k = GroupKey(kDefaultSession, "Protocol");
    SessionSettings ref = changed();
    WriteRegistry(store, kDefaultSession, ref);
    store.deleteValue(k, "SendFile");
    store.writeString(k, "WriteFail", "3");
    SessionSettings s;
    ReadReport r = ReadRegistry(store, kDefaultSession, s);
    EXPECT_EQ(r.protocol, GroupRead::Stopped);
    EXPECT_TRUE(s.protocol.AbortNoCarrier == ref.protocol.AbortNoCarrier);
    EXPECT_EQ(s.protocol.WriteFailAction, 2u);
    EXPECT_EQ(s.protocol.KermitMaxLen, 80u);
    EXPECT_EQ(s.protocol.BatchPath, "");

    store.writeDword(k, "WriteFail", 3);
    s = SessionSettings{};
    s.protocol.SendFile = "old";
    r = ReadRegistry(store, kDefaultSession, s);
    EXPECT_EQ(r.protocol, GroupRead::Complete);
    EXPECT_EQ(s.protocol.SendFile, "");
    EXPECT_EQ(s.protocol.BatchPath, "/tmp/in");

    store.writeDword(k, "BatchPath", 5);
    r = ReadRegistry(store, kDefaultSession, s);
    EXPECT_EQ(r.protocol, GroupRead::Stopped);
}

TEST_F(SettingsTest, HandEditedOutOfRangeValuesAreSkipped)
{
    RegistryStore store;
    WriteRegistry(store, kDefaultSession, SessionSettings{});
    std::string k = port();
    store.writeDword(k, "Parity", 9);
    store.writeDword(k, "Port", 4000);
    store.writeDword(k, "Baud", 0);
    store.writeDword(k, "Xoff", 300);
    store.writeDword(k, "Xon", 5);
    store.writeDword(GroupKey(kDefaultSession, "window"), "Height", 0);
    store.writeDword(GroupKey(kDefaultSession, "window"), "Top", 0xFFFFFF38); // -200
    store.writeDword(GroupKey(kDefaultSession, "Emulator"), "Type", 77);
    SessionSettings s;
    ReadReport r = ReadRegistry(store, kDefaultSession, s);
    EXPECT_EQ(r.port, GroupRead::Complete);
    EXPECT_EQ(s.port.Parity, 0u);
    EXPECT_EQ(s.port.ComNumber, 0u);
    EXPECT_EQ(s.port.Baud, 57600u);
    EXPECT_EQ(s.port.XOffChar, 19u);
    EXPECT_EQ(s.port.XOnChar, 5u);
    EXPECT_EQ(s.window.FontHeight, -18);
    EXPECT_EQ(s.window.Top, -200);
    EXPECT_EQ(s.emulator.EmulatorType, 1u);
}

TEST_F(SettingsTest, TelephonyModeReadsTheDeviceAndKeepsTheDirectValuesForTheNextWrite)
{
    RegistryStore store;
    SessionSettings stored = changed();
    WriteRegistry(store, kDefaultSession, stored);
    EXPECT_FALSE(store.readString(port(), "Device").has_value());
    store.writeDword(port(), "Mode", 1);
    store.writeString(port(), "Device", "Modem on ttyUSB0");

    SessionSettings s;
    ReadReport r = ReadRegistry(store, kDefaultSession, s);
    EXPECT_EQ(r.port, GroupRead::Complete);
    EXPECT_FALSE(s.port.isDirect());
    EXPECT_EQ(s.port.TapiMode, 1u);
    EXPECT_EQ(s.port.Device, "Modem on ttyUSB0");

    RegistryStore again;
    WriteRegistry(again, kDefaultSession, s);
    for (const char* v : {"Port", "Baud", "Stop", "Parity", "DTR", "RTS", "DSR", "CTS", "SFLOW", "Xon", "Xoff"})
        EXPECT_EQ(again.readDword(port(), v), store.readDword(port(), v)) << v;
    EXPECT_EQ(again.readString(port(), "Device"), "Modem on ttyUSB0");
    // "Mode" is written first, then the device, then the direct values.
    auto names = again.valueNames(port());
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[0], "Mode");
    EXPECT_EQ(names[1], "Device");
    EXPECT_EQ(names[2], "Port");
}

TEST_F(SettingsTest, ProtocolValuesAreWrittenInTheirOrder)
{
    RegistryStore store;
    WriteRegistry(store, kDefaultSession, changed());
    auto names = store.valueNames(GroupKey(kDefaultSession, "Protocol"));
    std::vector<std::string> want = {"Type", "zOver", "SkipFile", "zRecov", "z8K", "zAuto",
                                     "zFileMgm", "HDir", "InclDir", "RTSLow", "AbrtNoCar",
                                     "WriteFail", "BlockLen", "Windows", "Timeout",
                                     "InterCharDelay", "InterLineDelay", "CRTrans", "LFTrans",
                                     "EOFTimeout", "SendFile", "ReceiveFile", "BatchPath"};
    EXPECT_EQ(names, want);
    EXPECT_EQ(store.valueNames(GroupKey(kDefaultSession, "window")),
              (std::vector<std::string>{"Name", "Size", "Pitch", "Color", "Height", "LED", "Status",
                                        "Left", "Top", "CaptureCRLF", "HistoryRows"}));
    EXPECT_EQ(store.readDword(GroupKey(kDefaultSession, "window"), "Top"), 0xFFFFFED4u);
}

TEST_F(SettingsTest, SessionListCountsFromAHandEditedStore)
{
    RegistryStore store;
    WriteRegistry(store, kDefaultSession, SessionSettings{});
    std::string k(kSessionsKey);
    store.writeDword(k, "Count", 3);
    store.writeString(k, "S0", "a");
    store.writeString(k, "S1", "b");
    store.writeString(k, "S7", "left over");
    EXPECT_EQ(ReadSessions(store), (std::vector<std::string>{"a", "b", ""}));

    // A count that no list can have reads only the names that are there.
    store.writeDword(k, "Count", 0x7FFFFFFF);
    EXPECT_EQ(ReadSessions(store), (std::vector<std::string>{"a", "b", "", "", "", "", "", "left over"}));
    // A count that reads as negative gives no entries.
    store.writeDword(k, "Count", 0xFFFFFFFF);
    EXPECT_TRUE(ReadSessions(store).empty());
    // A name stored as a number ends the list there.
    store.writeDword(k, "Count", 3);
    store.writeDword(k, "S1", 12);
    EXPECT_EQ(ReadSessions(store), (std::vector<std::string>{"a"}));
    store.deleteValue(k, "Count");
    EXPECT_TRUE(ReadSessions(store).empty());
}

TEST_F(SettingsTest, ScriptMenuIsReplacedFromTheStore)
{
    RegistryStore store;
    std::string k = GroupKey(kDefaultSession, "Script");
    store.writeString(k, "Dial", "12");
    store.writeDword(k, "Count", 3);
    store.writeString(k, "Script0", "/a.vm");
    store.writeString(k, "Script2", "/c.vm");
    SessionSettings s;
    s.script.Scripts = {"/old.vm"};
    ReadRegistry(store, kDefaultSession, s);
    EXPECT_EQ(s.script.Dial, "12");
    EXPECT_EQ(s.script.Scripts, (std::vector<std::string>{"/a.vm", "/c.vm"}));
    // Without a count the list is left as it was.
    store.deleteValue(k, "Count");
    s.script.Scripts = {"/old.vm"};
    ReadRegistry(store, kDefaultSession, s);
    EXPECT_EQ(s.script.Scripts, (std::vector<std::string>{"/old.vm"}));
}

TEST_F(SettingsTest, AddedValuesOfAnOlderStoreReadAsBefore)
{
    RegistryStore store;
    const std::string emu = GroupKey(kDefaultSession, "Emulator");
    const std::string script = GroupKey(kDefaultSession, "Script");
    // An older store: the groups without the added values.
    store.writeDword(emu, "Type", 3);
    store.writeDword(script, "Count", 0);
    SessionSettings s;
    s.emulator.Timestamps = 1;
    s.emulator.EnterSends = 1;
    ReadRegistry(store, kDefaultSession, s);
    EXPECT_EQ(s.emulator.Timestamps, 1u) << "absent added values keep what is in force";
    EXPECT_EQ(s.emulator.EnterSends, 1u);
    EXPECT_FALSE(s.emulator.HexView);

    // They are read even when the group's own values stop early, and hand-edited values
    // out of range are skipped.
    store.deleteValue(emu, "Type");
    store.writeDword(emu, "Timestamps", 2);
    store.writeDword(emu, "EnterSends", 7);
    store.writeDword(emu, "LFImpliesCR", 1);
    store.writeString(emu, "HexView", "yes");
    ReadReport r = ReadRegistry(store, kDefaultSession, s);
    EXPECT_EQ(r.emulator, GroupRead::Stopped);
    EXPECT_EQ(s.emulator.Timestamps, 2u);
    EXPECT_EQ(s.emulator.EnterSends, 1u);
    EXPECT_TRUE(s.emulator.LFImpliesCR);
    EXPECT_FALSE(s.emulator.HexView);

    // A session's Script group replaces all macros: those it lacks are empty, so a
    // session never shows the macros of the one before.
    s.script.Macros[3] = {"Old", "old\\r"};
    store.writeString(script, "Macro2", "ls\\r");
    store.writeString(script, "MacroName2", "List");
    store.writeDword(script, "Macro5", 9);
    ReadRegistry(store, kDefaultSession, s);
    EXPECT_EQ(s.script.Macros[1], (SendMacro{"List", "ls\\r"}));
    EXPECT_TRUE(s.script.Macros[3].empty());
    EXPECT_TRUE(s.script.Macros[4].empty()) << "a macro stored as a number is no text";

    // Macros that were cleared leave no values behind.
    s.script.Macros[1] = {};
    WriteRegistry(store, kDefaultSession, s);
    EXPECT_FALSE(store.readValue(script, "Macro2"));
    EXPECT_FALSE(store.readValue(script, "MacroName2"));
}

TEST_F(SettingsTest, TextsTheStoreCannotHoldAreLeftOutAndTheFileStaysReadable)
{
    SessionSettings s = changed();
    s.protocol.SendFile = "/tmp/evil\nname";
    s.script.Scripts = {"/a.vm", "/b\r\n.vm", "/c.vm"};
    s.window.FontName = std::string(300, 'F');
    {
        RegistryStore store;
        store.writeString(GroupKey(kDefaultSession, "Protocol"), "SendFile", "/previous");
        WriteRegistry(store, kDefaultSession, s);
        WriteSessions(store, {"ok", "bad\nname"});
        ASSERT_TRUE(store.save());
    }
    RegistryStore store;
    ASSERT_TRUE(store.load());
    SessionSettings r;
    ReadRegistry(store, kDefaultSession, r);
    EXPECT_EQ(r.protocol.SendFile, "/previous");
    EXPECT_EQ(r.script.Scripts, (std::vector<std::string>{"/a.vm", "/c.vm"}));
    EXPECT_EQ(r.window.FontName, std::string(255, 'F'));
    EXPECT_EQ(ReadSessions(store), (std::vector<std::string>{"ok"}));
}

TEST_F(SettingsTest, DamagedStoreStartsOnDefaultsAndIsKeptAside)
{
    std::string path = RegistryStore::defaultPath();
    fs::create_directories(fs::path(path).parent_path());
    const std::string junk = "[software\\brunmo\\zelvo32\\default\\Port\n\"Mode\"=dword:zz\n";
    std::ofstream(path) << junk;
    RegistryStore store;
    EXPECT_FALSE(store.load());
    SessionSettings s;
    EXPECT_FALSE(ReadRegistry(store, kDefaultSession, s).rootFound);
    EXPECT_EQ(s, SessionSettings{});
    WriteRegistry(store, kDefaultSession, s);
    WriteSessions(store, {});
    ASSERT_TRUE(store.save());
    std::stringstream bad;
    bad << std::ifstream(path + ".bad").rdbuf();
    EXPECT_EQ(bad.str(), junk);
    RegistryStore again;
    EXPECT_TRUE(again.load());
    EXPECT_TRUE(again.keyExists(port()));
}

TEST(SessionNames, WhatMayNameASession)
{
    EXPECT_TRUE(IsValidSessionName("office"));
    EXPECT_TRUE(IsValidSessionName("lab\\board"));
    EXPECT_TRUE(IsValidSessionName("R&D 2"));
    EXPECT_FALSE(IsValidSessionName(""));
    EXPECT_FALSE(IsValidSessionName("  "));
    EXPECT_FALSE(IsValidSessionName("\\\\"));
    EXPECT_FALSE(IsValidSessionName("a\nb"));
    EXPECT_FALSE(IsValidSessionName(std::string("a\0b", 3)));
    EXPECT_TRUE(SameSession("Office", "office"));
    EXPECT_TRUE(SameSession("a\\\\b\\", "A\\b"));
    EXPECT_FALSE(SameSession("ab", "a\\b"));
    EXPECT_EQ(SessionPath("x"), "sessions\\x");
    EXPECT_EQ(GroupKey(SessionPath("x"), "Port"), "software\\brunmo\\zelvo32\\sessions\\x\\Port");
}
