#include "serial/posix/PosixSerial.h"

// The kernel's termios2 (for arbitrary rates) clashes with <termios.h>; only the former is used.
#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace posix_serial {

namespace {
constexpr unsigned PtySlaveMajorFirst = 136; // Unix98 pty slaves: majors 136..143
constexpr unsigned PtySlaveMajorLast = 143;

tcflag_t SizeFlag(int byteSize) {
    switch (byteSize) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

void MakeRaw(struct termios2& t) {
    t.c_iflag &= ~tcflag_t{IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                           IXOFF | IXANY | INPCK | IUCLC | IMAXBEL};
    t.c_iflag |= IGNPAR; // framing and parity errors: bytes are delivered as they are
    t.c_oflag &= ~tcflag_t{OPOST};
    t.c_lflag &= ~tcflag_t{ECHO | ECHONL | ICANON | ISIG | IEXTEN};
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}
} // namespace

bool IsPseudoTerminal(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    unsigned major = ::major(st.st_rdev);
    return major >= PtySlaveMajorFirst && major <= PtySlaveMajorLast;
}

int OpenExclusive(const std::string& path) {
    if (path.empty()) return -1;
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    ioctl(fd, TIOCEXCL);
    return fd;
}

bool ApplyLineSettings(int fd, uint32_t baud, int byteSize, int parity, int stopBits) {
    if (baud == 0) return false; // rate 0 means "hang up", not a line speed
    if (byteSize < 5 || byteSize > 8 || parity < 0 || parity > 2) return false;
    if (stopBits < 0 || stopBits > 2 || (stopBits == 1 && byteSize != 5)) return false;

    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    MakeRaw(t);
    t.c_cflag &=
        ~(CBAUD | (CBAUD << IBSHIFT) | CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR);
    // HUPCL: the driver drops DTR and RTS when the port is closed, as closing a COM port does.
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT) | CLOCAL | CREAD | HUPCL | SizeFlag(byteSize);
    if (parity != 0) t.c_cflag |= PARENB | (parity == 1 ? PARODD : 0);
    if (stopBits != 0) t.c_cflag |= CSTOPB; // with 5 data bits the UART makes it 1.5
    t.c_ispeed = baud;
    t.c_ospeed = baud;

    const bool pty = IsPseudoTerminal(fd);
    const tcflag_t wanted = t.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB);
    if (ioctl(fd, TCSETS2, &t) != 0) {
        if (!pty) return false;
        // A pseudo-terminal has no line: keep what it can take, above all the rate, so that
        // the other end sees it.
        t.c_cflag &= ~tcflag_t{CSIZE | PARENB | PARODD};
        t.c_cflag |= CS8;
        if (ioctl(fd, TCSETS2, &t) != 0) return false;
    }
    struct termios2 check;
    if (ioctl(fd, TCGETS2, &check) != 0) return false;
    if (pty) return true;
    // Drivers quietly drop what the hardware cannot do; that is a refusal all the same.
    return (check.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB)) == wanted;
}

void RaiseModemLines(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines);
}

void FlushBoth(int fd) {
    ioctl(fd, TCFLSH, TCIOFLUSH);
}

size_t BytesWaiting(int fd) {
    int waiting = 0;
    if (ioctl(fd, FIONREAD, &waiting) != 0 || waiting < 0) return 0;
    return static_cast<size_t>(waiting);
}

void CloseExclusive(int fd) {
    if (fd < 0) return;
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    close(fd);
}

} // namespace posix_serial
