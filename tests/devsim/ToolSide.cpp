#include "ToolSide.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}
std::string Text(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

bool ToolSide::Open(const std::string& path, speed_t speed) {
    Close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    SetSpeed(speed);
    return true;
}

void ToolSide::SetSpeed(speed_t speed) {
    termios t;
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    ::cfsetspeed(&t, speed);
    ::tcsetattr(fd_, TCSANOW, &t);
}

void ToolSide::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void ToolSide::Send(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
        } else {
            pollfd out = {fd_, POLLOUT, 0};
            if (::poll(&out, 1, 1000) <= 0) return;
        }
    }
}

void ToolSide::Send(const std::string& text) {
    Send(Bytes(text));
}

std::vector<Burst> ToolSide::ReceiveBursts(int firstByteMs, int quietMs, int gapMs) {
    std::vector<Burst> bursts;
    const double start = NowMs();
    double last = start;
    bool any = false;
    for (;;) {
        const double now = NowMs();
        const double limit = any ? last + quietMs : start + firstByteMs;
        if (now >= limit) break;
        pollfd in = {fd_, POLLIN, 0};
        const int r = ::poll(&in, 1, int(limit - now) + 1);
        if (r <= 0 || !(in.revents & POLLIN)) continue;
        uint8_t chunk[8192];
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n <= 0) break;
        const double at = NowMs();
        if (!any || at - last >= gapMs) bursts.push_back({at - start, {}});
        bursts.back().Bytes.insert(bursts.back().Bytes.end(), chunk, chunk + n);
        any = true;
        last = at;
    }
    return bursts;
}

std::vector<uint8_t> ToolSide::Receive(int firstByteMs, int quietMs) {
    std::vector<uint8_t> all;
    for (const Burst& b : ReceiveBursts(firstByteMs, quietMs, 1 << 30))
        all.insert(all.end(), b.Bytes.begin(), b.Bytes.end());
    return all;
}

bool ToolSide::HungUp(int waitMs) {
    pollfd in = {fd_, POLLIN, 0};
    if (::poll(&in, 1, waitMs) <= 0) return false;
    if (in.revents & (POLLHUP | POLLERR)) return true;
    uint8_t byte;
    return ::read(fd_, &byte, 1) <= 0;
}
