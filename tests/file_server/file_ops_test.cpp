// The file operations, grouped by operation, through the exported entry points.

#include "server_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

namespace rfs_test {
namespace {

uint16_t word(const Bytes& p, size_t at)
{
    return uint16_t(p[at] | p[at + 1] << 8);
}

uint32_t dword(const Bytes& p, size_t at)
{
    return uint32_t(p[at] | p[at + 1] << 8 | p[at + 2] << 16 | uint32_t(p[at + 3]) << 24);
}

// ---- directories ----------------------------------------------------------------------

using Directories = ServerTest;

TEST_F(Directories, MakeCheckAndRemove)
{
    EXPECT_EQ(client.call(1, cstr("C:\\NEWDIR")).result, 0);
    EXPECT_TRUE(exists("c/NEWDIR"));
    EXPECT_EQ(client.call(1, cstr("C:\\NEWDIR")).result, 13); // exists already
    EXPECT_EQ(client.call(1, cstr("C:\\NO\\SUCH")).result, 13);
    EXPECT_EQ(client.call(2, cstr("C:\\newdir")).result, 0);
    EXPECT_EQ(client.call(0, cstr("C:\\NEWDIR")).result, 0);
    EXPECT_FALSE(exists("c/NEWDIR"));
    EXPECT_EQ(client.call(0, cstr("C:\\NEWDIR")).result, 13);
}

TEST_F(Directories, RemoveRefusesFilesFullDirectoriesAndTheRoot)
{
    makeDir("c/FULL");
    writeFile("c/FULL/X.TXT", "x");
    writeFile("c/FILE.TXT", "x");
    EXPECT_EQ(client.call(0, cstr("C:\\FULL")).result, 13);
    EXPECT_EQ(client.call(0, cstr("C:\\FILE.TXT")).result, 13);
    EXPECT_EQ(client.call(0, cstr("C:\\")).result, 13);
    EXPECT_TRUE(exists("c/FULL/X.TXT"));
    EXPECT_TRUE(exists("c"));
}

TEST_F(Directories, CheckDirOnDriveFileAndMissingPath)
{
    writeFile("c/FILE.TXT", "x");
    EXPECT_EQ(client.call(2, cstr("C:")).result, 0); // tests C:\ .
    EXPECT_EQ(client.call(2, cstr("C:\\FILE.TXT")).result, 3);
    EXPECT_EQ(client.call(2, cstr("C:\\MISSING")).result, 2);
    EXPECT_EQ(client.call(2, cstr("C:\\MISSING\\DEEPER")).result, 3);
    EXPECT_EQ(client.call(2, cstr("Q:\\")).result, 3);
}

// ---- open, create, close ----------------------------------------------------------------

using OpenClose = ServerTest;

TEST_F(OpenClose, OpenBlockDescribesTheFile)
{
    writeFile("c/DATA.TXT", "hello world");
    struct tm tm = {};
    tm.tm_year = 2001 - 1900;
    tm.tm_mon = 6;
    tm.tm_mday = 15;
    tm.tm_hour = 13;
    tm.tm_min = 45;
    tm.tm_sec = 30;
    tm.tm_isdst = -1;
    const time_t t = mktime(&tm);
    struct timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path("c/DATA.TXT").c_str(), times, 0), 0);

    const Reply r = client.open("C:\\data.txt", 0);
    ASSERT_EQ(r.result, 0);
    ASSERT_EQ(r.payload.size(), 12u);
    EXPECT_EQ(word(r.payload, 0), 0);    // slot
    EXPECT_EQ(word(r.payload, 2), 0x20); // archive
    EXPECT_EQ(word(r.payload, 4), (13 << 11) | (45 << 5) | 15);
    EXPECT_EQ(word(r.payload, 6), ((2001 - 1980) << 9) | (7 << 5) | 15);
    EXPECT_EQ(dword(r.payload, 8), 11u);
}

TEST_F(OpenClose, MissingFileGivesTwo)
{
    EXPECT_EQ(client.open("C:\\NOPE.TXT").result, 2);
    EXPECT_EQ(client.open("C:\\NODIR\\NOPE.TXT").result, 2);
    EXPECT_EQ(client.open("R:\\NOPE.TXT").result, 3);
}

TEST_F(OpenClose, TwentySlotsThenFiveAndTheLowestFreeSlotIsReused)
{
    writeFile("c/F.TXT", "f");
    for (uint16_t i = 0; i < 20; ++i) {
        const Reply r = client.open("C:\\F.TXT", 0);
        ASSERT_EQ(r.result, 0);
        EXPECT_EQ(word(r.payload, 0), i);
    }
    EXPECT_EQ(client.open("C:\\F.TXT", 0).result, 5);
    EXPECT_EQ(client.create("C:\\G.TXT").result, 5);
    EXPECT_FALSE(exists("c/G.TXT"));
    EXPECT_EQ(client.close(7).result, 0);
    const Reply again = client.open("C:\\F.TXT", 0);
    ASSERT_EQ(again.result, 0);
    EXPECT_EQ(word(again.payload, 0), 7);
}

TEST_F(OpenClose, CloseOfAFreeOrUnknownSlotIsAnInvalidHandle)
{
    EXPECT_EQ(client.close(3).result, 6);
    EXPECT_EQ(client.close(20).result, 6);
    EXPECT_EQ(client.close(0xFFFF).result, 6);
    writeFile("c/F.TXT", "f");
    ASSERT_EQ(client.open("C:\\F.TXT").result, 0);
    EXPECT_EQ(client.close(0).result, 0);
    EXPECT_EQ(client.close(0).result, 6);
}

TEST_F(OpenClose, CreateTruncatesAndSetsReadOnly)
{
    writeFile("c/OLD.TXT", "old contents");
    Reply r = client.create("C:\\OLD.TXT");
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(dword(r.payload, 8), 0u);
    EXPECT_EQ(readFile("c/OLD.TXT"), "");

    r = client.create("C:\\RO.TXT", 0x01);
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(word(r.payload, 2), 0x21);
    // The handle of the creating call may still write.
    EXPECT_EQ(client.write(word(r.payload, 0), 0, cstr("data")).result, 0);
    EXPECT_EQ(client.create("C:\\RO.TXT").result, 5);
    EXPECT_EQ(client.create("C:\\BAD*.TXT").result, 123);
    makeDir("c/SUB");
    EXPECT_EQ(client.create("C:\\SUB").result, 5);
}

TEST_F(OpenClose, OpenDirectoryIsRefused)
{
    makeDir("c/SUB");
    EXPECT_EQ(client.open("C:\\SUB").result, 5);
}

TEST_F(OpenClose, CloseAllWithOwnerZeroClosesEverything)
{
    writeFile("c/F.TXT", "f");
    writeFile("c/A.TXT", "a");
    ASSERT_EQ(client.open("C:\\F.TXT", 0, 1).result, 0);
    ASSERT_EQ(client.open("C:\\F.TXT", 0, 2).result, 0);
    ASSERT_EQ(client.open("C:\\F.TXT", 0, 3).result, 0);
    const Reply s1 = client.findFirst("C:\\*.*", 0, 1);
    const Reply s2 = client.findFirst("C:\\*.*", 0, 2);
    ASSERT_EQ(s1.result, 0);
    ASSERT_EQ(s2.result, 0);

    // Owner 2 only: its file and its search.
    EXPECT_EQ(client.call(18, {}, 2).result, 0);
    EXPECT_EQ(client.read(1, 0, 1).result, 6);
    EXPECT_EQ(client.read(0, 0, 1).result, 0);
    EXPECT_EQ(client.findNext(parseFind(s2.payload).id).result, 18);
    EXPECT_EQ(client.findNext(parseFind(s1.payload).id).result, 0);

    EXPECT_EQ(client.call(18, {}, 0).result, 0);
    EXPECT_EQ(client.read(0, 0, 1).result, 6);
    EXPECT_EQ(client.read(2, 0, 1).result, 6);
    EXPECT_EQ(client.findNext(parseFind(s1.payload).id).result, 18);
    EXPECT_EQ(zelvo::file_server::serverFiles().openSlots(), 0u);
    EXPECT_EQ(zelvo::file_server::serverFiles().searchCount(), 0u);
}

// ---- read and write ---------------------------------------------------------------------

using ReadWrite = ServerTest;

TEST_F(ReadWrite, WriteThenReadBack)
{
    ASSERT_EQ(client.create("C:\\RW.BIN").result, 0);
    EXPECT_EQ(client.write(0, 0, Bytes{'a', 'b', 'c'}).payload, le16(3));
    EXPECT_EQ(client.write(0, 10, Bytes{'z'}).payload, le16(1));
    EXPECT_EQ(readFile("c/RW.BIN"), std::string("abc\0\0\0\0\0\0\0z", 11));
    const Reply r = client.read(0, 1, 100);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.payload, cat({le16(10), Bytes{'b', 'c', 0, 0, 0, 0, 0, 0, 0, 'z'}}));
    EXPECT_EQ(client.read(0, 5000, 10).payload, le16(0)); // past the end
}

TEST_F(ReadWrite, WriteOfZeroBytesLeavesTheSize)
{
    writeFile("c/F.TXT", "0123456789");
    ASSERT_EQ(client.open("C:\\F.TXT", 2).result, 0);
    const Reply r = client.write(0, 3, {});
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.payload, le16(0));
    EXPECT_EQ(readFile("c/F.TXT"), "0123456789");
}

TEST_F(ReadWrite, LimitsOfOneRequest)
{
    writeFile("c/BIG.BIN", std::string(3000, 'b'));
    ASSERT_EQ(client.open("C:\\BIG.BIN", 2).result, 0);
    // A read asking for more than fits gets 1030 bytes.
    Reply r = client.read(0, 0, 5000);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(word(r.payload, 0), 1030);
    EXPECT_EQ(r.payload.size(), 1032u);
    // 1024 bytes is the largest write.
    r = client.write(0, 0, Bytes(1024, 'w'));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.payload, le16(1024));
    // A count larger than 1024 or than the data sent is refused, and nothing is written.
    r = client.call(6, cat({le16(0), le32(0), le16(1025), Bytes(1024, 'X')}));
    EXPECT_EQ(r.result, 87);
    EXPECT_EQ(r.payload, le16(0));
    r = client.call(6, cat({le16(0), le32(0), le16(100), Bytes(10, 'X')}));
    EXPECT_EQ(r.result, 87);
    EXPECT_EQ(readFile("c/BIG.BIN"), std::string(1024, 'w') + std::string(1976, 'b'));
    // Parameters cut short.
    EXPECT_EQ(client.call(5, le16(0)).result, 87);
    EXPECT_EQ(client.call(6, le16(0)).result, 87);
}

TEST_F(ReadWrite, UnknownSlotsAreInvalidHandles)
{
    for (uint16_t slot : {uint16_t(0), uint16_t(19), uint16_t(20), uint16_t(0xFFFF)}) {
        Reply r = client.read(slot, 0, 10);
        EXPECT_EQ(r.result, 6);
        EXPECT_EQ(r.payload, le16(0));
        r = client.write(slot, 0, Bytes{'x'});
        EXPECT_EQ(r.result, 6);
        EXPECT_EQ(r.payload, le16(0));
        EXPECT_EQ(client.call(7, cat({le16(slot), le32(0), le32(10)})).result, 6);
        EXPECT_EQ(client.call(8, cat({le16(slot), le16(0), le32(0), le32(10)})).result, 6);
    }
}

TEST_F(ReadWrite, AccessFollowsTheOpenMode)
{
    writeFile("c/F.TXT", "abc");
    ASSERT_EQ(client.open("C:\\F.TXT", 0).result, 0); // read
    ASSERT_EQ(client.open("C:\\F.TXT", 1).result, 0); // write
    ASSERT_EQ(client.open("C:\\F.TXT", 3).result, 0); // read
    EXPECT_EQ(client.write(0, 0, Bytes{'x'}).result, 5);
    EXPECT_EQ(client.read(1, 0, 1).result, 5);
    EXPECT_EQ(client.write(2, 0, Bytes{'x'}).result, 5);
    EXPECT_EQ(client.write(1, 0, Bytes{'x'}).result, 0);
    EXPECT_EQ(readFile("c/F.TXT"), "xbc");
}

// ---- locks ------------------------------------------------------------------------------

using Locks = ServerTest;

TEST_F(Locks, LockedRangesKeepOtherHandlesOut)
{
    writeFile("c/DB.DAT", std::string(100, 'd'));
    ASSERT_EQ(client.open("C:\\DB.DAT", 2).result, 0);
    ASSERT_EQ(client.open("C:\\DB.DAT", 2).result, 0);
    EXPECT_EQ(client.call(7, cat({le16(0), le32(10), le32(20)})).result, 0);
    // The other handle can neither lock, read nor write the range; outside it, it can.
    EXPECT_EQ(client.call(7, cat({le16(1), le32(25), le32(10)})).result, 33);
    EXPECT_EQ(client.read(1, 15, 2).result, 33);
    EXPECT_EQ(client.write(1, 29, Bytes{'x'}).result, 33);
    EXPECT_EQ(client.read(1, 30, 2).result, 0);
    // The holder itself may use its range.
    EXPECT_EQ(client.write(0, 12, Bytes{'y'}).result, 0);
    // Unlock (action 1), then the other handle may lock.
    EXPECT_EQ(client.call(8, cat({le16(0), le16(1), le32(10), le32(20)})).result, 0);
    EXPECT_EQ(client.call(8, cat({le16(1), le16(0), le32(25), le32(10)})).result, 0);
    // Closing releases the lock.
    EXPECT_EQ(client.close(1).result, 0);
    EXPECT_EQ(client.call(7, cat({le16(0), le32(25), le32(10)})).result, 0);
    // A range of no bytes locks nothing.
    EXPECT_EQ(client.call(7, cat({le16(0), le32(0), le32(0)})).result, 0);
    EXPECT_EQ(client.call(7, le16(0)).result, 87);
}

TEST_F(Locks, LocksAreExclusiveDoNotNestAndUnlockOnlyWhatWasLocked)
{
    writeFile("c/DB.DAT", std::string(100, 'd'));
    ASSERT_EQ(client.open("C:\\DB.DAT", 0).result, 0); // read only
    ASSERT_EQ(client.open("C:\\DB.DAT", 0).result, 0); // read only
    ASSERT_EQ(client.open("C:\\DB.DAT", 2).result, 0);
    auto lock = [&](int slot, uint32_t offset, uint32_t length) {
        return client.call(7, cat({le16(uint16_t(slot)), le32(offset), le32(length)})).result;
    };
    auto lockUnlock = [&](int slot, int action, uint32_t offset, uint32_t length) {
        return client.call(8, cat({le16(uint16_t(slot)), le16(uint16_t(action)), le32(offset), le32(length)})).result;
    };
    // A lock through a read-only handle keeps every other handle out, readers included.
    EXPECT_EQ(lock(0, 10, 20), 0);
    EXPECT_EQ(lock(1, 25, 10), 33);
    EXPECT_EQ(lockUnlock(2, 0, 0, 11), 33);
    EXPECT_EQ(client.read(1, 15, 2).result, 33);
    EXPECT_EQ(client.write(2, 29, Bytes{'x'}).result, 33);
    EXPECT_EQ(client.read(0, 15, 2).result, 0);
    // The holder cannot lock its own range again, nor a part of it.
    EXPECT_EQ(lock(0, 10, 20), 33);
    EXPECT_EQ(lockUnlock(0, 0, 29, 5), 33);
    EXPECT_EQ(lock(0, 30, 5), 0); // adjacent is fine
    // An unlock names exactly a range that was locked through the same handle.
    EXPECT_EQ(lockUnlock(0, 1, 12, 5), 158);
    EXPECT_EQ(lockUnlock(0, 1, 10, 25), 158);
    EXPECT_EQ(lockUnlock(1, 1, 10, 20), 158);
    EXPECT_EQ(lockUnlock(2, 1, 50, 5), 158);
    EXPECT_EQ(lockUnlock(0, 1, 10, 20), 0);
    EXPECT_EQ(lockUnlock(0, 1, 10, 20), 158);
    // The adjacent lock is still held; what was unlocked is free for the others.
    EXPECT_EQ(lock(2, 30, 1), 33);
    EXPECT_EQ(lock(1, 10, 20), 0);
    EXPECT_EQ(client.write(2, 12, Bytes{'x'}).result, 33);
    EXPECT_EQ(client.close(1).result, 0);
    EXPECT_EQ(client.write(2, 12, Bytes{'x'}).result, 0);
}

// ---- attributes, disk space, current directory ------------------------------------------

using Attributes = ServerTest;

TEST_F(Attributes, GetAndSet)
{
    writeFile("c/F.TXT", "f");
    writeFile("c/.hidden", "h");
    makeDir("c/SUB");
    EXPECT_EQ(client.call(11, cstr("C:\\F.TXT")).payload, le16(0x20));
    EXPECT_EQ(client.call(11, cstr("C:\\SUB")).payload, le16(0x10));
    EXPECT_EQ(client.call(11, cstr("C:\\")).payload, le16(0x10));
    EXPECT_EQ(client.call(11, cstr("C:\\.hidden")).payload, le16(0x22));

    EXPECT_EQ(client.call(10, cat({le16(0x01), cstr("C:\\F.TXT")})).result, 0);
    EXPECT_EQ(client.call(11, cstr("C:\\F.TXT")).payload, le16(0x21));
    struct stat st;
    ASSERT_EQ(::stat(path("c/F.TXT").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(client.call(10, cat({le16(0x20), cstr("C:\\F.TXT")})).result, 0);
    EXPECT_EQ(client.call(11, cstr("C:\\F.TXT")).payload, le16(0x20));

    const Reply missing = client.call(11, cstr("C:\\NOPE"));
    EXPECT_EQ(missing.result, 2);
    EXPECT_EQ(missing.payload.size(), 2u);
    EXPECT_EQ(client.call(10, cat({le16(0), cstr("C:\\NOPE")})).result, 2);
}

TEST_F(Attributes, DiskSpaceOfADriveOrAPath)
{
    makeDir("c/DATA");
    for (const Bytes& req : {Bytes{3}, cstr("C:\\DATA"), cstr("C:\\DATA\\"), Bytes{0}}) {
        const Reply r = client.call(9, req);
        ASSERT_EQ(r.result, 0);
        ASSERT_EQ(r.payload.size(), 8u);
        EXPECT_GT(word(r.payload, 0), 0);
        EXPECT_LE(word(r.payload, 2), word(r.payload, 0));
        EXPECT_GE(word(r.payload, 4), 1);
        EXPECT_EQ(word(r.payload, 6), 512);
    }
    EXPECT_EQ(client.call(9, Bytes{5}).result, 3); // E: is not served
    EXPECT_EQ(client.call(9, cstr("C:\\NOPE")).result, 3);
}

TEST_F(Attributes, CurrentDirectory)
{
    // Outside every drive: the root of the lowest drive, reported as C: (length 3).
    Reply r = client.call(20, {});
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.payload, cstr("C:"));

    makeDir("d/Work Dir");
    ASSERT_EQ(::chdir(path("d/Work Dir").c_str()), 0);
    r = client.call(20, {});
    EXPECT_EQ(r.payload, cstr("D:\\WORKDI~1"));
    // Relative paths continue from there.
    writeFile("d/Work Dir/REL.TXT", "r");
    EXPECT_EQ(client.open("REL.TXT", 0).result, 0);
    EXPECT_EQ(client.open("..\\Work Dir\\rel.txt", 0).result, 0);
}

// ---- searches ----------------------------------------------------------------------------

using Searches = ServerTest;

TEST_F(Searches, FindBlockAndFindNext)
{
    writeFile("c/ONE.TXT", "1");
    writeFile("c/TWO.TXT", "22");
    writeFile("c/THREE.DOC", "333");
    const Reply r = client.findFirst("C:\\*.TXT");
    ASSERT_EQ(r.result, 0);
    ASSERT_EQ(r.payload.size(), 43u);
    const Found f = parseFind(r.payload);
    EXPECT_EQ(f.name, "ONE.TXT");
    EXPECT_EQ(f.attributes, 0x20);
    EXPECT_EQ(f.size, 1u);
    EXPECT_NE(f.date, 0);
    const Reply n = client.findNext(f.id);
    ASSERT_EQ(n.result, 0);
    EXPECT_EQ(parseFind(n.payload).name, "TWO.TXT");
    EXPECT_EQ(parseFind(n.payload).id, f.id);
    EXPECT_EQ(client.findNext(f.id).result, 18);
    // The search is gone once it ran out.
    EXPECT_EQ(client.findNext(f.id).result, 18);
    EXPECT_EQ(client.findNext(0xDEADBEEF).result, 18);
    EXPECT_EQ(client.call(17, Bytes{1}).result, 18);
}

TEST_F(Searches, PaddedPatternsAndAttributeMasks)
{
    writeFile("c/ABCDEF.TXT", "x");
    writeFile("c/ABX.TXT", "x");
    writeFile("c/XY.TXT", "x");
    writeFile("c/RO.TXT", "x");
    ::chmod(path("c/RO.TXT").c_str(), 0444);
    writeFile("c/.secret", "x");
    makeDir("c/SUBDIR");
    EXPECT_EQ(listNames(client, "C:\\AB??????.TX?"), (std::vector<std::string>{"ABCDEF.TXT", "ABX.TXT"}));
    // Attributes 0: no directories and no hidden entries, but read-only and archive files.
    EXPECT_EQ(listNames(client, "C:\\????????.???"),
              (std::vector<std::string>{"ABCDEF.TXT", "ABX.TXT", "RO.TXT", "XY.TXT"}));
    EXPECT_EQ(listNames(client, "C:\\*.*", 0x10),
              (std::vector<std::string>{"ABCDEF.TXT", "ABX.TXT", "RO.TXT", "SUBDIR", "XY.TXT"}));
    EXPECT_EQ(listNames(client, "C:\\*.*", 0x12),
              (std::vector<std::string>{"ABCDEF.TXT", "ABX.TXT", "RO.TXT", "SECRET~1", "SUBDIR", "XY.TXT"}));
    // Below the root, "." and ".." are listed as directories.
    writeFile("c/SUBDIR/IN.TXT", "x");
    EXPECT_EQ(listNames(client, "C:\\SUBDIR\\*.*", 0x10), (std::vector<std::string>{".", "..", "IN.TXT"}));
    EXPECT_EQ(client.findFirst("C:\\*.NONE").result, 18);
    EXPECT_EQ(client.findFirst("C:\\NODIR\\*.*").result, 18);
}

TEST_F(Searches, LongNamesGetStableAliasesThatLaterRequestsUse)
{
    writeFile("c/Long Name One.txt", "1");
    writeFile("c/longname two.txt", "2");
    writeFile("c/readme.txt", "r");
    writeFile("c/README.TXT", "R");
    EXPECT_EQ(listNames(client, "C:\\*.*"),
              (std::vector<std::string>{"LONGNA~1.TXT", "LONGNA~2.TXT", "README.TXT", "README~1.TXT"}));
    // New names beside them do not renumber what the client has seen.
    writeFile("c/Long Name Zero.txt", "0");
    writeFile("c/LONGNA~9.TXT", "9");
    EXPECT_EQ(listNames(client, "C:\\LONGNA*.TXT"),
              (std::vector<std::string>{"LONGNA~1.TXT", "LONGNA~2.TXT", "LONGNA~3.TXT", "LONGNA~9.TXT"}));
    // The alias opens the file it names; so do the long name in any case.
    Reply r = client.open("C:\\LONGNA~2.TXT", 0);
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(client.read(word(r.payload, 0), 0, 10).payload, cat({le16(1), Bytes{'2'}}));
    r = client.open("C:\\LONG NAME ZERO.TXT", 0);
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(client.read(word(r.payload, 0), 0, 10).payload, cat({le16(1), Bytes{'0'}}));
    // Directory components too.
    makeDir("c/Program Files/Sub");
    writeFile("c/Program Files/Sub/F.TXT", "f");
    EXPECT_EQ(client.open("C:\\PROGRA~1\\SUB\\F.TXT", 0).result, 0);
}

TEST_F(Searches, VolumeLabelIsTheDriveDirectoryName)
{
    const Reply r = client.findFirst("C:\\*.*", 0x08);
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(parseFind(r.payload).name, "C");
    EXPECT_EQ(client.findFirst("\\\\SERVER\\SHARE\\*.*", 0x08).result, 18);
    EXPECT_EQ(zelvo::file_server::serverFiles().searchCount(), 0u);
}

TEST_F(Searches, AbandonedSearchesDoNotPileUp)
{
    writeFile("c/A.TXT", "a");
    writeFile("c/B.TXT", "b");
    const uint32_t first = parseFind(client.findFirst("C:\\*.*").payload).id;
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(client.findFirst("C:\\*.*").result, 0);
    EXPECT_LE(zelvo::file_server::serverFiles().searchCount(), 128u);
    EXPECT_EQ(client.findNext(first).result, 18);
}

// ---- rename and delete -------------------------------------------------------------------

using RenameDelete = ServerTest;

TEST_F(RenameDelete, RenamePatternKeepsNamesAndReplacesExtensions)
{
    makeDir("c/DIR");
    writeFile("c/DIR/A.TXT", "a");
    writeFile("c/DIR/B.TXT", "b");
    writeFile("c/DIR/C.DOC", "c");
    makeDir("c/DIR/D.TXT");
    EXPECT_EQ(client.call(12, cat({cstr("C:\\DIR\\*.TXT"), cstr("C:\\DIR\\*.BAK")})).result, 0);
    EXPECT_EQ(readFile("c/DIR/A.BAK"), "a");
    EXPECT_EQ(readFile("c/DIR/B.BAK"), "b");
    EXPECT_TRUE(exists("c/DIR/C.DOC"));
    EXPECT_TRUE(exists("c/DIR/D.TXT")); // directories are not renamed
    EXPECT_FALSE(exists("c/DIR/A.TXT"));
    EXPECT_EQ(client.call(12, cat({cstr("C:\\DIR\\*.XYZ"), cstr("C:\\DIR\\*.BAK")})).result, 2);
}

TEST_F(RenameDelete, RenameNeverOverwritesAndMovesBetweenDirectories)
{
    makeDir("c/SRC");
    makeDir("c/DST");
    writeFile("c/SRC/KEEP.TXT", "source");
    writeFile("c/SRC/OTHER.TXT", "other");
    writeFile("c/DST/keep.txt", "precious");
    EXPECT_EQ(client.call(12, cat({cstr("C:\\SRC\\KEEP.TXT"), cstr("C:\\DST\\KEEP.TXT")})).result, 80);
    EXPECT_EQ(readFile("c/DST/keep.txt"), "precious");
    EXPECT_EQ(readFile("c/SRC/KEEP.TXT"), "source");
    EXPECT_EQ(client.call(12, cat({cstr("C:\\SRC\\OTHER.TXT"), cstr("C:\\DST\\MOVED.TXT")})).result, 0);
    EXPECT_EQ(readFile("c/DST/MOVED.TXT"), "other");
    EXPECT_FALSE(exists("c/SRC/OTHER.TXT"));
    EXPECT_EQ(client.call(12, cat({cstr("C:\\SRC\\KEEP.TXT"), cstr("D:\\KEEP.TXT")})).result, 17);
    // A change of case only is a rename of the entry to itself.
    writeFile("c/lower.txt", "l");
    EXPECT_EQ(client.call(12, cat({cstr("C:\\lower.txt"), cstr("C:\\Lower.Txt")})).result, 0);
    EXPECT_EQ(readFile("c/Lower.Txt"), "l");
}

TEST_F(RenameDelete, DeleteSkipsReadOnlyHiddenAndDirectories)
{
    makeDir("c/DIR/SUB");
    writeFile("c/DIR/A.TXT", "a");
    writeFile("c/DIR/B.DAT", "b");
    writeFile("c/DIR/RO.TXT", "r");
    ::chmod(path("c/DIR/RO.TXT").c_str(), 0444);
    writeFile("c/DIR/.profile", "p");
    EXPECT_EQ(client.call(13, cstr("C:\\DIR\\*.*")).result, 0);
    EXPECT_FALSE(exists("c/DIR/A.TXT"));
    EXPECT_FALSE(exists("c/DIR/B.DAT"));
    EXPECT_TRUE(exists("c/DIR/RO.TXT"));
    EXPECT_TRUE(exists("c/DIR/.profile"));
    EXPECT_TRUE(exists("c/DIR/SUB"));
    EXPECT_EQ(client.call(13, cstr("C:\\DIR\\*.TXT")).result, 0); // only the read-only one
    EXPECT_EQ(client.call(13, cstr("C:\\DIR\\*.XYZ")).result, 2);
    EXPECT_EQ(client.call(13, cstr("C:\\NODIR\\*.*")).result, 3);
}

TEST_F(RenameDelete, DeleteOfASymbolicLinkRemovesTheLinkOnly)
{
    writeFile("c/TARGET.TXT", "t");
    ASSERT_EQ(::symlink(path("c/TARGET.TXT").c_str(), path("c/LINK.TXT").c_str()), 0);
    EXPECT_EQ(client.call(13, cstr("C:\\LINK.TXT")).result, 0);
    EXPECT_FALSE(exists("c/LINK.TXT"));
    EXPECT_EQ(readFile("c/TARGET.TXT"), "t");
}

} // namespace
} // namespace rfs_test
