// The protocol component's shared parts: received names, the file buffer, choosing files
// by mask, settings and their engine defaults, the time estimate and the texts.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "fake_host.h"
#include "protocols/file_buffer.h"
#include "protocols/protocol.h"
#include "protocols/protocol_properties.h"
#include "protocols/received_name.h"

using namespace zelvo::protocols;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir()
    {
        char tmpl[] = "/tmp/zelvo-proto-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string str() const { return path.string(); }
};

void writeFile(const fs::path& p, const std::vector<uint8_t>& data)
{
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::vector<uint8_t> readFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

TEST(ReceivedName, PlainNamesLandInTheDestination)
{
    auto r = ReduceReceivedName("report.txt", "/dl", false, true);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.path, "/dl/REPORT.TXT");
    r = ReduceReceivedName("file one.txt", "/dl/", false, false);
    EXPECT_EQ(r.path, "/dl/file one.txt");
}

TEST(ReceivedName, DirectoriesAreDroppedUnlessHonoured)
{
    auto r = ReduceReceivedName("/etc/passwd", "/dl", false, false);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.path, "/dl/passwd");
    r = ReduceReceivedName("..\\..\\boot.ini", "/dl", false, false);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.path, "/dl/boot.ini");
    r = ReduceReceivedName("sub/dir\\f.c", "/dl", true, false);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.path, "/dl/sub/dir/f.c");
    r = ReduceReceivedName("./a//b", "/dl", true, false);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.relative, "a/b");
}

TEST(ReceivedName, HostileNamesAreRefused)
{
    for (const char* bad : {"", "..", ".", "dir/", "dir/..", "a\x01" "b"})
        EXPECT_FALSE(ReduceReceivedName(bad, "/dl", false, false).ok) << bad;
    for (const char* bad : {"/etc/passwd", "\\win\\x", "C:\\x", "a/../../x", "../x", "a/.."})
        EXPECT_FALSE(ReduceReceivedName(bad, "/dl", true, false).ok) << bad;
    EXPECT_FALSE(ReduceReceivedName(std::string(300, 'a'), "/dl", false, false).ok);
    EXPECT_FALSE(ReduceReceivedName("x", "/dl", false, false).reason.size());
}

TEST(FileBuffer, ReadsAndWritesAcrossBufferBoundaries)
{
    TempDir dir;
    const auto data = zelvo::protocols::test::randomBytes(50000, 21);
    writeFile(dir.path / "in", data);
    FileBuffer fb;
    ASSERT_EQ(fb.openRead((dir.path / "in").string()), 0);
    std::vector<uint8_t> got(data.size() + 10);
    size_t off = 0;
    for (size_t step : {1000u, 7000u, 8192u, 3u, 30000u, 5000u}) {
        const int n = fb.read(off, got.data() + off, step);
        ASSERT_GE(n, 0);
        off += static_cast<size_t>(n);
    }
    EXPECT_EQ(off, data.size());
    got.resize(off);
    EXPECT_EQ(got, data);
    // Re-reading an earlier part (a repositioning) works.
    uint8_t b[16];
    ASSERT_EQ(fb.read(100, b, 16), 16);
    EXPECT_EQ(0, std::memcmp(b, data.data() + 100, 16));
    fb.close();

    int diskWrites = 0;
    fb.onDiskWrite = [&](bool writing) { diskWrites += writing; };
    ASSERT_EQ(fb.openWrite((dir.path / "out").string(), OpenMode::Create, 0), 0);
    for (size_t o = 0; o < data.size(); o += 1000)
        ASSERT_EQ(fb.write(o, data.data() + o, std::min<size_t>(1000, data.size() - o)), 0);
    ASSERT_EQ(fb.close(1600000000), 0);
    EXPECT_EQ(readFile(dir.path / "out"), data);
    EXPECT_EQ(diskWrites, 7) << "whole 8192-byte buffers";
    struct stat st {};
    ::stat((dir.path / "out").c_str(), &st);
    EXPECT_EQ(st.st_mtime, 1600000000);

    // Resume keeps the beginning and writes from the offset.
    writeFile(dir.path / "part", std::vector<uint8_t>(data.begin(), data.begin() + 1234));
    ASSERT_EQ(fb.openWrite((dir.path / "part").string(), OpenMode::Resume, 1234), 0);
    ASSERT_EQ(fb.write(1234, data.data() + 1234, data.size() - 1234), 0);
    ASSERT_EQ(fb.close(), 0);
    EXPECT_EQ(readFile(dir.path / "part"), data);
}

TEST(FileBuffer, FailuresAreNegativeCodes)
{
    FileBuffer fb;
    EXPECT_EQ(fb.openRead("/nonexistent/zelvo"), -ENOENT);
    uint8_t b[4];
    EXPECT_EQ(fb.read(0, b, 4), -ecFileNotOpen);
    EXPECT_EQ(fb.write(0, b, 4), -ecFileNotOpen);
    if (fs::exists("/dev/full")) {
        ASSERT_EQ(fb.openWrite("/dev/full", OpenMode::Append, 0), 0);
        std::vector<uint8_t> lots(9000, 1);
        EXPECT_EQ(fb.write(0, lots.data(), lots.size()), -ecDiskWriteShort);
        fb.abandon();
    }
}

TEST(ProtocolComponent, DefaultsAndZmodemSelection)
{
    Protocol p;
    EXPECT_EQ(p.ProtocolType(), ptNoProtocol);
    EXPECT_EQ(p.HandshakeRetry(), 10u);
    EXPECT_EQ(p.HandshakeWait(), 182u);
    EXPECT_EQ(p.TransmitTimeout(), 1092u);
    EXPECT_EQ(p.FinishWait(), 364u);
    EXPECT_EQ(p.WriteFailAction(), wfWriteRename);
    EXPECT_EQ(p.StatusInterval(), 18u);
    EXPECT_EQ(p.ZmodemFileOption(), zfoWriteNewer);
    EXPECT_EQ(p.KermitPadCharacter(), ' ');
    EXPECT_EQ(p.KermitRepeatPrefix(), '~');
    EXPECT_EQ(p.AsciiEOFTimeout(), 364u);
    EXPECT_TRUE(p.UpcaseFileNames());

    p.setHandshakeWait(5);
    p.setProtocolType(ptZmodem);
    EXPECT_EQ(p.BlockCheckMethod(), bcmCrc32);
    EXPECT_EQ(p.HandshakeWait(), 1092u);
    EXPECT_EQ(p.FinishWait(), 364u);
    EXPECT_EQ(p.Overhead(), 20u);
    EXPECT_EQ(p.TurnDelay(), 0u);

    p.setZmodemFileOption(zfoWriteClobber);
    p.setZmodemFileOption(zfoWriteCrc);
    EXPECT_EQ(p.ZmodemFileOption(), zfoWriteClobber) << "CRC option is not taken";
}

namespace {
// A line that only records what is put on it.
class NullLine : public ProtocolLine {
public:
    uint32_t baud = 19200;
    bool dcd = true;
    std::vector<uint8_t> out;
    int putBlock(const uint8_t* d, size_t n) override
    {
        out.insert(out.end(), d, d + n);
        return 0;
    }
    size_t outputFree() override { return 1 << 20; }
    size_t outputUsed() override { return 0; }
    void flushOutput() override {}
    void flushInput() override {}
    uint32_t baudRate() override { return baud; }
    bool carrier() override { return dcd; }
    void setRTS(bool) override {}
    void wake() override {}
};
} // namespace

TEST(ProtocolComponent, KermitSelectionAndItsLengthSettings)
{
    Protocol p;
    NullLine line;
    p.setComPort(&line);
    // The block length a transfer starts with: the first thing the status window shows.
    auto startLength = [&] {
        EXPECT_EQ(p.BeginReceive(), 0);
        const uint32_t length = p.BlockLength();
        p.lineLost();
        EXPECT_FALSE(p.InProgress());
        return length;
    };
    p.setProtocolType(ptKermit);
    EXPECT_EQ(p.BlockCheckMethod(), bcmChecksum);
    EXPECT_EQ(startLength(), 80u);
    EXPECT_TRUE(Protocol::BatchProtocol(ptKermit));
    // Long packets: their length is the block length, and check type 1 becomes 2.
    p.setKermitMaxLen(1000);
    EXPECT_EQ(startLength(), 1000u);
    EXPECT_EQ(p.BlockCheckMethod(), bcmChecksum2);
    p.setKermitMaxLen(5000);
    EXPECT_EQ(p.KermitMaxLen(), 1024u);
    p.setKermitMaxLen(94);
    EXPECT_EQ(startLength(), 80u);
    EXPECT_EQ(p.BlockCheckMethod(), bcmChecksum);
    p.setKermitMaxWindows(31);
    EXPECT_EQ(p.KermitMaxWindows(), 27u);
    // Chosen after the length was set, the type takes it into account too.
    p.setProtocolType(ptZmodem);
    p.setKermitMaxLen(500);
    p.setProtocolType(ptKermit);
    EXPECT_EQ(startLength(), 500u);
    EXPECT_EQ(p.BlockCheckMethod(), bcmChecksum2);
}

TEST(ProtocolComponent, ChoosingATypeSetsItsEngineValues)
{
    struct Expect {
        TProtocolType type;
        TBlockCheckMethod check;
        uint32_t finishWait, overhead, turnDelay;
        bool batch;
    };
    const Expect table[] = {
        {ptXmodem, bcmChecksum, 0, 5, 1000, false},  {ptXmodemCRC, bcmCrc16, 0, 5, 1000, false},
        {ptXmodem1K, bcmCrc16, 0, 5, 1000, false},   {ptXmodem1KG, bcmCrc16, 0, 5, 0, false},
        {ptYmodem, bcmCrc16, 0, 5, 1000, true},      {ptYmodemG, bcmCrc16, 0, 5, 0, true},
        {ptZmodem, bcmCrc32, 364, 20, 0, true},
    };
    for (const Expect& e : table) {
        Protocol p;
        p.setProtocolType(e.type);
        EXPECT_EQ(p.BlockCheckMethod(), e.check) << e.type;
        EXPECT_EQ(p.FinishWait(), e.finishWait) << e.type;
        EXPECT_EQ(p.Overhead(), e.overhead) << e.type;
        EXPECT_EQ(p.TurnDelay(), e.turnDelay) << e.type;
        EXPECT_EQ(Protocol::BatchProtocol(e.type), e.batch) << e.type;
        EXPECT_TRUE(Protocol::EngineAvailable(e.type));
    }
    Protocol a;
    a.setOverhead(7);
    a.setProtocolType(ptAscii);
    EXPECT_EQ(a.BlockCheckMethod(), bcmNone);
    EXPECT_EQ(a.Overhead(), 7u) << "ASCII leaves the estimate's values alone";
    EXPECT_TRUE(Protocol::BatchProtocol(ptKermit));
}

TEST(ProtocolComponent, PropertiesAreSetByName)
{
    Protocol p;
    EXPECT_EQ(SetProtocolProperty(p, "ProtocolType", "ptYmodemG"), "");
    EXPECT_EQ(p.ProtocolType(), ptYmodemG);
    EXPECT_EQ(SetProtocolProperty(p, "asciieoftimeout", "36"), "");
    EXPECT_EQ(p.AsciiEOFTimeout(), 36u);
    EXPECT_EQ(SetProtocolProperty(p, "UpcaseFileNames", "0"), "");
    EXPECT_FALSE(p.UpcaseFileNames());
    EXPECT_EQ(SetProtocolProperty(p, "WriteFailAction", "3"), "");
    EXPECT_EQ(p.WriteFailAction(), wfWriteAnyway);
    EXPECT_EQ(SetProtocolProperty(p, "AsciiCRTranslation", "aetAddLFAfter"), "");
    EXPECT_EQ(p.AsciiCRTranslation(), aetAddLFAfter);
    EXPECT_EQ(SetProtocolProperty(p, "KermitPadCharacter", "0"), "");
    EXPECT_EQ(p.KermitPadCharacter(), '\0');
    EXPECT_EQ(SetProtocolProperty(p, "KermitCtlPrefix", "&"), "");
    EXPECT_EQ(p.KermitCtlPrefix(), '&');
    EXPECT_EQ(SetProtocolProperty(p, "FileName", "out file.txt"), "");
    EXPECT_EQ(p.FileName(), "out file.txt");
    // Refused with a reason, the setting unchanged.
    EXPECT_NE(SetProtocolProperty(p, "NoSuchThing", "1").find("unknown protocol property"), std::string::npos);
    EXPECT_NE(SetProtocolProperty(p, "AsciiEOFTimeout", "-1"), "");
    EXPECT_NE(SetProtocolProperty(p, "AsciiEOFTimeout", "4294967296"), "");
    EXPECT_NE(SetProtocolProperty(p, "HonorDirectory", "maybe"), "");
    EXPECT_NE(SetProtocolProperty(p, "WriteFailAction", "5"), "");
    EXPECT_NE(SetProtocolProperty(p, "KermitCtlPrefix", "ab"), "");
    EXPECT_EQ(p.AsciiEOFTimeout(), 36u);
    EXPECT_EQ(p.WriteFailAction(), wfWriteAnyway);
    EXPECT_EQ(ProtocolPropertyNames().size(), 43u);
}

TEST(ProtocolComponent, TimeEstimateFollowsSpeedBlockAndOverhead)
{
    Protocol p;
    NullLine line;
    p.setComPort(&line);
    p.setProtocolType(ptZmodem);
    // 19200 bps = 1920 cps; 1024/(1024+20) -> 98 %; 1881 cps.
    EXPECT_EQ(p.EstimateTransferSecs(1881 * 10), 10u);
    EXPECT_EQ(p.EstimateTransferSecs(0), 0u);
    p.setTurnDelay(100); // 192 chars of turn-around per block
    EXPECT_EQ(p.EstimateTransferSecs(1000000), 1000000u / (1920 * (1024 * 100 / (1024 + 20 + 192)) / 100));
    line.baud = 0;
    EXPECT_EQ(p.EstimateTransferSecs(1000), 0u);
}

TEST(ProtocolComponent, MaskSearchErrorsEndTheTransfer)
{
    TempDir dir;
    NullLine line;
    struct Case {
        std::string mask;
        int code;
    };
    const std::vector<Case> cases = {
        {"", -ecNoSearchMask},
        {dir.str() + "/*.none", -ecNoMatchingFiles},
        {dir.str() + "/missing/*.*", -ecDirNotFound},
    };
    for (const auto& c : cases) {
        Protocol p;
        p.setProtocolType(ptZmodem);
        p.setComPort(&line);
        p.setFileMask(c.mask);
        int finished = 1;
        p.OnProtocolFinish = [&](Protocol&, int code) { finished = code; };
        ASSERT_EQ(p.BeginTransmit(), 0);
        // Answer the ZRQINIT with a ZRINIT so the sender asks for its first file.
        const std::string zrinit = "**\x18" "B0100000023be50\r\x8a\x11";
        p.lineData(reinterpret_cast<const uint8_t*>(zrinit.data()), zrinit.size());
        EXPECT_FALSE(p.InProgress()) << c.mask;
        EXPECT_EQ(finished, c.code) << c.mask;
    }
}

TEST(ProtocolComponent, OtherProtocolsAndMissingLineAreRefused)
{
    Protocol p;
    int finished = 1;
    p.OnProtocolFinish = [&](Protocol&, int code) { finished = code; };
    p.setProtocolType(ptZmodem);
    EXPECT_EQ(p.BeginReceive(), -2007);
    NullLine line;
    p.setComPort(&line);
    p.setProtocolType(ptBPlus);
    EXPECT_EQ(p.BeginReceive(), -ecBadProtocolFunction);
    EXPECT_EQ(finished, -ecBadProtocolFunction);
    // A one-file receive needs the file's name.
    for (TProtocolType t : {ptXmodem, ptXmodem1KG, ptAscii}) {
        p.setProtocolType(t);
        EXPECT_EQ(p.BeginReceive(), -ecNoFilename) << t;
        EXPECT_EQ(finished, -ecNoFilename) << t;
    }
    p.setProtocolType(ptZmodem);
    p.setAbortNoCarrier(true);
    line.dcd = false;
    EXPECT_EQ(p.BeginReceive(), -ecAbortNoCarrier);
    EXPECT_EQ(p.ProtocolStatus(), psAbortNoCarrier);
}

TEST(ProtocolComponent, StatusTextsAndFinishCodes)
{
    EXPECT_STREQ(StatusMessage(7), "File skipped ");
    EXPECT_STREQ(StatusMessage(11), "Duplicate block received and ignored ");
    EXPECT_STREQ(StatusMessage(21), "Got CrcQ packet (Zmodem)");
    EXPECT_STREQ(StatusMessage(24), "");
    EXPECT_EQ(FinishCodeForStatus(psFileRejected), -6011);
    EXPECT_EQ(FinishCodeForStatus(psCantWriteFile), -6012);
    EXPECT_EQ(FinishCodeForStatus(psTimeout), -6006);
    EXPECT_EQ(FinishCodeForStatus(psCancelRequested), -6005);
    EXPECT_EQ(FinishCodeForStatus(psGotCrcE), 0);
    EXPECT_EQ(ErrorText(-6008), "Too many errors during protocol");
    EXPECT_EQ(ErrorText(-2), "File not found");
    EXPECT_STREQ(ProtocolName(ptXmodem1KG), "Xmodem1KG");
    EXPECT_STREQ(BlockCheckName(bcmCrcK), "CrcKermit");
}

#include "platform/clock.h"
#include "protocols/status_values.h"

TEST(StatusValues, NamesTimesAndThroughput)
{
    EXPECT_EQ(ShortFileName("/a/b/short.txt"), "short.txt");
    EXPECT_EQ(ShortFileName("exactly18chars.txt"), "exactly18chars.txt");
    EXPECT_EQ(ShortFileName("/x/nineteen_chars1.txt"), "nineteen_chars1...");
    EXPECT_EQ(ShortFileName("C:\\DIR\\a_rather_long_file_name.bin"), "a_rather_long_f...");
    EXPECT_EQ(MinutesSeconds(0), "0:00");
    EXPECT_EQ(MinutesSeconds(65), "1:05");
    EXPECT_EQ(MinutesSeconds(3600), "60:00");

    // A transfer that has just started: throughput stays 0 during the first second.
    Protocol p;
    NullLine line;
    p.setComPort(&line);
    p.setProtocolType(ptZmodem);
    p.setFileName("/nonexistent/zelvo-file");
    ASSERT_EQ(p.BeginTransmit(), 0);
    StatusValues v = ComputeStatusValues(p);
    EXPECT_EQ(v.Protocol, "Zmodem");
    EXPECT_EQ(v.StatusMsg, "Protocol handshaking in progress");
    EXPECT_EQ(v.Throughput, "    0 CPS");
    EXPECT_EQ(v.Efficiency, "  0%");
    EXPECT_EQ(v.Meter, 0);
    p.CancelTransfer();
    p.service();
    EXPECT_FALSE(p.InProgress());
}

TEST(StatusValues, LinesWithoutARealRateGoByWhatIsMeasured)
{
    StatusInputs in;
    in.type = ptZmodem;
    in.baud = 115200;
    in.overhead = 20;
    in.nominalRate = true;
    in.transmitting = true;
    in.state.FileLength = 10000000;
    in.state.BytesRemaining = 10000000;
    in.state.BlockLength = 1024;
    in.state.fileStartMs = 1000;
    // Half a second in: nothing is known yet, and nothing is shown.
    in.nowMs = 1500;
    StatusValues v = ComputeStatusValues(in);
    EXPECT_EQ(v.EstimatedTime, "");
    EXPECT_EQ(v.RemainingTime, "");
    EXPECT_EQ(v.Efficiency, "");
    // Handshaking for three seconds: bytes crossed, but no file data yet.
    in.nowMs = 4000;
    in.state.LineBytesOut = 30;
    EXPECT_EQ(ComputeStatusValues(in).Efficiency, "");
    // Ten seconds in, 2 MB moved in 2.04 MB of line traffic.
    in.nowMs = 11000;
    in.state.BytesTransferred = 2000000;
    in.state.BytesRemaining = 8000000;
    in.state.LineBytesOut = 2040000;
    v = ComputeStatusValues(in);
    EXPECT_EQ(v.Throughput, "200000 CPS");
    EXPECT_EQ(v.EstimatedTime, "0:50");
    EXPECT_EQ(v.RemainingTime, "0:40");
    EXPECT_EQ(v.Efficiency, " 98%");
    // A real line's rate gives the estimates; a throughput beyond it is no more than 100%.
    in.nominalRate = false;
    v = ComputeStatusValues(in);
    EXPECT_EQ(v.EstimatedTime, MinutesSeconds(EstimateSecs(10000000, 115200, 1024, 20, 0)));
    EXPECT_EQ(v.Efficiency, "100%");
}

TEST(StatusValues, TransferSummaryLine)
{
    TransferRecord r;
    r.type = ptZmodem;
    r.elapsedMs = 1200;
    r.files.push_back({"/dl/image.bin", 153677, 153677});
    EXPECT_EQ(TransferSummary(r), "[Zmodem receive: image.bin, 153677 bytes in 1.2 s, 128.1 kB/s]");
    r.type = ptYmodem;
    r.transmit = true;
    r.elapsedMs = 125000;
    for (const char* n : {"/a/b.txt", "c\x1b[2J", "d", "e"})
        r.files.push_back({n, 10, 10});
    EXPECT_EQ(TransferSummary(r), "[Ymodem send: image.bin, b.txt, c?[2J and 2 more (5 files), 153717 bytes in 2:05, "
                                  "1.2 kB/s]");
    r.result = -ecCancelRequested;
    r.files.resize(1);
    EXPECT_EQ(TransferSummary(r), "[Ymodem send failed: Cancel requested; done before: image.bin, 153677 bytes in 2:05, "
                                  "1.2 kB/s]");
    r.files.clear();
    r.type = ptXmodem;
    r.transmit = false;
    r.result = -ecNoFilename;
    EXPECT_EQ(TransferSummary(r), "[Xmodem receive failed: No filename specified in protocol receive]");
}

TEST(ProtocolComponent, AssignSettingsCopiesEverySetting)
{
    Protocol a;
    a.setProtocolType(ptZmodem);
    a.setKermitMaxLen(0);
    a.setZmodemFileOption(zfoWriteClobber);
    a.setZmodem8K(true);
    a.setAsciiCRTranslation(aetAddLFAfter);
    a.setDestinationDirectory("/dl");
    Protocol b;
    b.AssignSettings(a);
    EXPECT_EQ(b.ProtocolType(), ptZmodem);
    EXPECT_EQ(b.KermitMaxLen(), 0u);
    EXPECT_EQ(b.ZmodemFileOption(), zfoWriteClobber);
    EXPECT_TRUE(b.Zmodem8K());
    EXPECT_EQ(b.AsciiCRTranslation(), aetAddLFAfter);
    EXPECT_EQ(b.DestinationDirectory(), "/dl");
    EXPECT_EQ(b.HandshakeWait(), 1092u);
}

TEST(ProtocolComponent, GeneralPreparationRenamesOrSkipsExistingFiles)
{
    TempDir dir;
    const std::string target = dir.str() + "/data.txt";
    writeFile(target, {'o', 'l', 'd'});
    Protocol p;
    // Default: rename to "$ata.txt"; a second time the '$' file is overwritten.
    for (int round = 0; round < 2; ++round) {
        std::string path = target;
        ASSERT_EQ(p.Host().prepareReceiveFile(path), 0);
        EXPECT_EQ(path, dir.str() + "/$ata.txt");
        const uint8_t data[] = {'n', static_cast<uint8_t>('0' + round)};
        ASSERT_EQ(p.Host().writeFile(0, data, 2), 0);
        ASSERT_EQ(p.Host().closeReceiveFile(true, 0), 0);
    }
    EXPECT_EQ(readFile(dir.path / "$ata.txt"), (std::vector<uint8_t>{'n', '1'}));
    EXPECT_EQ(readFile(target), (std::vector<uint8_t>{'o', 'l', 'd'}));

    p.setWriteFailAction(wfWriteFail);
    std::string path = target;
    EXPECT_EQ(p.Host().prepareReceiveFile(path), psCantWriteFile);
    EXPECT_EQ(p.ProtocolStatus(), psCantWriteFile);
    EXPECT_EQ(readFile(target), (std::vector<uint8_t>{'o', 'l', 'd'}));

    p.setWriteFailAction(wfWriteAnyway);
    ASSERT_EQ(p.Host().prepareReceiveFile(path), 0);
    EXPECT_EQ(path, target);
    ASSERT_EQ(p.Host().closeReceiveFile(true, 0), 0);
    EXPECT_TRUE(readFile(target).empty()) << "created anew";

    std::string missing = dir.str() + "/no/such/dir/x";
    EXPECT_EQ(p.Host().prepareReceiveFile(missing), -ENOENT);
}

// A link placed in the download folder, pointing out of it, is never written through,
// and directories of honoured names are made only below the destination.
TEST(ProtocolComponent, ReceivedNamesNeverGoThroughSymbolicLinks)
{
    TempDir dest, outside;
    writeFile(outside.path / "victim", {'k', 'e', 'e', 'p'});
    fs::create_symlink(outside.path / "victim", dest.path / "evil");
    fs::create_directory_symlink(outside.path, dest.path / "linkdir");
    Protocol p;
    p.setUpcaseFileNames(false);
    p.setDestinationDirectory(dest.str());
    std::string path;
    EXPECT_EQ(p.Host().resolveReceivedName("evil", path), psSkipFile);
    EXPECT_NE(p.Snapshot().Detail.find("symbolic link"), std::string::npos) << p.Snapshot().Detail;

    p.setHonorDirectory(true);
    EXPECT_EQ(p.Host().resolveReceivedName("linkdir/new/x", path), psSkipFile);
    EXPECT_FALSE(fs::exists(outside.path / "new")) << "no directory made through the link";
    ASSERT_EQ(p.Host().resolveReceivedName("sub/dir/x", path), 0);
    EXPECT_EQ(path, dest.str() + "/sub/dir/x");
    EXPECT_TRUE(fs::is_directory(dest.path / "sub" / "dir"));

    // The file preparation and the open refuse a link at the name as well.
    p.setWriteFailAction(wfWriteAnyway);
    std::string target = dest.str() + "/evil";
    EXPECT_EQ(p.Host().prepareReceiveFile(target), psCantWriteFile);
    EXPECT_LT(p.Host().openReceiveFile(dest.str() + "/evil", OpenMode::Create, 0), 0);
    EXPECT_EQ(readFile(outside.path / "victim"), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
}
