// Kermit benchmark: our sender and receiver against each other and against C-Kermit
// over pseudo-terminal pairs, beside C-Kermit to C-Kermit with the same settings in
// the same run.
//
//   bench_kermit [--quick]
//
// Throughput: 8 MiB of random data through an unlimited relay, with 1000-byte packets
// and 20 window slots on both sides. Efficiency: 512 KiB through a relay limited to
// 11,520 bytes/s each way (a 115200 bps line), as bytes per second divided by 11,520,
// for plain text and for random data; beside the random figure the limit that control
// prefixing allows (file bytes over the bytes the packets take), and C-Kermit to
// C-Kermit with its defaults. --quick skips the rate-limited runs.
// Output: one "name: value unit" line per figure.

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/clock.h"
#include "protocols/kermit_defs.h"
#include "protocols/direct_line.h"
#include "protocols/kermit_params.h"
#include "protocols/kermit_quoting.h"
#include "protocols/protocol.h"
#include "tests/protocols/pty_harness.h"

using namespace zelvo;
using namespace zelvo::protocols;
using namespace zelvo::protocols::test;

namespace {

std::vector<uint8_t> randomData(size_t n)
{
    std::vector<uint8_t> v(n);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = static_cast<uint8_t>(x >> 24);
    }
    return v;
}

std::vector<uint8_t> textData(size_t n)
{
    static const char* words[] = {"the", "line", "terminal", "modem", "carrier", "transfer", "file",
                                  "block", "check", "window", "serial", "port", "session", "data"};
    std::vector<uint8_t> v(n);
    size_t i = 0, col = 0;
    uint32_t x = 7;
    while (i < n) {
        x = x * 1103515245 + 12345;
        for (const char* c = words[(x >> 16) % 14]; *c && i < n; ++c, ++col)
            v[i++] = static_cast<uint8_t>(*c);
        if (i < n) {
            v[i++] = col > 70 ? '\n' : ' ';
            col = col > 70 ? 0 : col + 1;
        }
    }
    return v;
}

// Waits for a process on a thread of its own, noting when it ended.
struct Watch {
    std::atomic<int64_t> endMs{0};
    int status = -1;
    std::thread thread;
    explicit Watch(pid_t pid)
    {
        thread = std::thread([this, pid] {
            int st = 0;
            ::waitpid(pid, &st, 0);
            status = WIFEXITED(st) ? WEXITSTATUS(st) : 128;
            endMs = platform::monotonicMs();
        });
    }
    int join()
    {
        thread.join();
        return status;
    }
};

enum class Who { CkToCk, OursToOurs, OursToCk, CkToOurs };

struct Config {
    bool tuned = true;   // 1000-byte packets and 20 window slots; else everyone's defaults
};

std::vector<std::string> ckCommands(const Config& c, const std::string& action)
{
    std::vector<std::string> l = {"set file type binary", "set transfer mode manual", "set streaming off",
                                  "set file names literal", "set file collision overwrite", "set delay 0"};
    if (c.tuned) {
        l.push_back("set window 20");
        l.push_back("set send packet-length 1000");
        l.push_back("set receive packet-length 1000");
    }
    l.push_back(action);
    l.push_back("exit");
    return l;
}

pid_t startCk(const Config& c, const std::string& action, PtyPair& pty, const std::string& dir,
              std::unique_ptr<Peer>& peer)
{
    std::ofstream f(dir + "/cmds");
    for (const auto& l : ckCommands(c, action))
        f << l << "\n";
    f.close();
    peer = std::make_unique<Peer>(std::vector<std::string>{"kermit", "-Y", "-q", "-C", "take cmds"}, pty, dir);
    return peer->pid();
}

// Our side: the protocol component on a direct line, as zelvo32-transfer runs it.
struct Ours {
    DirectLine line;
    Protocol proto;
    Ours(int fd, const Config& c)
    {
        proto.setProtocolType(ptKermit);
        proto.setUpcaseFileNames(false);
        proto.setWriteFailAction(wfWriteAnyway);
        if (c.tuned) {
            proto.setKermitMaxLen(1000);
            proto.setKermitMaxWindows(20);
        }
        line.adopt(::dup(fd), 115200);
        proto.setComPort(&line);
    }
    // Returns the transfer's result and when it ended.
    int send(const std::string& path, int64_t& endMs)
    {
        proto.setFileName(path);
        const int rc = proto.BeginTransmit() == 0 ? line.run(proto) : -1;
        endMs = platform::monotonicMs();
        return rc;
    }
    int receive(const std::string& dir, int64_t& endMs)
    {
        proto.setDestinationDirectory(dir);
        int rc = proto.BeginReceive();
        if (rc == 0) {
            // The transfer is over for the receiver when its engine is done; run() then
            // lets the last acknowledgement drain.
            rc = line.run(proto);
        }
        endMs = platform::monotonicMs();
        return rc;
    }
};

// Seconds for one transfer of data, or -1 when it failed or arrived damaged.
double run(Who who, const std::vector<uint8_t>& data, uint32_t rate, const Config& c)
{
    const std::string src = makeTempDir(), dst = makeTempDir();
    writeBytes(src + "/data.bin", data);
    double secs = -1;
    {
        PtyPair a, b;
        RelayOptions opt;
        opt.bytesPerSecond = rate;
        Relay relay(a.master, b.master, opt);
        std::unique_ptr<Peer> p1, p2;
        const int64_t t0 = platform::monotonicMs();
        int64_t t1 = 0;
        bool ok = false;
        switch (who) {
        case Who::CkToCk: {
            Watch rx(startCk(c, "receive", b, dst, p2));
            startCk(c, "send data.bin", a, src, p1);
            ok = rx.join() == 0;
            t1 = rx.endMs;
            break;
        }
        case Who::OursToOurs: {
            Ours tx(a.slave, c), rx(b.slave, c);
            int rxRc = 1;
            int64_t txEnd = 0;
            std::thread r([&] { rxRc = rx.receive(dst, t1); });
            const int txRc = tx.send(src + "/data.bin", txEnd);
            r.join();
            ok = rxRc == 0 && txRc == 0;
            break;
        }
        case Who::OursToCk: {
            Watch rx(startCk(c, "receive", b, dst, p2));
            Ours tx(a.slave, c);
            int64_t txEnd = 0;
            const int rc = tx.send(src + "/data.bin", txEnd);
            ok = rx.join() == 0 && rc == 0;
            t1 = rx.endMs;
            break;
        }
        case Who::CkToOurs: {
            Ours rx(b.slave, c);
            startCk(c, "send data.bin", a, src, p1);
            ok = rx.receive(dst, t1) == 0;
            break;
        }
        }
        if (p1)
            p1->wait(10000);
        if (p2)
            p2->wait(10000);
        if (ok && readBytes(dst + "/data.bin") == data)
            secs = static_cast<double>(t1 - t0) / 1000.0;
    }
    removeTree(src);
    removeTree(dst);
    return secs;
}

// The share of the line that file bytes can have at best with our packets: file bytes
// over everything the data packets take (prefixes, packet headers, checks, EOL).
double prefixingLimit(const std::vector<uint8_t>& data)
{
    KermitLink l;
    l.maxl = 94;
    l.longPackets = true;
    l.longLength = 1000;
    l.checkType = 2;
    l.rept = '~';
    KermitQuoting q(l.ctlOut, l.ctlIn, 0, l.rept);
    std::vector<uint8_t> field(l.dataCapacity());
    uint64_t wire = 0;
    for (size_t i = 0; i < data.size();) {
        size_t used = 0;
        const size_t len = q.encode(data.data() + i, data.size() - i, field.data(), field.size(), used);
        wire += len + kermit::kLongHeader + 2 + 1;
        i += used;
    }
    return static_cast<double>(data.size()) / static_cast<double>(wire);
}

void report(const char* name, double value, const char* unit)
{
    if (value < 0)
        std::printf("%s: failed %s\n", name, unit);
    else
        std::printf("%s: %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    if (!haveProgram("kermit"))
        std::printf("C-Kermit (kermit) is not installed: its figures are missing\n");
    const size_t big = 8u << 20;
    const auto random8 = randomData(big);
    const Config tuned;
    auto mbps = [](double secs, size_t n) { return secs > 0 ? static_cast<double>(n) / secs / 1e6 : -1.0; };

    // Best of three, taken in turns so that every pair sees the same conditions.
    const Who order[4] = {Who::CkToCk, Who::OursToOurs, Who::OursToCk, Who::CkToOurs};
    double best[4] = {-1, -1, -1, -1};
    for (int round = 0; round < 3; ++round)
        for (int k = 0; k < 4; ++k)
            best[k] = std::max(best[k], mbps(run(order[k], random8, 0, tuned), big));
    report("c-kermit to c-kermit 8 MiB 1000x20", best[0], "MB/s");
    report("zelvo to zelvo 8 MiB 1000x20", best[1], "MB/s");
    report("zelvo sender to c-kermit 8 MiB 1000x20", best[2], "MB/s");
    report("c-kermit to zelvo receiver 8 MiB 1000x20", best[3], "MB/s");

    if (!quick) {
        const double line = 11520.0;
        const size_t n = 512u << 10;
        const auto text = textData(n);
        const auto random = randomData(n);
        auto eff = [&](double secs) { return secs > 0 ? static_cast<double>(n) / secs / line : -1.0; };
        report("zelvo to zelvo efficiency text 1000x20", eff(run(Who::OursToOurs, text, 11520, tuned)), "");
        report("zelvo to c-kermit efficiency text 1000x20", eff(run(Who::OursToCk, text, 11520, tuned)), "");
        report("zelvo to zelvo efficiency random 1000x20", eff(run(Who::OursToOurs, random, 11520, tuned)), "");
        report("control prefixing limit random 1000", prefixingLimit(random), "");
        report("c-kermit to c-kermit efficiency random defaults", eff(run(Who::CkToCk, random, 11520, Config{false})), "");
    }
    return 0;
}
