// Nothing outside the drive directories can be reached: ".." above a root, symbolic links
// that lead out, device files and pipes, unknown drives and network paths.

#include "server_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

namespace rfs_test {
namespace {

class Confinement : public ServerTest {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        writeFile("outside/SECRET.TXT", "secret");
        makeDir("outside/DIR");
        writeFile("c/INSIDE.TXT", "inside");
        makeDir("c/SUB");
    }
};

TEST_F(Confinement, DotDotAboveTheRootIsRefused)
{
    EXPECT_EQ(client.open("C:\\..\\outside\\SECRET.TXT", 0).result, 5);
    EXPECT_EQ(client.open("C:\\SUB\\..\\..\\outside\\SECRET.TXT", 0).result, 5);
    EXPECT_EQ(client.open("C:..\\outside\\SECRET.TXT", 0).result, 5);
    EXPECT_EQ(client.create("C:\\..\\outside\\NEW.TXT").result, 5);
    EXPECT_FALSE(exists("outside/NEW.TXT"));
    EXPECT_EQ(client.call(1, cstr("C:\\..\\outside\\NEWDIR")).result, 5);
    EXPECT_FALSE(exists("outside/NEWDIR"));
    EXPECT_EQ(client.call(13, cstr("C:\\..\\outside\\*.*")).result, 5);
    EXPECT_EQ(client.call(12, cat({cstr("C:\\INSIDE.TXT"), cstr("C:\\..\\outside\\X.TXT")})).result, 5);
    EXPECT_EQ(client.findFirst("C:\\..\\outside\\*.*").result, 18);
    EXPECT_EQ(client.call(11, cstr("C:\\..\\outside\\SECRET.TXT")).result, 5);
    EXPECT_EQ(client.call(9, cstr("C:\\..\\outside")).result, 5);
    EXPECT_EQ(readFile("outside/SECRET.TXT"), "secret");
    EXPECT_TRUE(exists("c/INSIDE.TXT"));
    // ".." that stays inside is fine, and so is the forward slash as a separator.
    EXPECT_EQ(client.open("C:\\SUB\\..\\INSIDE.TXT", 0).result, 0);
    EXPECT_EQ(client.open("C:/SUB/../inside.txt", 0).result, 0);
}

TEST_F(Confinement, LinksThatLeadOutAreRefusedAndHidden)
{
    ASSERT_EQ(::symlink(path("outside/SECRET.TXT").c_str(), path("c/OUT.TXT").c_str()), 0);
    ASSERT_EQ(::symlink(path("outside/DIR").c_str(), path("c/OUTDIR").c_str()), 0);
    ASSERT_EQ(::symlink("../outside/SECRET.TXT", path("c/REL.TXT").c_str()), 0);
    ASSERT_EQ(::symlink(path("outside/NOTYET.TXT").c_str(), path("c/DANGLE.TXT").c_str()), 0);
    ASSERT_EQ(::symlink(path("c/INSIDE.TXT").c_str(), path("c/GOOD.TXT").c_str()), 0);

    EXPECT_EQ(client.open("C:\\OUT.TXT", 0).result, 5);
    EXPECT_EQ(client.open("C:\\REL.TXT", 0).result, 5);
    EXPECT_EQ(client.create("C:\\OUT.TXT").result, 5);
    EXPECT_EQ(client.create("C:\\DANGLE.TXT").result, 5);
    EXPECT_FALSE(exists("outside/NOTYET.TXT"));
    EXPECT_EQ(client.create("C:\\OUTDIR\\NEW.TXT").result, 5);
    EXPECT_EQ(client.call(1, cstr("C:\\OUTDIR\\NEWDIR")).result, 5);
    EXPECT_EQ(client.call(10, cat({le16(1), cstr("C:\\OUT.TXT")})).result, 5);
    EXPECT_EQ(client.findFirst("C:\\OUTDIR\\*.*").result, 18);
    EXPECT_EQ(readFile("outside/SECRET.TXT"), "secret");
    EXPECT_FALSE(exists("outside/DIR/NEW.TXT"));

    // Searches do not list them; a link inside the drive is a file like any other.
    EXPECT_EQ(listNames(client, "C:\\*.*", 0x16),
              (std::vector<std::string>{"GOOD.TXT", "INSIDE.TXT", "SUB"}));
    const Reply good = client.open("C:\\GOOD.TXT", 0);
    ASSERT_EQ(good.result, 0);
    EXPECT_EQ(client.read(0, 0, 20).payload, cat({le16(6), Bytes{'i', 'n', 's', 'i', 'd', 'e'}}));
}

TEST_F(Confinement, DevicesAndPipesAreRefused)
{
    ASSERT_EQ(::mkfifo(path("c/PIPE").c_str(), 0666), 0);
    ASSERT_EQ(::symlink("/dev/null", path("c/NULLDEV").c_str()), 0);
    EXPECT_EQ(client.open("C:\\PIPE", 0).result, 5);
    EXPECT_EQ(client.create("C:\\PIPE").result, 5);
    EXPECT_EQ(client.open("C:\\NULLDEV", 2).result, 5);
    EXPECT_EQ(client.call(11, cstr("C:\\PIPE")).result, 5);
    EXPECT_EQ(listNames(client, "C:\\*.*", 0x16), (std::vector<std::string>{"INSIDE.TXT", "SUB"}));
}

TEST_F(Confinement, DrivesOutsideTheTableAndNetworkPaths)
{
    EXPECT_EQ(client.open("E:\\ANY.TXT", 0).result, 3);
    EXPECT_EQ(client.create("E:\\ANY.TXT").result, 3);
    EXPECT_EQ(client.call(2, cstr("E:")).result, 3);
    EXPECT_EQ(client.call(11, cstr("1:\\X")).result, 3);
    EXPECT_EQ(client.open("\\\\SERVER\\SHARE\\X.TXT", 0).result, 3);
    EXPECT_EQ(client.create("\\\\SERVER\\SHARE\\X.TXT").result, 3);
    EXPECT_EQ(client.findFirst("\\\\SERVER\\SHARE\\*.*").result, 18);
}

TEST_F(Confinement, DriveTableChangesTakeEffectAtTheNextRequest)
{
    writeFile("d/ON_D.TXT", "d");
    EXPECT_EQ(client.open("D:\\ON_D.TXT", 0).result, 0);
    writeDriveTable({{'C', path("c")}});
    EXPECT_EQ(client.open("D:\\ON_D.TXT", 0).result, 3);
    writeDriveTable({{'C', path("c")}, {'F', path("d")}});
    EXPECT_EQ(client.open("F:\\ON_D.TXT", 0).result, 0);
}

TEST_F(Confinement, DefaultDriveIsTheShareInTheHomeDirectory)
{
    const char* oldHome = ::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    makeDir("home");
    ::setenv("HOME", path("home").c_str(), 1);
    ::unlink(path("config/zelvo32/registry.reg").c_str());
    const Reply r = client.create("C:\\HELLO.TXT");
    EXPECT_EQ(r.result, 0);
    EXPECT_TRUE(exists("home/zelvo32-share/HELLO.TXT"));
    EXPECT_EQ(client.open("D:\\X.TXT").result, 3);
    client.call(18, {}, 0);
    // The table comes back before HOME does, so nothing is created in the real home.
    writeDriveTable({{'C', path("c")}, {'D', path("d")}});
    client.call(20, {});
    if (oldHome)
        ::setenv("HOME", savedHome.c_str(), 1);
    else
        ::unsetenv("HOME");
}

TEST_F(Confinement, MalformedPathsAreAnswered)
{
    // Paths without their NUL, within the payload.
    const Bytes unterminated = cat({le16(0), Bytes{'C', ':', '\\', 'X'}});
    EXPECT_EQ(client.call(14, unterminated).result, 87);
    EXPECT_EQ(client.call(15, unterminated).result, 87);
    EXPECT_EQ(client.call(16, unterminated).result, 18);
    EXPECT_EQ(client.call(0, Bytes{'C', ':'}).result, 13);
    EXPECT_EQ(client.call(1, Bytes{'C', ':'}).result, 13);
    EXPECT_EQ(client.call(2, Bytes{'C', ':'}).result, 87);
    EXPECT_EQ(client.call(11, Bytes{'C', ':'}).result, 87);
    EXPECT_EQ(client.call(12, cstr("C:\\INSIDE.TXT")).result, 87);
    EXPECT_EQ(client.call(13, {}).result, 87);
    EXPECT_EQ(client.call(9, {}).result, 87);
    // Names that cannot be names.
    EXPECT_EQ(client.create("C:\\A<B>.TXT").result, 123);
    EXPECT_EQ(client.create("C:\\SUB\\...").result, 123);
    EXPECT_EQ(client.call(1, cstr("C:\\WILD*")).result, 13);
    EXPECT_EQ(client.create(std::string("C:\\") + std::string(300, 'L')).result, 3);
}

} // namespace
} // namespace rfs_test
