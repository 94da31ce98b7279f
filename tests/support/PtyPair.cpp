#include "tests/support/PtyPair.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace tolvane::test {

uint32_t MasterSideBaudRate(int masterFd); // PtyTermios2.cpp

namespace {
void MakeRaw(int fd) {
    termios t;
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
}

int MillisLeft(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

int CountEntries(const char* folder) {
    DIR* dir = opendir(folder);
    if (!dir) return -1;
    int count = 0;
    while (dirent* e = readdir(dir))
        if (e->d_name[0] != '.') ++count;
    closedir(dir);
    return count;
}
} // namespace

PtyPair::PtyPair(bool keepSlaveOpen) {
    int slave = -1;
    char name[256];
    if (openpty(&Master, &slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    Slave = name;
    MakeRaw(slave);
    fcntl(Master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    fcntl(Master, F_SETFL, fcntl(Master, F_GETFL) | O_NONBLOCK);
    if (keepSlaveOpen)
        SlaveFd = slave;
    else
        close(slave);
}

PtyPair::~PtyPair() {
    CloseSlave();
    CloseMaster();
}

bool PtyPair::Write(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (size > 0) {
        ssize_t n = write(Master, p, size);
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd pfd{Master, POLLOUT, 0};
            if (poll(&pfd, 1, MillisLeft(deadline)) <= 0) return false;
        } else {
            return false;
        }
    }
    return true;
}

std::vector<uint8_t> PtyPair::Read(size_t want, std::chrono::milliseconds timeout) {
    std::vector<uint8_t> got;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    uint8_t buffer[4096];
    while (got.size() < want) {
        ssize_t n = read(Master, buffer, std::min(sizeof(buffer), want - got.size()));
        if (n > 0) {
            got.insert(got.end(), buffer, buffer + n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) break;
        int left = MillisLeft(deadline);
        if (left == 0) break;
        pollfd pfd{Master, POLLIN, 0};
        if (poll(&pfd, 1, std::min(left, 20)) < 0 && errno != EINTR) break;
    }
    return got;
}

std::vector<uint8_t> PtyPair::ReadUntilQuiet(std::chrono::milliseconds quiet) {
    std::vector<uint8_t> got;
    for (;;) {
        std::vector<uint8_t> more = Read(1 << 20, quiet);
        if (more.empty()) return got;
        got.insert(got.end(), more.begin(), more.end());
    }
}

uint32_t PtyPair::SlaveBaudRate() const {
    return MasterSideBaudRate(Master);
}

int PtyPair::SlaveDataBits() const {
    termios t;
    if (tcgetattr(Master, &t) != 0) return 0;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

int PtyPair::SlaveParity() const {
    termios t;
    if (tcgetattr(Master, &t) != 0 || !(t.c_cflag & PARENB)) return 0;
    return (t.c_cflag & PARODD) ? 1 : 2;
}

bool PtyPair::SlaveTwoStopBits() const {
    termios t;
    return tcgetattr(Master, &t) == 0 && (t.c_cflag & CSTOPB);
}

bool PtyPair::SlaveHangsUpOnClose() const {
    termios t;
    return tcgetattr(Master, &t) == 0 && (t.c_cflag & HUPCL);
}

void PtyPair::CloseMaster() {
    if (Master >= 0) close(Master);
    Master = -1;
}

void PtyPair::CloseSlave() {
    if (SlaveFd >= 0) close(SlaveFd);
    SlaveFd = -1;
}

// The listing's own descriptor is not counted.
int OpenFdCount() {
    return CountEntries("/proc/self/fd") - 1;
}
int ThreadCount() {
    return CountEntries("/proc/self/task");
}

} // namespace tolvane::test
