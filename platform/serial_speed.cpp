#include "platform/serial_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace zelvo::platform {

int setArbitrarySpeed(int fd, uint32_t baud)
{
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return -errno;
    // Output rate BOTHER with the number; input rate code 0: the same as the output.
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER;
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    if (::ioctl(fd, TCSETS2, &t) != 0)
        return -errno;
    return 0;
}

uint32_t serialSpeed(int fd)
{
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return 0;
    return t.c_ospeed;
}

} // namespace zelvo::platform
