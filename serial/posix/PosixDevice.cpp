#include "serial/SerialDevice.h"

#include "serial/posix/PosixSerial.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

struct SerialDevice::Impl {
    std::atomic<int> Fd{-1};
    std::atomic<int> WakeFd{-1}; // eventfd, readable once Close wants the threads gone
    std::atomic<bool> Interrupted{false};
    bool DeviceAlive = true; // reader thread only
};

SerialDevice::SerialDevice() : impl_(std::make_unique<Impl>()) {}

SerialDevice::~SerialDevice() {
    Release();
}

int SerialDevice::Open(const std::string& path, const PortDcb& dcb) {
    const int fd = posix_serial::OpenExclusive(path);
    if (fd < 0) return -5;
    impl_->Fd = fd;
    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return -6;
    impl_->WakeFd = wake;
    if (!posix_serial::ApplyLineSettings(fd, dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits))
        return -7;
    posix_serial::RaiseModemLines(fd);
    posix_serial::FlushBoth(fd);
    return 1;
}

size_t SerialDevice::WaitForInput() {
    Impl& d = *impl_;
    pollfd fds[2] = {{d.WakeFd.load(), POLLIN, 0}, {d.Fd.load(), POLLIN, 0}};
    // A vanished device (hang-up, error) is no longer polled: it would report itself ready for
    // ever. The port stays open and the reader just waits for Close.
    const int ready = poll(fds, d.DeviceAlive ? 2 : 1, -1);
    if (ready < 0) {
        if (errno != EINTR) d.DeviceAlive = false;
        return 0;
    }
    if (d.Interrupted || fds[0].revents) return 0;
    const short events = fds[1].revents;
    if (events & POLLIN) {
        const size_t waiting = posix_serial::BytesWaiting(fds[1].fd);
        return waiting != 0 ? waiting : PortChunkSize; // one read tells data from a hang-up
    }
    if (events & (POLLHUP | POLLERR | POLLNVAL)) d.DeviceAlive = false;
    return 0;
}

bool SerialDevice::Vanished() const {
    return !impl_->DeviceAlive;
}

size_t SerialDevice::Read(uint8_t* buffer, size_t size) {
    const ssize_t got = read(impl_->Fd.load(), buffer, size);
    if (got > 0) return static_cast<size_t>(got);
    if (got == 0 || (errno != EAGAIN && errno != EINTR)) impl_->DeviceAlive = false;
    return 0;
}

bool SerialDevice::Write(const uint8_t* data, size_t size) {
    Impl& d = *impl_;
    const int fd = d.Fd.load();
    while (size > 0) {
        const ssize_t done = write(fd, data, size);
        if (done > 0) {
            data += done;
            size -= static_cast<size_t>(done);
            continue;
        }
        if (done < 0 && errno == EINTR) continue;
        if (done < 0 && errno != EAGAIN) return false;
        pollfd fds[2] = {{d.WakeFd.load(), POLLIN, 0}, {fd, POLLOUT, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return false;
        if (d.Interrupted || fds[0].revents) return false;
        if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
    }
    return true;
}

void SerialDevice::Interrupt() {
    impl_->Interrupted = true;
    const int wake = impl_->WakeFd.load();
    if (wake >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = write(wake, &one, sizeof(one));
    }
}

void SerialDevice::Release() {
    const int fd = impl_->Fd.exchange(-1);
    if (fd >= 0) posix_serial::CloseExclusive(fd);
    const int wake = impl_->WakeFd.exchange(-1);
    if (wake >= 0) close(wake);
}
