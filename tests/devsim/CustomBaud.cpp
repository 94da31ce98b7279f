// Kept apart from <termios.h>: the kernel's termios2 clashes with the C library's definitions.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cstdint>
#include <sys/ioctl.h>

// Sets any baud rate on a tty the way the port core does for rates without a B-constant.
bool SetCustomBaud(int fd, uint32_t baud) {
    termios2 t;
    if (::ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~CBAUD;
    t.c_cflag |= BOTHER;
    t.c_ispeed = t.c_ospeed = baud;
    return ::ioctl(fd, TCSETS2, &t) == 0;
}
