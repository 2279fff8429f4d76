#pragma once
// Baud rates: the one table of the standard serial rates, and the rules for the others.
//
// A standard rate has a speed code of its own in the serial driver interface. Any other
// rate from MinBaud to MaxBaud is asked for as an arbitrary rate; the driver then sets
// it, or the nearest rate its clock divides to, or refuses. A rate the driver reports
// back more than BaudTolerancePercent away from what was asked for counts as refused.

#include <cstdint>
#include <span>

namespace zelvo::comm {

constexpr uint32_t MinBaud = 50;
constexpr uint32_t MaxBaud = 4000000;
// Two ends whose rates differ by more than this lose characters.
constexpr uint32_t BaudTolerancePercent = 2;

// The standard rates, lowest first (50 .. 4000000).
std::span<const uint32_t> StandardBaudRates();
bool IsStandardBaud(uint32_t baud);
// The driver interface's speed code of a standard rate (B9600, ...); 0 for others.
unsigned SpeedCodeOf(uint32_t baud);
// The rate of a speed code; 0 for a code that is not a standard rate.
uint32_t BaudOfSpeedCode(unsigned code);
// True when a rate the driver reports is close enough to the one asked for.
bool BaudRateClose(uint32_t requested, uint32_t actual);

} // namespace zelvo::comm
