#include "comm/tick_timer.h"

#include "platform/clock.h"

#include <algorithm>

namespace zelvo::comm {

int32_t CurrentTicks()
{
    // The clock is reduced to 32 bits of milliseconds like the platform's millisecond
    // counter, so the tick count wraps once a day at TicksPerDay.
    const auto ms = static_cast<uint32_t>(platform::monotonicMs());
    return static_cast<int32_t>(ms / platform::kTickMs);
}

void NewTimerAt(EventTimer& timer, int32_t ticks, int32_t now)
{
    timer.StartTicks = now;
    timer.ExpireTicks = now + std::min(std::max(ticks, 0), TicksPerDay);
}

bool TimerExpiredAt(const EventTimer& timer, int32_t now)
{
    if (now > timer.ExpireTicks)
        return true;
    if (now >= timer.StartTicks)
        return false;
    // The clock wrapped since the timer started.
    return now + TicksPerDay > timer.ExpireTicks;
}

int32_t ElapsedTimeAt(const EventTimer& timer, int32_t now)
{
    if (now >= timer.StartTicks)
        return now - timer.StartTicks;
    return now + (TicksPerDay - timer.StartTicks);
}

int32_t RemainingTimeAt(const EventTimer& timer, int32_t now)
{
    int32_t left = timer.ExpireTicks - now;
    if (now < timer.StartTicks)
        left -= TicksPerDay;
    return std::max(left, 0);
}

void NewTimer(EventTimer& timer, int32_t ticks) { NewTimerAt(timer, ticks, CurrentTicks()); }
bool TimerExpired(const EventTimer& timer) { return TimerExpiredAt(timer, CurrentTicks()); }
int32_t ElapsedTime(const EventTimer& timer) { return ElapsedTimeAt(timer, CurrentTicks()); }
int32_t RemainingTime(const EventTimer& timer) { return RemainingTimeAt(timer, CurrentTicks()); }

} // namespace zelvo::comm
