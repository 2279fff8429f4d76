// Receive throughput from a pseudo-terminal through the dispatcher to an avail handler
// that takes every byte, beside a plain poll()/read() loop on the same kind of pair; and
// send throughput of a sender that refills the output buffer each time the "output
// buffer free" trigger fires, as the file transfer protocols send.

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

// Refills the output buffer whenever half of it is free, like a protocol sender.
class TriggerSender : public ProcedureHandler {
public:
    TriggerSender(BaseDispatcher& d, uint16_t trigger, uint32_t outSize, size_t total)
        : d_(d), trigger_(trigger), outSize_(outSize), left_(total), block_(outSize, 'S')
    {
    }
    void procedureMessage(uint16_t msg, uint32_t w, uint32_t) override
    {
        if (msg == MsgTriggerStatus && w == trigger_)
            refill();
    }
    void refill()
    {
        const uint32_t room = d_.OutputFree();
        const auto n = static_cast<uint32_t>(std::min<size_t>(room, left_.load()));
        if (n > 0 && d_.PutBlock(block_.data(), n) == 0)
            left_ -= n;
        if (left_.load() > 0)
            d_.ArmStatusTrigger(trigger_, static_cast<uint16_t>(outSize_ / 2), true);
    }

private:
    BaseDispatcher& d_;
    uint16_t trigger_;
    uint32_t outSize_;
    std::atomic<size_t> left_;
    std::vector<uint8_t> block_;
};

// Bytes per second a trigger-driven sender moves to the far end of a pty pair.
double triggerSender()
{
    constexpr size_t kSend = 16u << 20;
    constexpr uint32_t kOut = 4096;
    Pty p;
    PosixDispatcher d(nullptr, nullptr);
    if (d.OpenPort(p.name, 115200, pNone, 8, 1, 4096, kOut, true, true) != 0)
        return 0;
    const int t = d.NewStatusTrigger(stOutBuffFree);
    TriggerSender sender(d, static_cast<uint16_t>(t), kOut, kSend);
    d.AddProcedureHandler(&sender);
    ::fcntl(p.master, F_SETFL, ::fcntl(p.master, F_GETFL) | O_NONBLOCK);
    const auto start = std::chrono::steady_clock::now();
    const auto limit = start + std::chrono::seconds(10);
    sender.refill();
    std::vector<char> buf(65536);
    size_t got = 0;
    while (got < kSend && std::chrono::steady_clock::now() < limit) {
        pollfd pf{p.master, POLLIN, 0};
        ::poll(&pf, 1, 100);
        const ssize_t r = ::read(p.master, buf.data(), buf.size());
        if (r > 0)
            got += static_cast<size_t>(r);
    }
    const double s = seconds(std::chrono::steady_clock::now() - start);
    d.RemoveProcedureHandler(&sender);
    d.ClosePort();
    return got / s / 1e6;
}

} // namespace

int main()
{
    // The better of three runs each, so a busy moment on a shared machine does not decide.
    double plain = 0, disp = 0, send = 0;
    for (int i = 0; i < 3; ++i) {
        plain = std::max(plain, plainLoop());
        disp = std::max(disp, dispatcher());
        send = std::max(send, triggerSender());
    }
    std::printf("plain read loop receive rate: %.1f MB/s\n", plain);
    std::printf("dispatcher receive rate: %.1f MB/s\n", disp);
    std::printf("output-free trigger sender rate: %.1f MB/s\n", send);
    std::printf("dispatcher to plain ratio: %.2f ratio\n", plain > 0 ? disp / plain : 0.0);
    return 0;
}
