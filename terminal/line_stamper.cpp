#include "terminal/line_stamper.h"

#include <cstdio>
#include <ctime>

namespace zelvo::terminal {

namespace {

class SystemClock : public StampClock {
public:
    StampTime now() const override
    {
        StampTime t;
        timespec mono{}, real{};
        ::clock_gettime(CLOCK_MONOTONIC, &mono);
        ::clock_gettime(CLOCK_REALTIME, &real);
        t.steadyMs = int64_t(mono.tv_sec) * 1000 + mono.tv_nsec / 1000000;
        std::tm local{};
        const time_t secs = real.tv_sec;
        ::localtime_r(&secs, &local);
        t.hour = local.tm_hour;
        t.minute = local.tm_min;
        t.second = local.tm_sec;
        t.millisecond = int(real.tv_nsec / 1000000);
        return t;
    }
};

} // namespace

const StampClock& StampClock::system()
{
    static const SystemClock clock;
    return clock;
}

void LineStamper::setMode(TimestampMode mode)
{
    if (mode != mode_ && mode != TimestampMode::tsOff)
        previousMs_ = clock_->now().steadyMs;
    mode_ = mode;
}

std::string LineStamper::stamp()
{
    if (mode_ == TimestampMode::tsOff)
        return {};
    const StampTime t = clock_->now();
    const int64_t since = t.steadyMs - previousMs_;
    previousMs_ = t.steadyMs;
    return format(mode_, t, since);
}

std::string LineStamper::format(TimestampMode mode, const StampTime& at, int64_t sinceMs)
{
    char text[48];
    switch (mode) {
    case TimestampMode::tsTimeOfDay:
        std::snprintf(text, sizeof text, "[%02d:%02d:%02d.%03d] ", at.hour, at.minute, at.second,
                      at.millisecond);
        return text;
    case TimestampMode::tsSincePrevious: {
        const long long ms = sinceMs < 0 ? 0 : static_cast<long long>(sinceMs);
        std::snprintf(text, sizeof text, "[+%lld.%03lld] ", ms / 1000, ms % 1000);
        return text;
    }
    case TimestampMode::tsOff:
        break;
    }
    return {};
}

} // namespace zelvo::terminal
