#include "tools/devsim/VirtualDevice.h"

#include "tools/devsim/DeviceInternals.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

// The device's life: its thread, its status and the loop that reads the line. The rest lives in
// DeviceLine.cpp, DeviceProtocol.cpp, DeviceFaults.cpp and DeviceUnits.cpp.
namespace devsim {

namespace {

// A frame that stops arriving half-way for this long is dropped, as a loader's receive
// time-out would.
constexpr double kStaleFrameMs = 1000;

} // namespace

VirtualDevice::VirtualDevice(DeviceOptions options) : options_(std::move(options)) {
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    mode_ = options_.StartInLoader ? DeviceMode::Loader : DeviceMode::Working;
    status_.Mode = mode_;
}

VirtualDevice::~VirtualDevice() {
    Stop();
    if (wake_ >= 0) ::close(wake_);
}

bool VirtualDevice::Start(int masterFd) {
    if (thread_.joinable() || wake_ < 0 || masterFd < 0) return false;
    master_ = masterFd;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    running_ = true;
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        status_.Running = true;
    }
    try {
        thread_ = std::thread(&VirtualDevice::Run, this);
    } catch (const std::system_error&) {
        running_ = false;
        return false;
    }
    return true;
}

void VirtualDevice::Stop() {
    stopping_ = true;
    if (wake_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = ::write(wake_, &one, sizeof one);
    }
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    running_ = false;
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_.Running = false;
}

DeviceStatus VirtualDevice::Status() const {
    std::lock_guard<std::mutex> lock(statusMutex_);
    return status_;
}

void VirtualDevice::Note(const std::string& text) {
    if (options_.Log) options_.Log(text);
}

void VirtualDevice::SetMode(DeviceMode mode) {
    mode_ = mode;
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        status_.Mode = mode;
    }
    Note(std::string("now in ") + ModeName(mode) + " mode, listening at " +
         std::to_string(CurrentLine().Baud) + " baud");
}

void VirtualDevice::Run() {
    ::sigset_t all;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, nullptr); // signals are the main thread's business
    ArmFaults();

    uint8_t chunk[4096];
    while (!stopping_) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {wake_, POLLIN, 0}};
        const int r = ::poll(fds, 2, buffer_.empty() ? -1 : 100);
        if (r < 0 && errno != EINTR) {
            Note(std::string("poll failed: ") + std::strerror(errno));
            break;
        }
        if (stopping_ || (r > 0 && fds[1].revents)) break;
        bool lineClosed = false;
        if (r > 0 && (fds[0].revents & POLLIN)) {
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n > 0)
                Receive(chunk, size_t(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                lineClosed = true; // EIO: nobody has the other end open
        } else if (r > 0 && (fds[0].revents & (POLLHUP | POLLERR))) {
            lineClosed = true;
        }
        // Waits for the tool to (re)open its end without spinning.
        if (lineClosed && !Pause(20)) break;
        if (!buffer_.empty() && NowMs() - lastByteAt_ > kStaleFrameMs) {
            Note("dropped " + std::to_string(buffer_.size()) +
                 " bytes of an incomplete request: " + HexBytes(buffer_.data(), buffer_.size()));
            buffer_.clear();
        }
    }
    running_ = false;
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_.Running = false;
}

} // namespace devsim
