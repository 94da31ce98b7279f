// The device's end of the line: pacing, the baud-rate check of what arrives, writing replies,
// and the port going away and coming back; the log's renderings of bytes.
#include "tools/devsim/VirtualDevice.h"

#include "tools/devsim/DeviceInternals.h"
#include "tools/devsim/PtyLine.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace devsim {

bool VirtualDevice::Pause(double milliseconds) {
    if (milliseconds > 0 && !stopping_) {
        const double until = NowMs() + milliseconds;
        for (double left = milliseconds; left > 0 && !stopping_; left = until - NowMs()) {
            pollfd wake = {wake_, POLLIN, 0};
            const auto ns = static_cast<long long>(left * 1e6);
            timespec timeout = {time_t(ns / 1000000000), long(ns % 1000000000)};
            ::ppoll(&wake, 1, &timeout, nullptr);
        }
    }
    return !stopping_;
}

const LineMode& VirtualDevice::CurrentLine() const {
    return mode_ == DeviceMode::Working ? options_.Working : options_.Loader;
}

double VirtualDevice::ByteMilliseconds() const {
    LineSettings line;
    if (master_ < 0 || !ReadLineSettings(master_, line) || line.Baud == 0) return 0;
    // The pty hides parity, so the parity bit comes from the mode's own settings.
    const int bits =
        1 + line.DataBits + (CurrentLine().LineParity != Parity::None ? 1 : 0) + line.StopBits;
    return 1000.0 * bits / line.Baud;
}

void VirtualDevice::Receive(const uint8_t* data, size_t length) {
    lastByteAt_ = NowMs();
    LineSettings line;
    const bool known = ReadLineSettings(master_, line);
    if (options_.Pace && known) {
        wireFreeAt_ = std::max(lastByteAt_, wireFreeAt_) + double(length) * ByteMilliseconds();
        if (!Pause(wireFreeAt_ - NowMs())) return;
        lastByteAt_ = NowMs();
    }
    if (lastByteAt_ < bootUntil_) {
        {
            std::lock_guard<std::mutex> lock(statusMutex_);
            status_.BootIgnoredBytes += int(length);
        }
        Note("starting the new firmware: " + std::to_string(length) + " bytes unheard");
        buffer_.clear();
        return;
    }
    // At another baud rate a real device would only see noise.
    if (!known || line.Baud != CurrentLine().Baud) {
        {
            std::lock_guard<std::mutex> lock(statusMutex_);
            status_.IgnoredBytes += int(length);
        }
        Note("ignored " + std::to_string(length) + " bytes at " + std::to_string(line.Baud) +
             " baud: the " + ModeName(mode_) + " mode listens at " +
             std::to_string(CurrentLine().Baud));
        buffer_.clear();
        return;
    }
    buffer_.insert(buffer_.end(), data, data + length);
    ProcessBuffer();
}

bool VirtualDevice::WriteAll(const uint8_t* data, size_t length) {
    size_t done = 0;
    while (done < length && !stopping_) {
        const ssize_t n = ::write(master_, data + done, length - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd out = {master_, POLLOUT, 0};
            ::poll(&out, 1, 50);
        } else {
            Note(std::string("write failed: ") + std::strerror(errno));
            return false;
        }
    }
    return done == length;
}

void VirtualDevice::Reply(std::vector<uint8_t> bytes, bool text) {
    if (faults_.DelayMs > 0 && !Pause(faults_.DelayMs)) return;
    if (faults_.StrayByte) bytes.insert(bytes.begin(), faults_.StrayValue);
    if (options_.Pace && !Pause(double(bytes.size()) * ByteMilliseconds())) return;
    Note("-> " +
         (text ? EscapedText(bytes.data(), bytes.size()) : HexBytes(bytes.data(), bytes.size())));
    bool written;
    if (faults_.SplitMs >= 0 && bytes.size() > 1) {
        const size_t half = bytes.size() / 2;
        written = WriteAll(bytes.data(), half) && Pause(faults_.SplitMs) &&
                  WriteAll(bytes.data() + half, bytes.size() - half);
    } else {
        written = WriteAll(bytes.data(), bytes.size()); // one write: one burst
    }
    if (written) {
        std::lock_guard<std::mutex> lock(statusMutex_);
        ++status_.RepliesSent;
    }
}

void VirtualDevice::CloseLine() {
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        status_.Present = false;
    }
    // The name goes first, so a tool never finds it pointing at a dead line.
    if (options_.Presence) options_.Presence->Vanished();
    ::close(master_);
    master_ = -1;
    buffer_.clear();
}

bool VirtualDevice::ComeBack(double ms) {
    if (!Pause(ms)) return false;
    const int master = options_.Presence ? options_.Presence->Arrive() : -1;
    if (master < 0) {
        Note("the port cannot come back");
        stopping_ = true;
        std::lock_guard<std::mutex> lock(statusMutex_);
        status_.Lost = true;
        return false;
    }
    master_ = master;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    wireFreeAt_ = 0;
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_.Present = true;
    return true;
}

std::string HexBytes(const uint8_t* data, size_t length) {
    constexpr size_t kShown = 32;
    std::string out;
    char two[4];
    for (size_t i = 0; i < std::min(length, kShown); ++i) {
        std::snprintf(two, sizeof two, i ? " %02X" : "%02X", data[i]);
        out += two;
    }
    if (length > kShown) out += " ... (" + std::to_string(length) + " bytes)";
    return out;
}

std::string EscapedText(const uint8_t* data, size_t length) {
    std::string out = "\"";
    char code[8];
    for (size_t i = 0; i < length; ++i) {
        const uint8_t c = data[i];
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + char(c);
        else if (c < 0x20 || c >= 0x7F) {
            std::snprintf(code, sizeof code, "\\x%02X", c);
            out += code;
        } else
            out += char(c);
    }
    return out + "\"";
}

} // namespace devsim
