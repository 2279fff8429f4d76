// What the terminal makes of received bytes beside the emulation: timestamps at line
// starts (also in the capture file), LF taken as CR LF, and the hex dump of the bytes
// as they arrived.

#include "screen_fixture.h"
#include "terminal/byte_history.h"
#include "terminal/hex_dump.h"
#include "terminal/receive_filter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace zelvo::terminal::test {
namespace {

namespace fs = std::filesystem;

// A clock that stands still until the test moves it.
class FakeClock : public StampClock {
public:
    StampTime now() const override
    {
        StampTime t;
        t.steadyMs = ms;
        const int64_t day = (wallStartMs + ms) % 86400000;
        t.hour = int(day / 3600000);
        t.minute = int(day / 60000 % 60);
        t.second = int(day / 1000 % 60);
        t.millisecond = int(day % 1000);
        return t;
    }
    int64_t ms = 1000;
    int64_t wallStartMs = (23 * 3600 + 59 * 60 + 58) * 1000LL; // 23:59:58.000 at ms 0
};

std::string filtered(ReceiveFilter& f, const std::string& in)
{
    std::vector<uint8_t> out;
    f.apply(reinterpret_cast<const uint8_t*>(in.data()), in.size(), out);
    return std::string(out.begin(), out.end());
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(ReceiveTimestamps, EachLineOfTheCaptureFileCarriesTheTimeItBegan)
{
    char tmpl[] = "/tmp/zelvo-stamps-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    const std::string file = dir + "/stamped.log";

    FakeClock clock;
    ReceiveFilter filter(clock);
    Screen screen(etANSI, 40, 5, 12);
    ASSERT_EQ(screen.buffer.bSetCapture(true, false, file), 0);
    filter.setTimestamps(TimestampMode::tsTimeOfDay, true);

    auto receive = [&](const std::string& bytes) { screen.feed(filtered(filter, bytes)); };
    receive("boot");          // the line begins at 23:59:59.000 ...
    clock.ms += 750;
    receive(" ok\r\n");       // ... and ends later: one stamp, the time it began
    clock.ms += 1;
    receive("\x1b[1mready\x1b[0m\r\n"); // the stamp follows a sequence that opens a line
    clock.ms += 250;
    receive("\r\n");          // an empty line still shows when it came
    clock.ms += 1;            // past midnight
    receive("12%\r34%\r");    // a counter redrawing its line: one stamp, not one per CR
    receive("done\n");

    filter.setTimestamps(TimestampMode::tsSincePrevious, true);
    clock.ms += 1500;
    receive("a\r\n");         // counts from the switch
    clock.ms += 62042;
    receive("b\n\rc");        // "\n\r" line ends are one line each too
    ASSERT_EQ(screen.buffer.bSetCapture(false, false, file), 0);

    // The capture file keeps text lines: LF line ends, carriage returns left out.
    EXPECT_EQ(readFile(file),
              "[23:59:59.000] boot ok\n"
              "[23:59:59.751] ready\n"
              "[00:00:00.001] \n"
              "[00:00:00.002] 12%34%done\n"
              "[+1.500] a\n"
              "[+62.042] b\n"
              "[+0.000] c");
    EXPECT_EQ(screen.line(3), "[+62.042] b") << "the screen shows the stamps too";
    EXPECT_EQ(screen.line(4), "[+0.000] c");
    fs::remove_all(dir);
}

TEST(ReceiveTimestamps, SwitchedOnMidLineTheNextLineIsTheFirstStamped)
{
    FakeClock clock;
    ReceiveFilter f(clock);
    EXPECT_EQ(filtered(f, "login: "), "login: ");
    f.setTimestamps(TimestampMode::tsTimeOfDay, false);
    EXPECT_EQ(filtered(f, "root\r\nPassword:"), "root\r\n[23:59:59.000] Password:");
    f.setTimestamps(TimestampMode::tsOff, true);
    EXPECT_EQ(filtered(f, "\r\n$ "), "\r\n$ ");
    EXPECT_TRUE(f.passThrough());
}

TEST(ReceiveTimestamps, ControlsAndSequencesBeforeALinesTextGoAheadOfTheStamp)
{
    FakeClock clock;
    ReceiveFilter f(clock);
    f.setTimestamps(TimestampMode::tsTimeOfDay, true);
    // A shell after Enter switches a mode off and returns to column 0 before the output;
    // a stamp before the CR would be overwritten by the text.
    const std::string shell = filtered(f, "\x1b[?2004l\rline 1\r\n");
    EXPECT_EQ(shell, "\x1b[?2004l\r[23:59:59.000] line 1\r\n");
    Screen screen(etANSI, 40, 3, 8);
    screen.feed(shell);
    EXPECT_EQ(screen.line(0), "[23:59:59.000] line 1");
    // A title string (ended by ST), a VT52 cursor address whose operands are printable,
    // then a tab, which is text.
    EXPECT_EQ(filtered(f, "\x1b]0;a [b]\x1b\\\x1bY!!\tx\n"),
              "\x1b]0;a [b]\x1b\\\x1bY!![23:59:59.000] \tx\n");
}

TEST(ReceiveLineEnds, LfImpliesCrAddsOnlyTheMissingReturns)
{
    ReceiveFilter f;
    f.setLfImpliesCr(true);
    // LF alone, CR LF already there (also split over two reads), LF LF.
    EXPECT_EQ(filtered(f, "one\ntwo\r\nthree\r"), "one\r\ntwo\r\nthree\r");
    EXPECT_EQ(filtered(f, "\n\n"), "\n\r\n");

    Screen screen(etANSI, 20, 4, 8);
    screen.feed(filtered(f, "abc\ndef\n\tg"));
    EXPECT_EQ(screen.line(0), "abc");
    EXPECT_EQ(screen.line(1), "def") << "the second line starts in column 0";
    EXPECT_EQ(screen.line(2), "        g");

    f.setLfImpliesCr(false);
    Screen plain(etANSI, 20, 4, 8);
    plain.feed(filtered(f, "abc\ndef"));
    EXPECT_EQ(plain.line(1), "   def") << "without it a bare LF only moves down";
}

TEST(HexDump, EveryByteValueHasItsDigitsAndItsCharacter)
{
    uint8_t all[256];
    for (int i = 0; i < 256; ++i)
        all[i] = uint8_t(i);
    const std::string dump = hexDump(0, all, sizeof all);
    std::vector<std::string> rows;
    std::istringstream in(dump);
    for (std::string row; std::getline(in, row);)
        rows.push_back(row);
    ASSERT_EQ(rows.size(), 16u);
    EXPECT_EQ(rows[0], "00000000  00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  |................|");
    EXPECT_EQ(rows[2], "00000020  20 21 22 23 24 25 26 27  28 29 2A 2B 2C 2D 2E 2F  | !\"#$%&'()*+,-./|");
    EXPECT_EQ(rows[7], "00000070  70 71 72 73 74 75 76 77  78 79 7A 7B 7C 7D 7E 7F  |pqrstuvwxyz{|}~.|");
    EXPECT_EQ(rows[15], "000000F0  F0 F1 F2 F3 F4 F5 F6 F7  F8 F9 FA FB FC FD FE FF  |................|");
    // Each value appears once in the hex columns and maps to itself or a dot.
    for (int i = 0; i < 256; ++i) {
        const std::string& row = rows[size_t(i / 16)];
        const size_t col = 10 + size_t(i % 16) * 3 + (i % 16 >= 8 ? 1 : 0);
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", i);
        EXPECT_EQ(row.substr(col, 2), hex) << i;
        const char shown = row[61 + size_t(i % 16)];
        EXPECT_EQ(shown, i >= 0x20 && i < 0x7F ? char(i) : '.') << i;
    }
    for (const auto& row : rows)
        EXPECT_EQ(row.size(), kHexRowWidth);

    // A short row keeps the character column; offsets grow past eight digits.
    const uint8_t hi[3] = {'O', 'K', '\n'};
    const std::string shortRow = hexDumpRow(0x123456780ull, hi, 3);
    EXPECT_EQ(shortRow, "123456780  4F 4B 0A                                          |OK.|");
    EXPECT_EQ(hexDumpRow(0, hi, 3).find('|'), rows[0].find('|'));
}

TEST(HexHistory, KeepsTheNewestBytesInWholeRowsWithTheirOffsets)
{
    ByteHistory h(40); // rounded to 48 bytes, three rows
    EXPECT_EQ(h.capacity(), 48u);
    std::vector<uint8_t> bytes(100);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i);

    h.append(bytes.data(), 20);
    EXPECT_EQ(h.rowCount(), 2u);
    EXPECT_EQ(h.rowText(1), hexDumpRow(16, bytes.data() + 16, 4));
    h.append(bytes.data() + 20, 30); // 50 bytes: the oldest row leaves
    EXPECT_EQ(h.total(), 50u);
    EXPECT_EQ(h.firstOffset(), 16u);
    ASSERT_EQ(h.rowCount(), 3u);
    for (size_t r = 0; r < 3; ++r) {
        const uint8_t* row = nullptr;
        const size_t n = h.row(r, &row);
        ASSERT_EQ(n, r < 2 ? 16u : 2u);
        EXPECT_EQ(row[0], uint8_t(16 + 16 * r)) << "row " << r << " starts at its offset";
    }
    // One read larger than the whole history: only the newest rows stay, on row starts.
    h.append(bytes.data(), 100);
    EXPECT_EQ(h.total(), 150u);
    EXPECT_EQ(h.firstOffset() % 16, 0u);
    EXPECT_LE(h.size(), h.capacity());
    EXPECT_GE(h.size(), h.capacity() - 15);
    const uint8_t* row = nullptr;
    ASSERT_EQ(h.row(0, &row), 16u);
    EXPECT_EQ(row[0], uint8_t(h.firstOffset() - 50)) << "the bytes match their offsets";
    EXPECT_EQ(h.row(h.rowCount(), &row), 0u);
}

} // namespace
} // namespace zelvo::terminal::test
