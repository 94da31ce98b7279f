#include "tools/devsim/PtyLine.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace devsim {

bool OpenPseudoTerminal(PtyPair& pair, std::string& error) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    termios raw;
    if (::tcgetattr(slave, &raw) == 0) {
        ::cfmakeraw(&raw);
        raw.c_cflag |= CLOCAL | CREAD;
        ::cfsetspeed(&raw, B115200);
        ::tcsetattr(slave, TCSANOW, &raw);
    }
    ::close(slave);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    pair.Master = master;
    pair.SlavePath = name;
    return true;
}

} // namespace devsim
