// Kept apart from <termios.h>: the kernel's termios2 definitions clash with the C library's.
#include <asm/termbits.h>
#include <cstdint>
#include <sys/ioctl.h>

namespace tolvane::test {

uint32_t MasterSideBaudRate(int masterFd) {
    struct termios2 t;
    // On a pseudo-terminal the master reads back the settings the slave end was given.
    if (ioctl(masterFd, TCGETS2, &t) != 0) return 0;
    return t.c_ospeed;
}

} // namespace tolvane::test
