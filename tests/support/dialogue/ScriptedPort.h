#pragma once
// A port with a scripted device behind it, on a manual clock. What the tool writes is split into
// the device's messages and logged; the script answers each with bursts that reach the tool
// after a delay. As the port component does, the port notifies the tool once no byte has come
// for QuietMs, and again every QuietMs while bytes stay queued, so a reply split by a pause is
// two notifications and a stray byte just before a reply spoils it.

#include "dialogue/DialogueSeams.h"
#include "tests/support/dialogue/DeviceMessages.h"
#include "tests/support/dialogue/ManualClock.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tolvane::test {

// Bytes the device sends, reaching the tool AfterMs after the request was written.
struct Burst {
    int AfterMs = 10;
    Bytes Data;
};

// The device's answer to one message: nothing (silence), or bursts in order.
using DeviceAnswer = std::vector<Burst>;
inline DeviceAnswer Answer(Bytes data, int afterMs = 10) {
    return {Burst{afterMs, std::move(data)}};
}
inline DeviceAnswer Answer(const std::string& text, int afterMs = 10) {
    return Answer(TextBytes(text), afterMs);
}

// What the tool did to the line, in order.
struct LineEvent {
    enum class Kind { Message, SetBaudRate, SetParity } kind;
    int64_t atMs = 0;
    DeviceMessage message; // Kind::Message only
    int value = 0;         // the baud rate or parity set
};

class ScriptedPort : public DialoguePort {
  public:
    static constexpr int QuietMs = 50;
    using Script = std::function<DeviceAnswer(const DeviceMessage&)>;

    explicit ScriptedPort(const ManualClock& clock) : Clock(clock) {}

    // The device's behaviour; silent until set.
    Script Device;
    bool Open = true;
    int Baud = 115200;
    uint8_t Parity = 0;

    // DialoguePort
    int Write(const uint8_t* data, unsigned count) override;
    int Read(uint8_t* buffer, unsigned maxCount) override;
    bool IsOpen() const override { return Open; }
    int GetBaudRate() const override { return Baud; }
    void SetBaudRate(int baud) override;
    void SetParity(uint8_t parity) override;

    // Bytes that reach the tool at an absolute time, outside any script.
    void ArriveAt(int64_t atMs, Bytes data);
    // When the next receive notification falls, or Never.
    int64_t NextNotification() const;
    // Makes the notification due now: queues what has arrived. The tool then reads.
    void Notify();

    // Everything the tool wrote while the port was open, byte for byte.
    Bytes Wire;
    std::vector<LineEvent> Events;
    std::vector<DeviceMessage> Messages() const;
    int Count(DeviceMessage::Kind kind) const;
    // Block indices of the data frames, in the order sent.
    std::vector<int> DataIndices() const;
    // Bytes written while the port was closed, lost as the port component loses them.
    size_t LostBytes = 0;

  private:
    const ManualClock& Clock;
    Bytes Pending;                          // written, not yet a whole message
    std::multimap<int64_t, Bytes> Arrivals; // not yet received
    std::deque<uint8_t> Received;           // received, not yet read
    int64_t LastNotify = -1;
};

} // namespace tolvane::test
