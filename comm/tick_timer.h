#pragma once
// Tick timers of about 55 ms (18.2 per second), derived from the millisecond clock.
// Timer triggers, SendBreak and the protocols count in these ticks. The tick count
// wraps after 39045157 ticks (one day of 2^32 ms); the checks below survive the wrap.

#include <cstdint>

namespace zelvo::comm {

constexpr int32_t TicksPerDay = 39045157;

struct EventTimer {
    int32_t StartTicks = 0;
    int32_t ExpireTicks = 0;
};

// Ticks of the monotonic clock, 0 .. TicksPerDay-1.
int32_t CurrentTicks();

void NewTimer(EventTimer& timer, int32_t ticks);
bool TimerExpired(const EventTimer& timer);
int32_t ElapsedTime(const EventTimer& timer);
int32_t RemainingTime(const EventTimer& timer);

// Same checks against an explicit clock value (for tests of the wrap).
void NewTimerAt(EventTimer& timer, int32_t ticks, int32_t now);
bool TimerExpiredAt(const EventTimer& timer, int32_t now);
int32_t ElapsedTimeAt(const EventTimer& timer, int32_t now);
int32_t RemainingTimeAt(const EventTimer& timer, int32_t now);

inline int32_t SecondsToTicks(int32_t s) { return static_cast<int32_t>(int64_t(s) * 1675 / 92); }
inline int32_t TicksToSeconds(int32_t t) { return static_cast<int32_t>((int64_t(t) + 9) * 92 / 1675); }

} // namespace zelvo::comm
