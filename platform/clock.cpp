#include "platform/clock.h"

#include <atomic>
#include <time.h>

namespace zelvo::platform {

namespace {
std::atomic<ClockSource> gSource{nullptr};
} // namespace

int64_t monotonicMs()
{
    if (ClockSource source = gSource.load(std::memory_order_relaxed))
        return source();
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void setClockSource(ClockSource source)
{
    gSource.store(source, std::memory_order_relaxed);
}

} // namespace zelvo::platform
