#pragma once
// The program's time base: milliseconds of CLOCK_MONOTONIC in 64 bits (which never
// wrap), and the 55 ms tick that timers, timer triggers and protocol settings count in
// (18 ticks ~ 1 s).

#include <cstdint>

namespace zelvo::platform {

constexpr int64_t kTickMs = 55;

// Milliseconds since an arbitrary fixed point; never goes backwards.
int64_t monotonicMs();

// Replaces the source of monotonicMs() (tests that need the clock at a chosen point,
// such as where a 32-bit millisecond count would wrap); nullptr restores
// CLOCK_MONOTONIC. A replacement must never go backwards either.
using ClockSource = int64_t (*)();
void setClockSource(ClockSource source);

constexpr int64_t ticksToMs(int64_t ticks) { return ticks * kTickMs; }
// Whole ticks in ms, rounded up so a wait of n ticks never ends early.
constexpr int64_t msToTicks(int64_t ms) { return (ms + kTickMs - 1) / kTickMs; }

} // namespace zelvo::platform
