// Kept apart from <termios.h>: the kernel's termios2 (which carries any baud rate in c_ospeed)
// clashes with the C library's definitions.
#include "tools/devsim/PtyLine.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace devsim {

namespace {

uint32_t BaudFromCode(unsigned code) {
    switch (code) {
    case B50:
        return 50;
    case B75:
        return 75;
    case B110:
        return 110;
    case B134:
        return 134;
    case B150:
        return 150;
    case B200:
        return 200;
    case B300:
        return 300;
    case B600:
        return 600;
    case B1200:
        return 1200;
    case B1800:
        return 1800;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    case B460800:
        return 460800;
    case B921600:
        return 921600;
    default:
        return 0;
    }
}

} // namespace

bool ReadLineSettings(int masterFd, LineSettings& settings) {
    termios2 t;
    if (::ioctl(masterFd, TCGETS2, &t) != 0) return false;
    // The kernel fills c_ospeed for the classic rate codes too; the code table is a fallback.
    settings.Baud = t.c_ospeed != 0 ? t.c_ospeed : BaudFromCode(t.c_cflag & CBAUD);
    switch (t.c_cflag & CSIZE) {
    case CS5:
        settings.DataBits = 5;
        break;
    case CS6:
        settings.DataBits = 6;
        break;
    case CS7:
        settings.DataBits = 7;
        break;
    default:
        settings.DataBits = 8;
        break;
    }
    settings.StopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return true;
}

} // namespace devsim
