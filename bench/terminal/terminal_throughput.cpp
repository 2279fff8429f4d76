// bench_terminal_throughput [FILE] [--emulation none|ansi|vt100|vt52|ansibbs|xterm]
//
// Feeds a byte stream through an emulation into an 80 x 25 page with 200 rows of buffer
// (no painting) and prints the throughput; the same stream through libvterm (80 x 25,
// with a screen layer) is measured in the same run for comparison. Without FILE a stream
// of coloured text with cursor moves, erases and scrolling is generated; for xterm it
// also holds UTF-8 text (accented, box-drawing and wide characters), 256 and RGB colours,
// and libvterm reads it as UTF-8 too.

#include "terminal/buffer.h"
#include "terminal/emulator.h"
#include "terminal/emulator_type.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#ifdef ZELVO_HAVE_VTERM
#include <vterm.h>
#endif

using namespace zelvo::terminal;

namespace {

constexpr std::size_t kChunk = 4096; // bytes per read, as the window takes them from the port
constexpr int kRounds = 5;

std::string generateStream(std::size_t size, bool utf8)
{
    std::mt19937 engine(42);
    auto rng = [&engine] { return static_cast<unsigned>(engine()); };
    static const char* const words[] = {"interface", "GigabitEthernet0/1", "up", "down",
                                        "packets", "input", "output", "errors", "0", "1500",
                                        "bytes", "CRC", "frame", "overrun", "ignored", "abort"};
    static const char* const utf8Words[] = {"Gr\xc3\xb6\xc3\x9f" "e", "\xe2\x94\x80\xe2\x94\x80\xe2\x94\xa4",
                                            "\xe4\xb8\xad\xe6\x96\x87", "caf\xc3\xa9", "\xe2\x86\x92"};
    std::string s;
    s.reserve(size + 256);
    char seq[32];
    while (s.size() < size) {
        const unsigned pick = rng() % 100;
        if (pick < 12) {
            std::snprintf(seq, sizeof seq, "\x1b[%u;%um", rng() % 2, 30 + rng() % 8);
            s += seq;
        } else if (pick < 15) {
            std::snprintf(seq, sizeof seq, "\x1b[%u;%uH", 1 + rng() % 25, 1 + rng() % 80);
            s += seq;
        } else if (pick < 17) {
            s += "\x1b[K";
        } else if (pick < 18) {
            s += "\x1b[0m";
        } else if (pick < 30) {
            s += "\r\n";
        } else if (pick < 31) {
            std::snprintf(seq, sizeof seq, "\x1b[%uA\x1b[%uC", 1 + rng() % 5, 1 + rng() % 20);
            s += seq;
        } else if (pick == 31 && rng() % 20 == 0) {
            s += "\x1b[2J\x1b[H";
        } else if (utf8 && pick < 36) {
            s += utf8Words[rng() % (sizeof utf8Words / sizeof utf8Words[0])];
            s += ' ';
        } else if (utf8 && pick < 38) {
            std::snprintf(seq, sizeof seq, "\x1b[38;5;%u;48;2;%u;%u;%um", rng() % 256, rng() % 256,
                          rng() % 256, rng() % 256);
            s += seq;
        } else {
            s += words[rng() % (sizeof words / sizeof words[0])];
            s += ' ';
        }
    }
    return s;
}

template <typename Feed>
double measure(const std::string& data, int repeat, Feed feed)
{
    double best = 0;
    for (int round = 0; round < kRounds; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int r = 0; r < repeat; ++r)
            for (std::size_t off = 0; off < data.size(); off += kChunk)
                feed(data.data() + off, std::min(kChunk, data.size() - off));
        const double secs =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double mbps = static_cast<double>(data.size()) * repeat / secs / 1e6;
        best = std::max(best, mbps);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    EmulatorType type = etANSI;
    std::string typeName = "ansi";
    std::string file;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            std::printf("Usage: bench_terminal_throughput [FILE] [--emulation "
                        "none|ansi|vt100|vt52|ansibbs|xterm]\n");
            return 0;
        }
        if (arg == "--emulation" && i + 1 < argc) {
            typeName = argv[++i];
            if (!emulatorTypeFromName(typeName, type)) {
                std::fprintf(stderr, "bench_terminal_throughput: unknown emulation %s\n", typeName.c_str());
                return 2;
            }
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "bench_terminal_throughput: unknown option %s\n", arg.c_str());
            return 2;
        } else {
            file = arg;
        }
    }

    std::string data;
    if (file.empty()) {
        data = generateStream(8 << 20, type == etXterm);
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "bench_terminal_throughput: cannot open %s\n", file.c_str());
            return 2;
        }
        data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (data.empty()) {
            std::fprintf(stderr, "bench_terminal_throughput: %s is empty\n", file.c_str());
            return 2;
        }
    }
    // At least 32 MB per round so the clock has something to measure.
    const int repeat = static_cast<int>(std::max<std::size_t>(1, (32u << 20) / data.size()));

    Buffer buffer;
    buffer.bNewBuffer(200, 80, 25);
    Emulator emulator(type);
    emulator.setBuffer(&buffer);
    const double ours = measure(data, repeat, [&](const char* p, std::size_t n) {
        buffer.processBlock(reinterpret_cast<const uint8_t*>(p), n);
        buffer.bNeedPaint();
    });
    std::printf("stream size: %.1f MB\n", static_cast<double>(data.size()) / 1e6);
    std::printf("terminal throughput (%s): %.1f MB/s\n", typeName.c_str(), ours);

#ifdef ZELVO_HAVE_VTERM
    VTerm* vt = vterm_new(25, 80);
    vterm_set_utf8(vt, type == etXterm ? 1 : 0);
    VTermScreen* screen = vterm_obtain_screen(vt);
    vterm_screen_reset(screen, 1);
    const double theirs = measure(data, repeat, [&](const char* p, std::size_t n) {
        vterm_input_write(vt, p, n);
    });
    vterm_free(vt);
    std::printf("libvterm throughput: %.1f MB/s\n", theirs);
    std::printf("ratio to libvterm: %.2f x\n", ours / theirs);
#else
    std::printf("libvterm throughput: not measured (libvterm not found)\n");
#endif
    return 0;
}
