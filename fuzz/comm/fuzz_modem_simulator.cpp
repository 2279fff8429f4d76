// Feeds arbitrary bytes, far-end output and time steps to the modem simulator's command
// interpreter. Nothing may grow without bound: each byte from the line gives at most a
// result and an information line for each command it runs, and one byte ("/" after "A")
// runs the last command line again, up to the longest line the modem keeps.

#include "comm/telephony/tools/modem_simulator.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace zelvo::telephony;

namespace {
struct Host : ModemSimulator::Host {
    size_t toLineBytes = 0;
    size_t toFarBytes = 0;
    bool up = false;
    void toLine(std::string_view b) override { toLineBytes += b.size(); }
    bool connect(const std::string&) override { return up = true; }
    void toFar(std::string_view b) override { toFarBytes += b.size(); }
    void hangupFar() override { up = false; }
};
} // namespace

// The modem keeps command lines of up to 80 characters.
constexpr size_t kLongestCommandLine = 80;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ModemSimulator::Options o;
    std::string error;
    ModemSimulator::AddNumber(o, "1=BUSY,NO ANSWER,exec:x", error);
    ModemSimulator::AddNumber(o, "2=exec:y", error);
    o.dialDelayMs = 10;
    o.guardMs = 50;
    Host h;
    ModemSimulator sim(h, o);
    int64_t now = 0;
    size_t lineIn = 0;
    size_t steps = 0;
    for (size_t i = 0; i < size; ++i) {
        ++steps;
        if (data[i] == 0xFF && i + 1 < size) {
            const uint8_t op = data[++i];
            if (op == 0xFE)
                sim.farEnded();
            else if (op == 0xFD)
                sim.farOutput("far output");
            else
                now += op * 5;
            sim.tick(now);
            continue;
        }
        const char c = char(data[i]);
        sim.fromLine(std::string_view(&c, 1), now);
        ++lineIn;
        if (h.toLineBytes > steps * 64 * kLongestCommandLine || h.toFarBytes > lineIn)
            std::abort();
    }
    return 0;
}
