#pragma once
// Timestamps at the start of received lines: the local time of day with milliseconds
// ("[14:03:07.512] "), or the time since the previous line began ("[+0.250] "). The
// clock is injected so that the stamps of a test are known in advance.

#include <cstdint>
#include <string>

namespace zelvo::terminal {

// What a stamp shows. The values are the ones the settings store keeps.
enum class TimestampMode : uint32_t {
    tsOff = 0,
    tsTimeOfDay = 1,
    tsSincePrevious = 2,
};

// A moment as the stamps need it: a steady millisecond count for intervals, and the local
// time of day for the wall-clock stamp.
struct StampTime {
    int64_t steadyMs = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

class StampClock {
public:
    virtual ~StampClock() = default;
    virtual StampTime now() const = 0;
    // CLOCK_MONOTONIC for intervals; CLOCK_REALTIME in the local time zone for the time
    // of day.
    static const StampClock& system();
};

class LineStamper {
public:
    explicit LineStamper(const StampClock& clock = StampClock::system()) : clock_(&clock) {}

    void setClock(const StampClock& clock) { clock_ = &clock; }
    void setMode(TimestampMode mode);
    TimestampMode mode() const { return mode_; }

    // The stamp for a line that begins now; empty while stamps are off. The first line
    // after stamps were switched on counts from the moment they were.
    std::string stamp();

    // The text of one stamp. sinceMs is the time since the previous line (negative
    // intervals, from a clock that went back, show as 0).
    static std::string format(TimestampMode mode, const StampTime& at, int64_t sinceMs);

private:
    const StampClock* clock_;
    TimestampMode mode_ = TimestampMode::tsOff;
    int64_t previousMs_ = 0;
};

} // namespace zelvo::terminal
