// Key map file, record store and keyboard translation.

#include "terminal/eini.h"
#include "terminal/ini_database.h"
#include "terminal/keyboard_emulator.h"
#include "terminal/private_profile.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace zelvo::terminal::test {
namespace {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/zelvo-kbd-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

int codeOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EINI& e) {
        return e.ErrorCode();
    }
    return 0;
}

KeyRecord key(int vk)
{
    KeyRecord k;
    k.virtualKey = vk;
    return k;
}

const std::string ESC = "\x1b";

TEST(TermPrivateProfileFormat, ReadsSectionsCaseInsensitivelyAndKeepsRawValues)
{
    PrivateProfile p;
    p.parse("; comment\r\n[Keys]\r\nKey1=38,14,\x1b[A\r\n  Key2 = x=y \r\nnot a line\r\n[other]\nA=1\n");
    EXPECT_EQ(p.read("keys", "KEY1").value(), "38,14,\x1b[A");
    EXPECT_EQ(p.read("Keys", "key2").value(), " x=y ") << "the value is kept as written";
    EXPECT_EQ(p.keys("Keys").size(), 2u);
    EXPECT_FALSE(p.read("Keys", "Key3").has_value());
    p.write("OTHER", "b", "2");
    p.removeKey("other", "a");
    EXPECT_EQ(p.serialize(), "[Keys]\nKey1=38,14,\x1b[A\nKey2= x=y \n\n[other]\nb=2\n");
}

TEST(TermPrivateProfileFormat, SaveAndLoadRoundTrip)
{
    TempDir dir;
    PrivateProfile p(dir.file("x.ini"));
    EXPECT_FALSE(p.load());
    p.write("S", "k", "v\x1b");
    ASSERT_TRUE(p.save());
    PrivateProfile q(dir.file("x.ini"));
    ASSERT_TRUE(q.load());
    EXPECT_EQ(q.read("s", "K").value(), "v\x1b");
    PrivateProfile bad(dir.file("no/dir/x.ini"));
    EXPECT_FALSE(bad.save());
}

TEST(TermIniDatabaseRules, NewFileHasEmptyIndexAndNoEntries)
{
    TempDir dir;
    IniDatabase db;
    EXPECT_EQ(codeOf([&] { db.numRecords(); }), ecIniNotPrepared);
    db.prepare(dir.file("db.ini"));
    EXPECT_TRUE(db.created());
    db.addField("NAME", 30, false, true);
    const std::string text = readFile(dir.file("db.ini"));
    EXPECT_NE(text.find("[Index]\n"), std::string::npos);
    EXPECT_NE(text.find("_Entries=0\n"), std::string::npos);
    EXPECT_NE(text.find("NAME=\n"), std::string::npos) << "field defaults written empty";
    EXPECT_EQ(db.numRecords(), 0);
    EXPECT_EQ(codeOf([&] { db.getRecord("x"); }), ecDatabaseEmpty);
}

TEST(TermIniDatabaseRules, RecordsAndTheirErrors)
{
    TempDir dir;
    IniDatabase db;
    db.prepare(dir.file("db.ini"));
    EXPECT_EQ(codeOf([&] { db.addRecord({{"NAME", "a"}}); }), ecNoFields);
    db.addField("VAL", 5);
    EXPECT_EQ(codeOf([&] { db.addRecord({{"VAL", "a"}}); }), ecNoIndex);
    db.addField("NAME", 30, false, true);
    EXPECT_EQ(codeOf([&] { db.addField(std::string(22, 'F'), 3); }), ecKeyTooLong);
    EXPECT_EQ(codeOf([&] { db.addField("NUM", 32, true); }), ecDataTooLong);

    db.addRecord({{"NAME", "one"}, {"VAL", "#"}});
    db.addRecord({{"NAME", "two"}, {"VAL", "12"}});
    EXPECT_EQ(codeOf([&] { db.addRecord({{"NAME", "ONE"}}); }), ecRecordExists);
    EXPECT_EQ(codeOf([&] { db.addRecord({{"NAME", "three"}, {"VAL", "123456"}}); }), ecDataTooLong);
    EXPECT_EQ(codeOf([&] { db.addRecord({{"NAME", "a]b"}}); }), ecKeyTooLong);
    EXPECT_EQ(codeOf([&] { db.addRecord({{"NAME", "Index"}}); }), ecRecordExists);
    EXPECT_EQ(db.numRecords(), 2);
    EXPECT_EQ(db.getRecord("one").at("VAL"), "") << "a stored # reads as empty";
    EXPECT_EQ(db.getRecord("TWO").at("VAL"), "12");
    EXPECT_EQ(codeOf([&] { db.getRecord("four"); }), ecRecNotFound);

    db.updateRecord("two", {{"NAME", "zwei"}, {"VAL", "2"}});
    EXPECT_EQ(db.recordNames(), (std::vector<std::string>{"one", "zwei"}));
    EXPECT_EQ(codeOf([&] { db.updateRecord("zwei", {{"NAME", "one"}}); }), ecRecordExists);
    db.deleteRecord("one");
    EXPECT_EQ(codeOf([&] { db.deleteRecord("one"); }), ecRecNotFound);
    EXPECT_EQ(db.numRecords(), 1);

    // A section without an index entry is not a record.
    IniDatabase again;
    writeFile(dir.file("db.ini"), readFile(dir.file("db.ini")) + "\n[ghost]\nNAME=ghost\n");
    again.prepare(dir.file("db.ini"));
    again.addField("NAME", 30, false, true);
    EXPECT_EQ(codeOf([&] { again.getRecord("ghost"); }), ecRecNotFound);
    EXPECT_EQ(again.getRecord("zwei").at("NAME"), "zwei");
}

TEST(TermIniDatabaseRules, LimitOf999Records)
{
    TempDir dir;
    std::string text = "[Index]\n";
    for (int i = 0; i < 999; ++i)
        text += "r" + std::to_string(i) + "=#\n";
    text += "[Defaults]\n_Entries=999\n";
    writeFile(dir.file("db.ini"), text);
    IniDatabase db;
    db.prepare(dir.file("db.ini"));
    db.addField("NAME", 30, false, true);
    EXPECT_EQ(codeOf([&] { db.addRecord({{"NAME", "more"}}); }), ecDatabaseFull);
}

TEST(TermIniDatabaseRules, UnreadableAndUnwritableFiles)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop root";
    TempDir dir;
    writeFile(dir.file("locked.ini"), "[Index]\n");
    fs::permissions(dir.file("locked.ini"), fs::perms::none);
    IniDatabase db;
    EXPECT_EQ(codeOf([&] { db.prepare(dir.file("locked.ini")); }), ecIniRead);
}

TEST(TermIniDatabaseRules, CreateInMissingDirectoryFails)
{
    IniDatabase db;
    EXPECT_EQ(codeOf([&] { db.prepare("/nonexistent-zelvo-dir/map.kbd"); }), ecIniWrite);
}

TEST(TermKeyboardMap, MissingMapIsCreatedAndTranslatesNothing)
{
    TempDir dir;
    KeyboardEmulator kbd;
    kbd.setMapFileName(dir.file("new.kbd"));
    kbd.setEnabled(true);
    EXPECT_TRUE(fs::exists(dir.file("new.kbd")));
    EXPECT_TRUE(kbd.recordNames().empty());
    EXPECT_EQ(kbd.EmulatorType(), "");
    KeyRecord k = key(vkUp);
    EXPECT_FALSE(kbd.translate(k, false, false, false));
    const std::string text = readFile(dir.file("new.kbd"));
    EXPECT_EQ(text.substr(0, 28), "[Index]\n\n[Defaults]\n_Entries");
}

TEST(TermKeyboardMap, EditorMappingForF1IsStoredRawAndSent)
{
    TempDir dir;
    KeyboardEmulator kbd;
    kbd.setMapFileName(dir.file("map.kbd"));
    kbd.setEnabled(true);
    kbd.newRecord();
    ASSERT_TRUE(kbd.setMapping(vkF1, 14, KeyboardEmulator::fromDisplay("<ESC>OP")));
    EXPECT_TRUE(kbd.modified());
    kbd.saveRecord("VT100");
    EXPECT_FALSE(kbd.modified());
    EXPECT_NE(readFile(dir.file("map.kbd")).find("Key1=112,14,\x1bOP\n"), std::string::npos);
    EXPECT_EQ(KeyboardEmulator::toDisplay(kbd.mapping(vkF1, 14)), "<ESC>OP");

    KeyboardEmulator other;
    other.setMapFileName(dir.file("map.kbd"));
    other.setEnabled(true);
    EXPECT_EQ(other.EmulatorType(), "VT100");
    KeyRecord f1 = key(vkF1);
    ASSERT_TRUE(other.translate(f1, false, false, false));
    EXPECT_EQ(f1.mapping, ESC + "OP");
    EXPECT_TRUE(f1.extended);
    KeyRecord shiftF1 = key(vkF1);
    EXPECT_FALSE(other.translate(shiftF1, false, false, true)) << "shift code 6 has no entry";
}

TEST(TermKeyboardMap, SaveRoundTripRenameAndDelete)
{
    TempDir dir;
    KeyboardEmulator kbd;
    kbd.setMapFileName(dir.file("map.kbd"));
    kbd.setEnabled(true);
    kbd.newRecord();
    kbd.setMapping(vkUp, 14, ESC + "[A");
    kbd.setMapping(vkUp, 12, ESC + "[1;5A");
    kbd.setMapping('A', 8, "ctrl-alt-a");
    kbd.saveRecord("First");
    kbd.newRecord();
    kbd.setMapping(vkDown, 14, ESC + "[B");
    kbd.saveRecord("Second");
    EXPECT_EQ(kbd.recordNames(), (std::vector<std::string>{"First", "Second"}));

    kbd.setEmulatorType("first");
    EXPECT_EQ(kbd.mapping(vkUp, 12), ESC + "[1;5A");
    EXPECT_EQ(kbd.mapping('A', 8), "ctrl-alt-a");
    EXPECT_EQ(kbd.mapping(vkDown, 14), "");
    kbd.setMapping(vkUp, 12, ""); // emptied entries leave the section
    kbd.saveRecord("Renamed");
    EXPECT_EQ(kbd.recordNames(), (std::vector<std::string>{"Second", "Renamed"}));
    EXPECT_EQ(readFile(dir.file("map.kbd")).find("[First]"), std::string::npos);
    EXPECT_EQ(readFile(dir.file("map.kbd")).find("1;5A"), std::string::npos);

    EXPECT_EQ(codeOf([&] { kbd.setEmulatorType("First"); }), ecRecNotFound);
    kbd.deleteRecord("Second");
    EXPECT_EQ(codeOf([&] { kbd.deleteRecord("Second"); }), ecRecNotFound);

    KeyboardEmulator reread;
    reread.setEmulatorType("Renamed");
    reread.setMapFileName(dir.file("map.kbd"));
    reread.setEnabled(true);
    EXPECT_EQ(reread.EmulatorType(), "Renamed");
    EXPECT_EQ(reread.mapping(vkUp, 14), ESC + "[A");
    EXPECT_EQ(reread.mapping('A', 8), "ctrl-alt-a");
}

TEST(TermKeyboardMap, LongValuesAreCutTo20)
{
    TempDir dir;
    KeyboardEmulator kbd;
    kbd.setMapFileName(dir.file("map.kbd"));
    kbd.setEnabled(true);
    kbd.newRecord();
    kbd.setMapping(vkF12, 12, "abcdefghijklmnopqrstuvwxyz");
    kbd.saveRecord("R");
    const std::string text = readFile(dir.file("map.kbd"));
    EXPECT_NE(text.find("Key1=123,12,abcdefghijklm\n"), std::string::npos);

    // A longer value written by hand is cut when it is read.
    writeFile(dir.file("hand.kbd"),
              "[Index]\nH=#\n[Defaults]\n_Entries=1\n[H]\nEMULATOR=H\nKey7=65,14,0123456789abcdefghij\n");
    KeyboardEmulator hand;
    hand.setMapFileName(dir.file("hand.kbd"));
    hand.setEnabled(true);
    EXPECT_EQ(hand.mapping('A', 14), "0123456789abcd");
}

TEST(TermKeyboardMap, MappingsThatCannotBeStoredAreRefused)
{
    TempDir dir;
    KeyboardEmulator kbd;
    kbd.setMapFileName(dir.file("map.kbd"));
    kbd.setEnabled(true);
    kbd.newRecord();
    kbd.setMapping(13, 14, "\r\n");
    EXPECT_EQ(codeOf([&] { kbd.saveRecord("R"); }), ecIniWrite);
    EXPECT_TRUE(kbd.recordNames().empty()) << "nothing half-written";
    EXPECT_EQ(codeOf([&] { kbd.saveRecord(std::string(31, 'n')); }), ecDataTooLong);
}

TEST(TermKeyboardMap, AllHundredSlotsAndNoMore)
{
    TempDir dir;
    KeyboardEmulator kbd;
    kbd.setMapFileName(dir.file("map.kbd"));
    kbd.setEnabled(true);
    kbd.newRecord();
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(kbd.setMapping(1 + i, 14, "x"));
    EXPECT_FALSE(kbd.setMapping(200, 14, "y"));
    EXPECT_TRUE(kbd.setMapping(50, 14, "reused"));
    kbd.saveRecord("Full");
    KeyboardEmulator back;
    back.setMapFileName(dir.file("map.kbd"));
    back.setEnabled(true);
    EXPECT_EQ(back.mapping(50, 14), "reused");
    EXPECT_EQ(back.mapping(100, 14), "x");
}

TEST(TermKeyboardTranslate, ShiftCodesAndKeyStates)
{
    EXPECT_EQ(KeyboardEmulator::shiftCode(false, false, false), 14);
    EXPECT_EQ(KeyboardEmulator::shiftCode(true, false, false), 12);
    EXPECT_EQ(KeyboardEmulator::shiftCode(false, false, true), 6);
    EXPECT_EQ(KeyboardEmulator::shiftCode(true, false, true), 4);
    EXPECT_EQ(KeyboardEmulator::shiftCode(true, true, false), 8);
    EXPECT_EQ(KeyboardEmulator::shiftCode(true, true, true), 0);

    TempDir dir;
    KeyboardEmulator kbd;
    kbd.setMapFileName(dir.file("map.kbd"));
    kbd.setEnabled(true);
    kbd.newRecord();
    kbd.setMapping(vkHome, 4, "ctrl-shift-home");
    kbd.saveRecord("R");
    uint8_t states[256] = {};
    states[vkControl] = 0x80;
    states[vkShift] = 0x81;
    states[vkMenu] = 0x01; // toggled but up
    states[vkCapital] = 0x01;
    KeyRecord k = key(vkHome);
    ASSERT_TRUE(kbd.translate(k, states));
    EXPECT_EQ(k.shiftCode, 4);
    EXPECT_EQ(k.lockCode, 1);
    EXPECT_EQ(k.mapping, "ctrl-shift-home");
}

TEST(TermKeyboardTranslate, ProcessFlagsModifiersAndLastMatchWins)
{
    TempDir dir;
    writeFile(dir.file("map.kbd"),
              "[Index]\nR=#\n[Defaults]\n_Entries=1\n[R]\nEMULATOR=R\nKey1=65,14,first\n"
              "Key2=65,14,second\nKey3=38,14,up\nKey4=16,14,shift\nKey5=45,14,ins\n");
    KeyboardEmulator kbd;
    kbd.setMapFileName(dir.file("map.kbd"));
    kbd.setEnabled(true);
    KeyRecord a = key('A');
    ASSERT_TRUE(kbd.translate(a, false, false, false));
    EXPECT_EQ(a.mapping, "second");
    kbd.setProcessAllKeys(false);
    EXPECT_FALSE(kbd.translate(a, false, false, false));
    EXPECT_TRUE(a.mapping.empty());
    KeyRecord up = key(vkUp);
    EXPECT_TRUE(kbd.translate(up, false, false, false));
    kbd.setProcessExtended(false);
    EXPECT_FALSE(kbd.translate(up, false, false, false));
    KeyRecord ins = key(vkInsert);
    EXPECT_TRUE(kbd.translate(ins, false, false, false)) << "insert is not an extended key";
    EXPECT_FALSE(ins.extended);
    KeyRecord shift = key(vkShift);
    EXPECT_FALSE(kbd.translate(shift, false, false, false)) << "modifiers alone send nothing";
    kbd.setEnabled(false);
    EXPECT_FALSE(kbd.translate(ins, false, false, false));
}

TEST(TermKeyboardMap, DefaultMapHasCursorKeysForVt100AndAnsi)
{
    const std::string path = std::string(ZELVO_SOURCE_DIR) + "/terminal/zelvo32.kbd";
    TempDir dir;
    fs::copy_file(path, dir.file("zelvo32.kbd"));
    KeyboardEmulator kbd;
    kbd.setMapFileName(dir.file("zelvo32.kbd"));
    kbd.setEnabled(true);
    EXPECT_EQ(kbd.recordNames(), (std::vector<std::string>{"ANSI", "VT100", "xterm"}));
    const struct {
        const char* record;
        int vk;
        std::string expected;
    } cases[] = {
        {"VT100", vkUp, ESC + "[A"},    {"VT100", vkLeft, ESC + "[D"},
        {"VT100", vkHome, ESC + "[1~"}, {"VT100", vkF1, ESC + "OP"},
        {"VT100", vkF12, ESC + "[24~"}, {"VT100", vkDelete, ESC + "[3~"},
        {"VT100", vkNumpad0 + 7, "7"},  {"ANSI", vkDown, ESC + "[B"},
        {"ANSI", vkHome, ESC + "[H"},   {"ANSI", vkEnd, ESC + "[F"},
        {"ANSI", vkNext, ESC + "[6~"},  {"ANSI", vkF1 + 4, ESC + "[15~"},
    };
    for (const auto& c : cases) {
        kbd.setEmulatorType(c.record);
        KeyRecord k = key(c.vk);
        ASSERT_TRUE(kbd.translate(k, false, false, false)) << c.record << " " << c.vk;
        EXPECT_EQ(k.mapping, c.expected) << c.record << " " << c.vk;
    }
}

TEST(TermKeyboardMap, MapPathFallsBackToConfigDirectory)
{
    TempDir dir;
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
    // The test program's directory is writable: a bare name resolves there.
    const std::string resolved = KeyboardEmulator::resolveMapPath("zelvo-test-map.kbd");
    EXPECT_EQ(fs::path(resolved).parent_path(), fs::path(platform::programDir()));
    // A map only in the configuration directory is found there.
    fs::create_directories(dir.file("zelvo32"));
    writeFile(dir.file("zelvo32/only-here.kbd"), "[Index]\n");
    EXPECT_EQ(KeyboardEmulator::resolveMapPath("only-here.kbd"), dir.file("zelvo32/only-here.kbd"));
    EXPECT_EQ(KeyboardEmulator::resolveMapPath("/abs/path.kbd"), "/abs/path.kbd");
    if (old)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

} // namespace
} // namespace zelvo::terminal::test
