#include "link/linespeed.h"

// Only the kernel's own definitions here: <termios.h> defines a different struct termios.
#include <asm/termbits.h>
#include <sys/ioctl.h>

bool SetCustomLineSpeed(int fd, unsigned rate)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    // Input speed bits cleared: the input then follows the output speed.
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER;
    t.c_ospeed = rate;
    t.c_ispeed = rate;
    return ioctl(fd, TCSETS2, &t) == 0;
}

bool GetLineSpeed(int fd, unsigned& rate)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    rate = t.c_ospeed;
    return true;
}
