// Receive throughput from a pseudo-terminal through the dispatcher to an avail handler
// that takes every byte, beside a plain poll()/read() loop on the same kind of pair.

#include "bench_pty.h"
#include "comm/posix_dispatcher.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

using namespace zelvo::comm;
using namespace zelvo::comm::bench;

namespace {

constexpr size_t kBytes = 128u << 20;

double plainLoop()
{
    Pty p;
    p.rawSlave();
    ::fcntl(p.slave, F_SETFL, ::fcntl(p.slave, F_GETFL) | O_NONBLOCK);
    const auto start = std::chrono::steady_clock::now();
    std::thread writer([&] { writeAll(p.master, kBytes); });
    std::vector<char> buf(InputBufferSize);
    size_t got = 0;
    while (got < kBytes) {
        pollfd pf{p.slave, POLLIN, 0};
        ::poll(&pf, 1, 1000);
        const ssize_t r = ::read(p.slave, buf.data(), buf.size());
        if (r > 0)
            got += static_cast<size_t>(r);
    }
    const double s = seconds(std::chrono::steady_clock::now() - start);
    writer.join();
    return kBytes / s / 1e6;
}

class Consumer : public ProcedureHandler {
public:
    explicit Consumer(BaseDispatcher& d) : d_(d), buf_(InputBufferSize) {}
    void procedureMessage(uint16_t msg, uint32_t w, uint32_t) override
    {
        if (msg != MsgTriggerAvail)
            return;
        const int n = d_.GetBlock(buf_.data(), w);
        if (n > 0 && (got_ += static_cast<size_t>(n)) >= kBytes) {
            std::lock_guard l(m_);
            cv_.notify_all();
        }
    }
    void wait()
    {
        std::unique_lock l(m_);
        cv_.wait(l, [&] { return got_.load() >= kBytes; });
    }

private:
    BaseDispatcher& d_;
    std::vector<uint8_t> buf_;
    std::atomic<size_t> got_{0};
    std::mutex m_;
    std::condition_variable cv_;
};

double dispatcher()
{
    Pty p;
    PosixDispatcher d(nullptr, nullptr);
    if (d.OpenPort(p.name, 115200, pNone, 8, 1, 4096, 4096, true, true) != 0)
        return 0;
    Consumer c(d);
    d.SetAvailLength(1);
    d.AddProcedureHandler(&c);
    const auto start = std::chrono::steady_clock::now();
    std::thread writer([&] { writeAll(p.master, kBytes); });
    c.wait();
    const double s = seconds(std::chrono::steady_clock::now() - start);
    writer.join();
    d.RemoveProcedureHandler(&c);
    d.ClosePort();
    return kBytes / s / 1e6;
}

} // namespace

int main()
{
    // The better of three runs each, so a busy moment on a shared machine does not decide.
    double plain = 0, disp = 0;
    for (int i = 0; i < 3; ++i) {
        plain = std::max(plain, plainLoop());
        disp = std::max(disp, dispatcher());
    }
    std::printf("plain read loop receive rate: %.1f MB/s\n", plain);
    std::printf("dispatcher receive rate: %.1f MB/s\n", disp);
    std::printf("dispatcher to plain ratio: %.2f ratio\n", plain > 0 ? disp / plain : 0.0);
    return 0;
}
