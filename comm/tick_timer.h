#pragma once
// Tick timers of about 55 ms (18.2 per second). Timer triggers, SendBreak and the
// protocols count in these ticks. Ticks are derived from the 64-bit millisecond clock
// (platform/clock.h), so a timer never meets a wrap of the clock; an interval is capped
// at TicksPerDay ticks (the largest the tick interfaces take).

#include <cstdint>

namespace zelvo::comm {

constexpr int32_t TicksPerDay = 39045157;

struct EventTimer {
    int64_t StartTicks = 0;
    int64_t ExpireTicks = 0;
};

// Ticks of the monotonic clock.
int64_t CurrentTicks();

void NewTimer(EventTimer& timer, int32_t ticks);
// True once the clock is past the expiry tick (a 0-tick timer expires at the next tick).
bool TimerExpired(const EventTimer& timer);
int32_t ElapsedTime(const EventTimer& timer);
int32_t RemainingTime(const EventTimer& timer);
// Milliseconds of the clock at which the timer counts as expired.
int64_t TimerDueMs(const EventTimer& timer);

// Same checks against an explicit tick count.
void NewTimerAt(EventTimer& timer, int32_t ticks, int64_t now);
bool TimerExpiredAt(const EventTimer& timer, int64_t now);
int32_t ElapsedTimeAt(const EventTimer& timer, int64_t now);
int32_t RemainingTimeAt(const EventTimer& timer, int64_t now);

inline int32_t SecondsToTicks(int32_t s) { return static_cast<int32_t>(int64_t(s) * 1675 / 92); }
inline int32_t TicksToSeconds(int32_t t) { return static_cast<int32_t>((int64_t(t) + 9) * 92 / 1675); }

} // namespace zelvo::comm
