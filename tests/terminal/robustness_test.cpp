// Hostile input: whatever bytes arrive, every emulation leaves the buffer consistent (the
// cursor on the page, margins inside it, the display inside the buffer) and returns.
// The fuzz target checks the same on generated input; inputs it found are replayed here.

#include "screen_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace zelvo::terminal::test {
namespace {

void expectConsistent(const Buffer& b)
{
    ASSERT_GE(b.ViewRow(), 0);
    ASSERT_LE(b.ViewRow() + b.PageHeight(), b.Rows());
    ASSERT_GE(b.pageRow(), 0);
    ASSERT_LT(b.pageRow(), b.PageHeight());
    ASSERT_GE(b.column(), 0);
    ASSERT_LT(b.column(), b.Cols());
    ASSERT_GE(b.TopMargin(), 1);
    ASSERT_LE(b.TopMargin(), b.BottomMargin());
    ASSERT_LE(b.BottomMargin(), b.PageHeight());
    ASSERT_GE(b.displayTop(), 0);
    ASSERT_LE(b.displayTop() + b.displayRows(), b.Rows());
    ASSERT_LE(b.highestRow(), b.Rows() - 1);
}

TEST(TermRobustness, RandomStreamsThroughEveryEmulation)
{
    std::mt19937 rng(12345);
    // Bytes biased towards what drives the parser.
    const std::string alphabet = "\x1b[;?=()0123456789HJKLMABCDEFGmnrsuhlcZ78\r\n\b\t\x0c\x0e"
                                 "@IPWXYZadefgRqx ";
    for (EmulatorType t : {etANSI, etVT100, etVT52, etANSIBBS, etNone, etXterm}) {
        for (int shape = 0; shape < 4; ++shape) {
            const int cols = 1 + static_cast<int>(rng() % 133);
            const int page = 1 + static_cast<int>(rng() % 30);
            const int rows = page + static_cast<int>(rng() % 40);
            Screen s(t, cols, page, rows);
            s.buffer.setDisplaySize(1 + static_cast<int>(rng() % 40), 1 + static_cast<int>(rng() % 140));
            for (int chunk = 0; chunk < 200; ++chunk) {
                std::string bytes;
                const int n = static_cast<int>(rng() % 64);
                for (int i = 0; i < n; ++i)
                    bytes += (rng() % 4 == 0) ? static_cast<char>(rng() % 256)
                                              : alphabet[rng() % alphabet.size()];
                s.feed(bytes);
                s.buffer.bNeedPaint();
                expectConsistent(s.buffer);
            }
        }
    }
}

TEST(TermRobustness, HugeNumbersAndLongSequences)
{
    for (EmulatorType t : {etANSI, etVT100, etXterm}) {
        Screen s(t, 80, 25, 200);
        s.feed("\x1b[" + std::string(1000, '9') + ";" + std::string(1000, '9') + "H");
        expectConsistent(s.buffer);
        EXPECT_EQ(s.cursor(), std::make_pair(24, 79));
        s.feed("\x1b[" + std::string(5000, ';') + "H" + "\x1b[" + std::string(3000, '?') + "h");
        expectConsistent(s.buffer);
        s.feed("\x1b[99999L\x1b[99999M\x1b[99999@\x1b[99999P\x1b[99999X\x1b[99999I\x1b[99999Z");
        expectConsistent(s.buffer);
        s.feed("\x1b[99999;1r\x1b[1;99999r\x1b[0;0r\n\n\n\x1b[99999S");
        expectConsistent(s.buffer);
    }
}

TEST(TermRobustness, TruncatedSequenceAtEndOfInputContinuesLater)
{
    Screen s(etVT100);
    s.feed("ab\x1b[3");
    s.feed(";5Hx");
    EXPECT_EQ(s.line(2), "    x");
}

TEST(TermRobustness, ReplayFuzzFindings)
{
    const std::filesystem::path dir = std::filesystem::path(ZELVO_SOURCE_DIR) / "fuzz/terminal/regressions/fuzz_terminal_emulators";
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        const std::string data = ss.str();
        for (EmulatorType t : {etANSI, etVT100, etVT52, etANSIBBS, etNone, etXterm}) {
            Screen s(t, 80, 25, 200);
            s.feed(data);
            expectConsistent(s.buffer);
        }
    }
}

} // namespace
} // namespace zelvo::terminal::test
