#include "platform/registry_store.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

using zelvo::platform::RegistryStore;

namespace {

struct TempDir {
    std::string path;
    TempDir()
    {
        char tmpl[] = "/tmp/zelvo-reg-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
};

std::string readFile(const std::string& p)
{
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace

TEST(RegistryStore, ValuesRoundTripThroughTheFileWithEscapes)
{
    TempDir dir;
    std::string file = dir.path + "/sub/registry.reg";
    {
        RegistryStore s(file);
        EXPECT_TRUE(s.load()); // missing file: empty store
        s.writeDword("software\\brunmo\\zelvo32\\default\\Port", "Baud", 57600);
        s.writeString("software\\brunmo\\zelvo32\\default\\Port", "TraceName",
                      "C:\\tmp\\\"q\".trc");
        ASSERT_TRUE(s.save());
    }
    RegistryStore s(file);
    ASSERT_TRUE(s.load());
    EXPECT_EQ(s.readDword("SOFTWARE\\Brunmo\\Zelvo32\\default\\port", "baud"), 57600u);
    EXPECT_EQ(s.readString("software\\brunmo\\zelvo32\\default\\Port", "TRACENAME"),
              "C:\\tmp\\\"q\".trc");
    EXPECT_NE(readFile(file).find("\"Baud\"=dword:0000e100"), std::string::npos);
    // A value of the other type is not returned.
    EXPECT_FALSE(s.readString("software\\brunmo\\zelvo32\\default\\Port", "Baud"));
}

TEST(RegistryStore, KeysListDeleteAndKeepFirstSpelling)
{
    RegistryStore s("/nonexistent/never-saved");
    s.writeDword("software\\brunmo\\zelvo32\\Sessions\\Router A", "x", 1);
    s.writeDword("software\\brunmo\\zelvo32\\sessions\\Modem", "x", 2);
    auto subs = s.subKeys("Software\\Brunmo\\Zelvo32\\SESSIONS");
    ASSERT_EQ(subs.size(), 2u);
    EXPECT_TRUE(std::find(subs.begin(), subs.end(), "Router A") != subs.end());
    s.deleteKey("software\\brunmo\\zelvo32\\sessions");
    EXPECT_FALSE(s.keyExists("software\\brunmo\\zelvo32\\sessions\\Modem"));
    EXPECT_TRUE(s.keyExists("software\\brunmo\\zelvo32"));
    s.writeString("k", "Name", "a");
    s.writeString("K", "NAME", "b");
    EXPECT_EQ(s.valueNames("k"), std::vector<std::string>{"Name"});
    EXPECT_EQ(s.readString("k", "name"), "b");
}

TEST(RegistryStore, MalformedStoreIsEmptyAndKeptAsideOnSave)
{
    TempDir dir;
    std::string file = dir.path + "/registry.reg";
    {
        std::ofstream out(file);
        out << "[a\\b]\n\"v\"=dword:xyz\n";
    }
    RegistryStore s(file);
    EXPECT_FALSE(s.load());
    EXPECT_FALSE(s.readDword("a\\b", "v"));
    s.writeDword("a\\b", "v", 7);
    ASSERT_TRUE(s.save());
    EXPECT_EQ(readFile(file + ".bad"), "[a\\b]\n\"v\"=dword:xyz\n");
    RegistryStore again(file);
    EXPECT_TRUE(again.load());
    EXPECT_EQ(again.readDword("a\\b", "v"), 7u);
}

TEST(RegistryStore, CommentsBlankLinesAndCrlfAreAccepted)
{
    RegistryStore s("unused");
    EXPECT_TRUE(s.parse("; comment\r\n\r\n[x]\r\n\"a\"=\"b\"\r\n"));
    EXPECT_EQ(s.readString("x", "a"), "b");
    EXPECT_FALSE(s.parse("\"a\"=\"b\"\n")); // value before any key
    EXPECT_FALSE(s.parse("[x]\n\"a\"=\"unterminated\n"));
}

TEST(RegistryStore, LineBreaksInKeysNamesAndTextsAreRefusedAndTheFileStaysReadable)
{
    TempDir dir;
    std::string file = dir.path + "/registry.reg";
    RegistryStore s(file);
    ASSERT_TRUE(s.writeString("software\\a", "Name", "kept"));
    EXPECT_FALSE(s.writeString("software\\a", "Name", "two\nlines"));
    EXPECT_FALSE(s.writeString("software\\a", "Other", "carriage\rreturn"));
    EXPECT_FALSE(s.writeString("software\\a", "Bad\nName", "x"));
    EXPECT_FALSE(s.writeString("software\\b\r\n[x]", "Name", "x"));
    EXPECT_FALSE(s.writeDword("software\\a", "N\r", 1));
    EXPECT_FALSE(s.writeDword("software\\c\n", "N", 1));
    EXPECT_FALSE(s.createKey("software\\d\nsoftware\\e"));
    EXPECT_TRUE(s.createKey("software\\f"));
    ASSERT_TRUE(s.save());

    RegistryStore back(file);
    ASSERT_TRUE(back.load());
    EXPECT_EQ(back.readString("software\\a", "Name"), "kept");
    EXPECT_EQ(back.valueNames("software\\a").size(), 1u);
    EXPECT_FALSE(back.keyExists("software\\c\n"));
    EXPECT_FALSE(back.keyExists("software\\d"));
    EXPECT_TRUE(back.keyExists("software\\f"));
    EXPECT_EQ(back.subKeys("software").size(), 2u);
}
