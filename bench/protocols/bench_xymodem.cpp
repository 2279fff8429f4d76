// Xmodem-1K and Ymodem benchmark: ours to ours over pseudo-terminal pairs, beside lrzsz
// (sx -k to rx -c, sb -k to rb) in the same run.
//
//   bench_xymodem [--quick]
//
// Throughput: 4 MiB of random data through an unlimited relay, the best of three runs
// taken in turns. Efficiency: 1 MiB through a relay limited to 11,520 bytes/s each way
// (a 115200 bps line), as bytes per second divided by 11,520, also for the streaming
// types. --quick skips the rate-limited runs (about 90 s each).
// Output: one "name: value unit" line per figure.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "bench_rig.h"
#include "protocols/direct_line.h"
#include "protocols/protocol.h"

using namespace zelvo;
using namespace zelvo::protocols;
using namespace zelvo::bench;

namespace {

// The received copy: the file, then nothing but SUB fill (Xmodem carries no length).
bool paddedSame(const std::string& sent, const std::string& got)
{
    std::ifstream a(sent, std::ios::binary), b(got, std::ios::binary);
    const std::vector<char> x{std::istreambuf_iterator<char>(a), {}};
    const std::vector<char> y{std::istreambuf_iterator<char>(b), {}};
    if (y.size() < x.size() || y.size() - x.size() >= 1024 || !std::equal(x.begin(), x.end(), y.begin()))
        return false;
    return std::all_of(y.begin() + static_cast<std::ptrdiff_t>(x.size()), y.end(), [](char c) { return c == 0x1A; });
}

// One end of ours on the slave of a pty.
struct OurEnd {
    Protocol p;
    DirectLine line;
    OurEnd(TProtocolType type, Pty& pty)
    {
        p.setProtocolType(type);
        p.setUpcaseFileNames(false);
        line.adopt(::dup(pty.slave), 115200);
        p.setComPort(&line);
    }
};

// Seconds until the receiver has the whole file, or -1 when the copy is wrong.
double run(TProtocolType type, bool lrzsz, const std::string& src, const std::string& name, uint32_t rate)
{
    const bool batch = type == ptYmodem || type == ptYmodemG;
    const std::string dst = tempDir();
    const std::string got = dst + "/" + (batch ? name : std::string("copy.bin"));
    double secs = -1;
    {
        Pty a, b;
        Relay relay(a.master, b.master, rate);
        const int64_t t0 = platform::monotonicMs();
        int64_t t1 = 0;
        bool ok = false;
        if (lrzsz) {
            const std::vector<std::string> rxArgv = batch ? std::vector<std::string>{"rb", "-q"}
                                                          : std::vector<std::string>{"rx", "-q", "-c", "copy.bin"};
            const std::vector<std::string> txArgv = batch ? std::vector<std::string>{"sb", "-q", "-k", name}
                                                          : std::vector<std::string>{"sx", "-q", "-k", name};
            ReceiverWatch rx(spawn(rxArgv, b, dst));
            const pid_t tx = spawn(txArgv, a, src);
            const int rxStatus = rx.join();
            ok = rxStatus == 0;
            t1 = rx.endMs;
            const int txStatus = reap(tx);
            if (!ok)
                std::fprintf(stderr, "%s ended with %d, %s with %d\n", rxArgv[0].c_str(), rxStatus, txArgv[0].c_str(), txStatus);
        } else {
            OurEnd tx(type, a), rx(type, b);
            tx.p.setFileName(src + "/" + name);
            if (batch) {
                rx.p.setDestinationDirectory(dst);
            } else {
                rx.p.setDestinationDirectory("");
                rx.p.setFileName(got);
            }
            std::atomic<int64_t> rxEnd{0};
            int rxResult = -1;
            std::thread receiver([&] {
                rxResult = rx.p.BeginReceive() == 0 ? rx.line.run(rx.p) : -1;
                rxEnd = platform::monotonicMs();
            });
            const int txResult = tx.p.BeginTransmit() == 0 ? tx.line.run(tx.p) : -1;
            receiver.join();
            ok = rxResult == 0 && txResult == 0;
            t1 = rxEnd;
            tx.line.close();
            rx.line.close();
        }
        const bool same = batch ? sameFile(src + "/" + name, got) : paddedSame(src + "/" + name, got);
        if (ok && same)
            secs = static_cast<double>(t1 - t0) / 1000.0;
    }
    std::filesystem::remove_all(dst);
    return secs;
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    if (argc > 2 && std::strcmp(argv[1], "--probe") == 0) {
        // One rate-limited lrzsz Ymodem run of a given size, for looking into it.
        const std::string dir = tempDir();
        makeFile(dir + "/probe.bin", std::strtoul(argv[2], nullptr, 10), false);
        std::printf("sb -k to rb: %.3f s\n", run(ptYmodem, true, dir, "probe.bin", 11520));
        std::filesystem::remove_all(dir);
        return 0;
    }
    const std::string src = tempDir();
    const size_t big = 4u << 20;
    makeFile(src + "/random4.bin", big, false);
    makeFile(src + "/random1.bin", 1u << 20, false);

    auto mbps = [](double secs, size_t n) { return secs > 0 ? n / secs / 1e6 : -1.0; };
    struct Pairing {
        const char* name;
        TProtocolType type;
        bool lrzsz;
    };
    const Pairing pairings[] = {
        {"sx -k to rx -c 4 MiB", ptXmodem1K, true},
        {"zelvo Xmodem-1K 4 MiB", ptXmodem1K, false},
        {"sb -k to rb 4 MiB", ptYmodem, true},
        {"zelvo Ymodem 4 MiB", ptYmodem, false},
    };
    // The machine may be shared: the best of three runs, taken in turns so that all
    // pairings see the same conditions.
    double best[4] = {-1, -1, -1, -1};
    for (int round = 0; round < 3; ++round)
        for (int k = 0; k < 4; ++k)
            best[k] = std::max(best[k], mbps(run(pairings[k].type, pairings[k].lrzsz, src, "random4.bin", 0), big));
    for (int k = 0; k < 4; ++k)
        report(pairings[k].name, best[k], "MB/s");

    if (!quick) {
        const double line = 11520.0;
        auto eff = [&](double secs) { return secs > 0 ? (1u << 20) / secs / line : -1.0; };
        report("sx -k to rx -c efficiency", eff(run(ptXmodem1K, true, src, "random1.bin", 11520)), "");
        report("zelvo Xmodem-1K efficiency", eff(run(ptXmodem1K, false, src, "random1.bin", 11520)), "");
        report("sb -k to rb efficiency", eff(run(ptYmodem, true, src, "random1.bin", 11520)), "");
        report("zelvo Ymodem efficiency", eff(run(ptYmodem, false, src, "random1.bin", 11520)), "");
        report("zelvo Xmodem-1K-G efficiency", eff(run(ptXmodem1KG, false, src, "random1.bin", 11520)), "");
        report("zelvo Ymodem-G efficiency", eff(run(ptYmodemG, false, src, "random1.bin", 11520)), "");
    }
    std::filesystem::remove_all(src);
    return 0;
}
