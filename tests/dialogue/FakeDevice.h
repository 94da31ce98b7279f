#pragma once
// A scripted device at the master end of a pseudo-terminal: it splits what the tool sends into
// text commands, command frames and data frames, logs each with the line's baud rate, and sends
// whatever the test's responder returns.

#include "tests/support/PtyPair.h"
#include "tests/support/dialogue/DeviceMessages.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tolvane::test {

// What the device sends back: chunks written one after the other with `gap` between them.
struct DeviceReply {
    std::vector<Bytes> chunks;
    std::chrono::milliseconds gap{0};
    DeviceReply() = default;
    DeviceReply(Bytes b) : chunks{std::move(b)} {}
    DeviceReply(const std::string& text) : chunks{Bytes(text.begin(), text.end())} {}
};

class FakeDevice {
  public:
    // The responder runs on the device's thread; an empty reply means silence.
    using Responder = std::function<DeviceReply(const DeviceMessage&)>;

    FakeDevice(PtyPair& pty, Responder responder);
    ~FakeDevice();
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    // Ends the device's thread; the log stays readable, and everything the responder did is
    // visible to the caller afterwards.
    void Finish();
    // Runs fn under the lock the responder runs under, for state the two share.
    template <typename Fn> void Locked(Fn fn) {
        std::lock_guard<std::mutex> guard(Lock);
        fn();
    }

    std::vector<DeviceMessage> Log() const;
    int Count(DeviceMessage::Kind kind) const;
    // Waits until `count` messages have been logged; false on time-out.
    bool WaitForMessages(size_t count, std::chrono::milliseconds timeout) const;
    // Waits until a message of the kind has been logged; false on time-out.
    bool WaitForKind(DeviceMessage::Kind kind, std::chrono::milliseconds timeout) const;

  private:
    void Run();
    void Handle(DeviceMessage message);

    PtyPair& Pty;
    Responder Respond;
    std::atomic<bool> Stop{false};
    mutable std::mutex Lock;
    mutable std::condition_variable Logged;
    std::vector<DeviceMessage> Messages;
    std::thread Thread;
};

// A loader that takes every block in order and keeps the image it received.
struct GoodLoader {
    uint8_t kind = 0x10;
    Bytes image;   // payloads of the blocks, at index x payload length
    Bytes closing; // payload of the closing frame
    DeviceReply Answer(const DeviceMessage& m);
};

} // namespace tolvane::test
