// CPU time of an open port with nothing happening, over 10 s: with no trigger armed,
// and with status triggers armed as the status lights keep them.

#include "bench_pty.h"
#include "comm/posix_dispatcher.h"

#include <cstdio>
#include <thread>

using namespace zelvo::comm;
using namespace zelvo::comm::bench;

namespace {

double idlePercent(bool armed)
{
    Pty p;
    PosixDispatcher d(nullptr, nullptr);
    if (d.OpenPort(p.name, 115200, pNone, 8, 1, 4096, 4096, true, true) != 0)
        return -1;
    d.SetAvailLength(1);
    if (armed) {
        const int modem = d.NewStatusTrigger(stModem);
        const int sent = d.NewStatusTrigger(stOutSent);
        d.ArmStatusTrigger(static_cast<uint16_t>(modem), msCTS | msDSR | msDCD, true);
        d.ArmStatusTrigger(static_cast<uint16_t>(sent), 0, true);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double before = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double cpu = cpuSeconds() - before;
    const double wall = seconds(std::chrono::steady_clock::now() - start);
    d.ClosePort();
    return cpu / wall * 100.0;
}

} // namespace

int main()
{
    std::printf("idle open port cpu: %.3f %%\n", idlePercent(false));
    std::printf("idle open port with armed status triggers cpu: %.3f %%\n", idlePercent(true));
    return 0;
}
