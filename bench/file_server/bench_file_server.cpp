// Benchmarks of the file server, printed as "name: value unit" lines (per CPU second):
//  - 1024-byte reads served from the page cache, counting the request's receive byte by
//    byte, the dispatch and the packing of the reply (text and random file contents);
//  - the window encoder's packing ratio and speed on text and on random data, and the
//    run-length encoder's speed.

#include "file_server/nerrit.h"
#include "file_server/run_length_codec.h"
#include "file_server/server_instance.h"
#include "file_server/window_codec.h"

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

// Time is the thread's CPU time: the figures then hold on a shared, loaded machine too,
// where wall time would mostly measure other processes.
struct Clock {
    using time_point = std::chrono::duration<double>;
    static time_point now()
    {
        struct timespec ts;
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return time_point(double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9);
    }
};
using Bytes = std::vector<uint8_t>;

uint32_t crc(const uint8_t* d, size_t n)
{
    uint32_t c = 0;
    for (size_t i = 0; i < n; ++i) {
        c ^= d[i];
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    return c;
}

Bytes packet(uint16_t code, const Bytes& payload, uint16_t owner = 1)
{
    const uint16_t length = uint16_t(16 + payload.size());
    Bytes p = {0x4B, 0x59, uint8_t(length), uint8_t(length >> 8), uint8_t(~length), uint8_t(~length >> 8),
               uint8_t(code), uint8_t(code >> 8), 0, 0, 0, 0, uint8_t(owner), uint8_t(owner >> 8), 0, 0};
    p.insert(p.end(), payload.begin(), payload.end());
    const uint32_t c = crc(p.data(), p.size());
    for (int k = 0; k < 4; ++k)
        p.push_back(uint8_t(c >> (8 * k)));
    return p;
}

// Plain English-like text: words from a small vocabulary, lines of varying length.
std::string makeText(size_t n)
{
    static const char* words[] = {"the", "file", "server", "answers", "each", "request", "of", "a", "client",
                                  "on", "serial", "line", "with", "data", "from", "disk", "and", "packs",
                                  "its", "reply", "before", "sending", "it", "back", "to", "far", "side"};
    std::mt19937 rng(42);
    std::string s;
    size_t col = 0;
    while (s.size() < n) {
        const char* w = words[rng() % (sizeof words / sizeof *words)];
        s += w;
        col += std::char_traits<char>::length(w) + 1;
        if (col > 60 + rng() % 15) {
            s += "\n";
            col = 0;
        } else {
            s += " ";
        }
    }
    s.resize(n);
    return s;
}

Bytes makeRandom(size_t n)
{
    std::mt19937 rng(7);
    Bytes b(n);
    for (uint8_t& x : b)
        x = uint8_t(rng());
    return b;
}

struct Served {
    double perSecond;
    double packedShare; // share of reply bytes after packing
};

Served serveReads(const std::string& file)
{
    unsigned char buf[1052];
    auto call = [&buf](const Bytes& p) {
        int32_t pos = 0;
        for (uint8_t b : p)
            pos = ServerReceive(buf, pos, b);
        if (pos != 0) {
            std::fprintf(stderr, "request refused\n");
            std::exit(1);
        }
        return ServerDispatch(buf);
    };
    Bytes open = {0, 0};
    for (char c : file)
        open.push_back(uint8_t(c));
    open.push_back(0);
    call(packet(14, open));
    if (buf[6] != 0) {
        std::fprintf(stderr, "open failed: %d\n", buf[6]);
        std::exit(1);
    }
    // Reads at 64 different offsets, all within the cached file.
    std::vector<Bytes> reads;
    for (uint32_t i = 0; i < 64; ++i) {
        const uint32_t offset = i * 1024;
        reads.push_back(packet(5, {0, 0, uint8_t(offset), uint8_t(offset >> 8), uint8_t(offset >> 16), 0, 0, 4}));
    }
    uint32_t before[10];
    ServerStatistic(before);
    const auto start = Clock::now();
    size_t n = 0;
    double elapsed = 0;
    do {
        for (int k = 0; k < 64; ++k)
            call(reads[(n + size_t(k)) % reads.size()]);
        n += 64;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < 1.5);
    uint32_t after[10];
    ServerStatistic(after);
    call(packet(3, {0, 0}));
    return {double(n) / elapsed, double(after[5] - before[5]) / double(after[3] - before[3])};
}

void encoderFigures(const char* name, const Bytes& data)
{
    static zelvo::file_server::WindowEncoder encoder;
    const size_t block = 1032;
    Bytes out(block + 8);
    size_t inBytes = 0;
    size_t outBytes = 0;
    const auto start = Clock::now();
    double elapsed = 0;
    size_t rounds = 0;
    do {
        for (size_t at = 0; at + block <= data.size(); at += block) {
            const int n = encoder.encode(data.data() + at, block, out.data());
            inBytes += block;
            outBytes += n < 0 ? block : size_t(n);
        }
        ++rounds;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < 1.0);
    std::printf("window encoder %s ratio: %.3f packed/plain\n", name, double(outBytes) / double(inBytes));
    std::printf("window encoder %s speed: %.1f MB/s\n", name, double(inBytes) / elapsed / 1e6);

    Bytes runOut(block + 8);
    inBytes = 0;
    const auto runStart = Clock::now();
    do {
        for (size_t at = 0; at + block <= data.size(); at += block) {
            zelvo::file_server::runLengthEncode(data.data() + at, block, runOut.data());
            inBytes += block;
        }
        elapsed = std::chrono::duration<double>(Clock::now() - runStart).count();
    } while (elapsed < 0.5);
    std::printf("run-length encoder %s speed: %.1f MB/s\n", name, double(inBytes) / elapsed / 1e6);
}

} // namespace

int main()
{
    char tmpl[] = "/tmp/rfs-bench-XXXXXX";
    if (!::mkdtemp(tmpl))
        return 1;
    const std::string base = tmpl;
    std::filesystem::create_directories(base + "/config/zelvo32");
    std::filesystem::create_directories(base + "/c");
    std::ofstream(base + "/config/zelvo32/registry.reg")
        << "[software\\brunmo\\zelvo32\\rfs]\n\"C\"=\"" << base << "/c\"\n";
    ::setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
    const std::string text = makeText(1 << 17);
    const Bytes noise = makeRandom(1 << 17);
    std::ofstream(base + "/c/TEXT.TXT", std::ios::binary) << text;
    std::ofstream(base + "/c/RANDOM.BIN", std::ios::binary).write(reinterpret_cast<const char*>(noise.data()),
                                                                std::streamsize(noise.size()));

    const Served t = serveReads("C:\\TEXT.TXT");
    std::printf("read 1024 bytes text: %.0f requests/s\n", t.perSecond);
    std::printf("read 1024 bytes text reply size: %.3f packed/plain\n", t.packedShare);
    const Served r = serveReads("C:\\RANDOM.BIN");
    std::printf("read 1024 bytes random: %.0f requests/s\n", r.perSecond);
    std::printf("read 1024 bytes random reply size: %.3f packed/plain\n", r.packedShare);

    encoderFigures("text", Bytes(text.begin(), text.end()));
    encoderFigures("random", noise);

    zelvo::file_server::resetServer();
    std::filesystem::remove_all(base);
    return 0;
}
