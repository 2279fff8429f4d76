#pragma once
// The program's time base: milliseconds of CLOCK_MONOTONIC, and the 55 ms tick that
// timers, timer triggers and protocol settings count in (18 ticks ~ 1 s).

#include <cstdint>

namespace zelvo::platform {

constexpr int64_t kTickMs = 55;

// Milliseconds since an arbitrary fixed point; never goes backwards.
int64_t monotonicMs();

constexpr int64_t ticksToMs(int64_t ticks) { return ticks * kTickMs; }
// Whole ticks in ms, rounded up so a wait of n ticks never ends early.
constexpr int64_t msToTicks(int64_t ms) { return (ms + kTickMs - 1) / kTickMs; }

} // namespace zelvo::platform
