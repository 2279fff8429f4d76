// Zmodem benchmark: our sender and receiver against lrzsz over pseudo-terminal pairs,
// beside sz -> rz in the same run.
//
//   bench_zmodem [--quick]
//
// Throughput: 64 MiB of random data through an unlimited relay. Efficiency: 1 MiB
// through a relay limited to 11,520 bytes/s each way (a 115200 bps line), as bytes per
// second divided by 11,520, for random data with 1K and 8K subpackets and for plain
// text. --quick skips the rate-limited runs (they take about 90 s each).
// Output: one "name: value unit" line per figure.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "bench_rig.h"
#include "protocols/direct_line.h"
#include "protocols/protocol.h"

using namespace zelvo;
using namespace zelvo::protocols;
using namespace zelvo::bench;

namespace {

enum class Who { SzToRz, OursToRz, SzToOurs };

// Returns seconds for the transfer of src/name into a fresh directory, or -1 on failure.
double run(Who who, const std::string& src, const std::string& name, uint32_t rate, bool eightK)
{
    const std::string dst = tempDir();
    double secs = -1;
    {
        Pty a, b;
        Relay relay(a.master, b.master, rate);
        const int64_t t0 = platform::monotonicMs();
        int64_t t1 = 0;
        bool ok = false;
        if (who == Who::SzToRz) {
            std::vector<std::string> sz = {"sz", "-q"};
            if (eightK)
                sz.push_back("-8");
            sz.push_back(name);
            ReceiverWatch rx(spawn({"rz", "-q"}, b, dst));
            const pid_t tx = spawn(sz, a, src);
            ok = rx.join() == 0;
            t1 = rx.endMs;
            reap(tx);
        } else {
            Protocol p;
            p.setProtocolType(ptZmodem);
            p.setUpcaseFileNames(false);
            p.setZmodem8K(eightK);
            p.setFinishWait(91);
            DirectLine line;
            line.adopt(::dup(a.slave), 115200);
            p.setComPort(&line);
            if (who == Who::OursToRz) {
                ReceiverWatch rx(spawn({"rz", "-q"}, b, dst));
                p.setFileName(src + "/" + name);
                const int rc = p.BeginTransmit() == 0 ? line.run(p) : -1;
                ok = rx.join() == 0 && rc == 0;
                t1 = rx.endMs;
            } else {
                std::vector<std::string> sz = {"sz", "-q"};
                if (eightK)
                    sz.push_back("-8");
                sz.push_back(name);
                const pid_t tx = spawn(sz, b, src);
                p.setDestinationDirectory(dst);
                const int rc = p.BeginReceive() == 0 ? line.run(p) : -1;
                t1 = platform::monotonicMs();
                ok = rc == 0;
                reap(tx);
            }
            line.close();
        }
        if (ok && sameFile(src + "/" + name, dst + "/" + name))
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
        // One rate-limited run of a given size, for looking into efficiency.
        const std::string dir = tempDir();
        const size_t n = std::strtoul(argv[2], nullptr, 10);
        makeFile(dir + "/probe.bin", n, false);
        const double a = run(Who::SzToRz, dir, "probe.bin", 11520, false);
        const double b = run(Who::OursToRz, dir, "probe.bin", 11520, false);
        const double c = run(Who::SzToOurs, dir, "probe.bin", 11520, false);
        std::printf("sz->rz %.3f s, ours->rz %.3f s, sz->ours %.3f s\n", a, b, c);
        std::filesystem::remove_all(dir);
        return 0;
    }
    const std::string src = tempDir();
    const size_t big = 64u << 20;
    makeFile(src + "/random64.bin", big, false);
    makeFile(src + "/random1.bin", 1u << 20, false);
    makeFile(src + "/text1.txt", 1u << 20, true);

    // The machine may be shared: each throughput figure is the best of three runs, taken
    // in turns so that all three pairs see the same conditions.
    auto mbps = [](double secs, size_t n) { return secs > 0 ? n / secs / 1e6 : -1.0; };
    double best[3] = {-1, -1, -1};
    const Who order[3] = {Who::SzToRz, Who::OursToRz, Who::SzToOurs};
    for (int round = 0; round < 3; ++round)
        for (int k = 0; k < 3; ++k)
            best[k] = std::max(best[k], mbps(run(order[k], src, "random64.bin", 0, false), big));
    report("sz to rz 64 MiB", best[0], "MB/s");
    report("zelvo sender to rz 64 MiB", best[1], "MB/s");
    report("sz to zelvo receiver 64 MiB", best[2], "MB/s");

    if (!quick) {
        const double line = 11520.0;
        auto eff = [&](double secs) { return secs > 0 ? (1u << 20) / secs / line : -1.0; };
        report("sz to rz efficiency 1K random", eff(run(Who::SzToRz, src, "random1.bin", 11520, false)), "");
        report("zelvo sender efficiency 1K random", eff(run(Who::OursToRz, src, "random1.bin", 11520, false)), "");
        report("zelvo receiver efficiency 1K random", eff(run(Who::SzToOurs, src, "random1.bin", 11520, false)), "");
        report("sz to rz efficiency 8K random", eff(run(Who::SzToRz, src, "random1.bin", 11520, true)), "");
        report("zelvo sender efficiency 8K random", eff(run(Who::OursToRz, src, "random1.bin", 11520, true)), "");
        report("zelvo sender efficiency 1K text", eff(run(Who::OursToRz, src, "text1.txt", 11520, false)), "");
    }
    std::filesystem::remove_all(src);
    return 0;
}
