// Feeds arbitrary modem output to the dialler while it places a call or hangs up, with
// time steps, cancels and a lost line mixed in. An outcome, once reached, must stay; a
// finished dialler must neither write nor ask for time; what it writes stays small.

#include "comm/telephony/hayes_dialer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace zelvo::telephony;

namespace {
struct Line : ModemIo {
    std::string written;
    bool lines = false;
    bool dcd = false;
    void write(std::string_view b) override { written += b; }
    bool hasModemLines() const override { return lines; }
    void setDTR(bool) override {}
    bool carrier() const override { return dcd; }
    void status(uint32_t, uint32_t, uint32_t) override {}
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    Line line;
    line.lines = data[0] & 1;
    line.dcd = data[0] & 2;
    HayesDialer d(line);
    int64_t now = 0;
    if (data[0] & 4) {
        d.hangUp(HangupMethod(data[1] % 3), 20 + data[1], now);
    } else {
        CallPlan p;
        p.attempts = 1 + data[1] % 4;
        p.retryWaitSeconds = data[1] % 3;
        p.answerSeconds = 1 + data[1] % 5;
        if (data[0] & 8)
            p.init.clear();
        d.placeCall(p, now);
    }
    HayesDialer::Outcome finished = HayesDialer::Outcome::Running;
    for (size_t i = 2; i < size; ++i) {
        if (data[i] == 0xFF && i + 1 < size) {
            const uint8_t op = data[++i];
            if (op < 0xF0)
                now += int64_t(op) * 100;
            else if (op == 0xF0)
                d.cancel(now);
            else if (op == 0xF1)
                d.lineLost(now);
            d.tick(now);
        } else {
            d.receive(data[i], now);
        }
        if (finished != HayesDialer::Outcome::Running) {
            if (d.outcome() != finished)
                std::abort();
        } else if (d.outcome() != HayesDialer::Outcome::Running) {
            finished = d.outcome();
            line.written.clear();
        }
        if (finished != HayesDialer::Outcome::Running
            && (!line.written.empty() || d.deadline() != INT64_MAX))
            std::abort();
        if (line.written.size() > 65536)
            std::abort();
    }
    return 0;
}
