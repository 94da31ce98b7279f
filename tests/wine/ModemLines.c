// Preloaded into wine's processes by the Windows serial tests: answers the modem-line queries
// on pseudo-terminals, which have no modem lines, so that wine's comm-event wait works on them.
// Lines set are remembered per descriptor; DSR, CTS and carrier always read as present.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

enum { kMaxFd = 4096 };
static int lines[kMaxFd];

static int IsPtySlave(int fd) {
    struct stat st;
    if (fd < 0 || fd >= kMaxFd || fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
    return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if ((request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS ||
         request == TIOCMBIC) &&
        IsPtySlave(fd)) {
        int* value = (int*)arg;
        if (request == TIOCMGET)
            *value = lines[fd] | TIOCM_DSR | TIOCM_CTS | TIOCM_CAR;
        else if (request == TIOCMSET)
            lines[fd] = *value;
        else if (request == TIOCMBIS)
            lines[fd] |= *value;
        else
            lines[fd] &= ~*value;
        return 0;
    }
    static int (*real)(int, unsigned long, ...);
    if (!real) real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    return real(fd, request, arg);
}
