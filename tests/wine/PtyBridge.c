// Two pseudo-terminals joined back to back, for the Windows serial tests under wine: what is
// written to one slave is read from the other. Prints the two slave paths, one a line, then
// relays until killed. The slaves are kept open here so that the ports' openings and closings
// never hang the line up.
#define _GNU_SOURCE
#include <poll.h>
#include <pty.h>
#include <stdio.h>
#include <termios.h>
#include <unistd.h>

int main(void) {
    int master[2], slave[2];
    char name[2][64];
    struct termios raw;
    for (int i = 0; i < 2; ++i) {
        if (openpty(&master[i], &slave[i], name[i], NULL, NULL) != 0) return 1;
        tcgetattr(slave[i], &raw);
        cfmakeraw(&raw);
        tcsetattr(slave[i], TCSANOW, &raw);
        printf("%s\n", name[i]);
    }
    fflush(stdout);
    char buffer[4096];
    for (;;) {
        struct pollfd fds[2] = {{master[0], POLLIN, 0}, {master[1], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & POLLIN)) continue;
            ssize_t got = read(master[i], buffer, sizeof buffer);
            for (ssize_t done = 0; got > 0 && done < got;) {
                ssize_t n = write(master[1 - i], buffer + done, (size_t)(got - done));
                if (n > 0) done += n;
            }
        }
    }
}
