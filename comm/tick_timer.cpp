#include "comm/tick_timer.h"

#include "platform/clock.h"

#include <algorithm>
#include <limits>

namespace zelvo::comm {

namespace {
int32_t clampTicks(int64_t t)
{
    return static_cast<int32_t>(std::clamp<int64_t>(t, 0, std::numeric_limits<int32_t>::max()));
}
} // namespace

int64_t CurrentTicks()
{
    return platform::monotonicMs() / platform::kTickMs;
}

void NewTimerAt(EventTimer& timer, int32_t ticks, int64_t now)
{
    timer.StartTicks = now;
    timer.ExpireTicks = now + std::clamp(ticks, 0, TicksPerDay);
}

bool TimerExpiredAt(const EventTimer& timer, int64_t now)
{
    return now > timer.ExpireTicks;
}

int32_t ElapsedTimeAt(const EventTimer& timer, int64_t now)
{
    return clampTicks(now - timer.StartTicks);
}

int32_t RemainingTimeAt(const EventTimer& timer, int64_t now)
{
    return clampTicks(timer.ExpireTicks - now);
}

int64_t TimerDueMs(const EventTimer& timer)
{
    return (timer.ExpireTicks + 1) * platform::kTickMs;
}

void NewTimer(EventTimer& timer, int32_t ticks) { NewTimerAt(timer, ticks, CurrentTicks()); }
bool TimerExpired(const EventTimer& timer) { return TimerExpiredAt(timer, CurrentTicks()); }
int32_t ElapsedTime(const EventTimer& timer) { return ElapsedTimeAt(timer, CurrentTicks()); }
int32_t RemainingTime(const EventTimer& timer) { return RemainingTimeAt(timer, CurrentTicks()); }

} // namespace zelvo::comm
