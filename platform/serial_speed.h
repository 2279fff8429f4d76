#pragma once
// Serial line speeds in bits per second through the kernel's second termios interface
// (termios2), which takes any rate, not only the ones that have a speed code. Kept in a
// file of its own: its kernel header cannot be used beside <termios.h>.

#include <cstdint>

namespace zelvo::platform {

// Asks the driver of a terminal device for an arbitrary rate in both directions; the
// other settings stay. 0, or minus errno.
int setArbitrarySpeed(int fd, uint32_t baud);
// The output rate the driver reports; 0 when it cannot be read.
uint32_t serialSpeed(int fd);

} // namespace zelvo::platform
