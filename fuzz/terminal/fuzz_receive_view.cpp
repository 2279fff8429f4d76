// Fuzz target: received bytes through the terminal's receive filter (timestamps, LF
// implies CR) and into the hex view's history, in pieces of varying size. The first
// byte chooses the switches and the history's capacity.

#include "terminal/byte_history.h"
#include "terminal/hex_dump.h"
#include "terminal/receive_filter.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace zelvo::terminal;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

class StepClock : public StampClock {
public:
    StampTime now() const override
    {
        StampTime t;
        t.steadyMs = ms;
        t.hour = int(ms / 3600000 % 24);
        t.minute = int(ms / 60000 % 60);
        t.second = int(ms / 1000 % 60);
        t.millisecond = int(ms % 1000);
        return t;
    }
    int64_t ms = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t opts = data[0];
    ++data;
    --size;

    StepClock clock;
    ReceiveFilter filter(clock);
    filter.setTimestamps(TimestampMode((opts & 3) % 3), opts & 4);
    filter.setLfImpliesCr(opts & 8);
    ByteHistory history(std::size_t(opts >> 4) * 7);

    std::vector<uint8_t> shown, fed;
    std::size_t at = 0;
    while (at < size) {
        const std::size_t piece = std::min<std::size_t>(size - at, 1 + data[at] % 37);
        history.append(data + at, piece);
        filter.apply(data + at, piece, shown);
        fed.insert(fed.end(), data + at, data + at + piece);
        clock.ms += data[at] * 1013;
        at += piece;
    }

    // Every line feed arrives, none is added; with LF implies CR each has a CR before it
    // (or a stamp, when the CR ended the read before: "\r" "[stamp] " "\n").
    check(std::count(shown.begin(), shown.end(), '\n') == std::count(fed.begin(), fed.end(), '\n'));
    const bool stamping = filter.timestamps() != TimestampMode::tsOff;
    if (filter.lfImpliesCr())
        for (std::size_t i = 0; i < shown.size(); ++i)
            if (shown[i] == '\n')
                check(i > 0 && (shown[i - 1] == '\r' || (stamping && shown[i - 1] == ' ')));
    if (filter.passThrough())
        check(shown == fed);

    // The history holds the newest bytes, in rows that start on multiples of 16.
    check(history.total() == fed.size());
    check(history.size() <= history.capacity());
    check(history.firstOffset() % kHexRowBytes == 0);
    check(history.size() == fed.size() || history.size() + kHexRowBytes > history.capacity());
    for (std::size_t r = 0; r < history.rowCount(); ++r) {
        const uint8_t* bytes = nullptr;
        const std::size_t n = history.row(r, &bytes);
        check(n > 0 && n <= kHexRowBytes);
        check(std::memcmp(bytes, fed.data() + history.rowOffset(r), n) == 0);
        check(history.rowText(r).size() == kHexRowWidth - (kHexRowBytes - n));
    }
    return 0;
}
