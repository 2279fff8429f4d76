// Latency from a byte written by the far end to the avail handler that sees it.

#include "bench_pty.h"
#include "comm/posix_dispatcher.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

using namespace zelvo::comm;
using namespace zelvo::comm::bench;

namespace {

class Stamper : public ProcedureHandler {
public:
    explicit Stamper(BaseDispatcher& d) : d_(d) {}
    void procedureMessage(uint16_t msg, uint32_t w, uint32_t) override
    {
        if (msg != MsgTriggerAvail)
            return;
        const auto now = std::chrono::steady_clock::now();
        uint8_t buf[64];
        d_.GetBlock(buf, std::min<uint32_t>(w, sizeof buf));
        std::lock_guard l(m_);
        at_ = now;
        seen_ = true;
        cv_.notify_all();
    }
    std::chrono::steady_clock::time_point waitSeen()
    {
        std::unique_lock l(m_);
        cv_.wait(l, [&] { return seen_; });
        seen_ = false;
        return at_;
    }

private:
    BaseDispatcher& d_;
    std::mutex m_;
    std::condition_variable cv_;
    bool seen_ = false;
    std::chrono::steady_clock::time_point at_;
};

} // namespace

int main()
{
    Pty p;
    PosixDispatcher d(nullptr, nullptr);
    if (d.OpenPort(p.name, 115200, pNone, 8, 1, 4096, 4096, true, true) != 0) {
        std::fprintf(stderr, "cannot open %s\n", p.name.c_str());
        return 1;
    }
    Stamper s(d);
    d.SetAvailLength(1);
    d.AddProcedureHandler(&s);
    std::vector<double> us;
    for (int i = 0; i < 2000; ++i) {
        const char c = static_cast<char>('a' + i % 26);
        const auto sent = std::chrono::steady_clock::now();
        if (::write(p.master, &c, 1) != 1)
            return 1;
        const auto seen = s.waitSeen();
        us.push_back(seconds(seen - sent) * 1e6);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    std::sort(us.begin(), us.end());
    std::printf("byte to avail handler latency median: %.1f us\n", us[us.size() / 2]);
    std::printf("byte to avail handler latency p99: %.1f us\n", us[us.size() * 99 / 100]);
    d.RemoveProcedureHandler(&s);
    d.ClosePort();
    return 0;
}
