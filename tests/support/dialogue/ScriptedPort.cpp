#include "tests/support/dialogue/ScriptedPort.h"

#include <algorithm>

namespace tolvane::test {

int ScriptedPort::Write(const uint8_t* data, unsigned count) {
    if (!Open) {
        LostBytes += count;
        return int(count);
    }
    Wire.insert(Wire.end(), data, data + count);
    Pending.insert(Pending.end(), data, data + count);
    for (DeviceMessage& m : TakeDeviceMessages(Pending)) {
        m.baud = uint32_t(Baud);
        m.parity = Parity;
        Events.push_back({LineEvent::Kind::Message, Clock.Now(), m, 0});
        if (!Device) continue;
        for (Burst& burst : Device(m))
            ArriveAt(Clock.Now() + burst.AfterMs, std::move(burst.Data));
    }
    return int(count);
}

int ScriptedPort::Read(uint8_t* buffer, unsigned maxCount) {
    const size_t n = std::min<size_t>(maxCount, Received.size());
    std::copy_n(Received.begin(), n, buffer);
    Received.erase(Received.begin(), Received.begin() + long(n));
    return int(n);
}

void ScriptedPort::SetBaudRate(int baud) {
    Baud = baud;
    Events.push_back({LineEvent::Kind::SetBaudRate, Clock.Now(), {}, baud});
}

void ScriptedPort::SetParity(uint8_t parity) {
    Parity = parity;
    Events.push_back({LineEvent::Kind::SetParity, Clock.Now(), {}, parity});
}

void ScriptedPort::ArriveAt(int64_t atMs, Bytes data) {
    Arrivals.emplace(atMs, std::move(data));
}

int64_t ScriptedPort::NextNotification() const {
    int64_t next = Received.empty() ? Never : LastNotify + QuietMs;
    if (!Arrivals.empty()) {
        // Bursts closer than the quiet time run together into one notification.
        int64_t last = Arrivals.begin()->first;
        for (const auto& [at, bytes] : Arrivals) {
            if (at - last >= QuietMs) break;
            last = at;
        }
        next = std::min(next, last + QuietMs);
    }
    return next;
}

void ScriptedPort::Notify() {
    const int64_t now = Clock.Now();
    while (!Arrivals.empty() && Arrivals.begin()->first <= now) {
        const Bytes& bytes = Arrivals.begin()->second;
        Received.insert(Received.end(), bytes.begin(), bytes.end());
        Arrivals.erase(Arrivals.begin());
    }
    LastNotify = now;
}

std::vector<DeviceMessage> ScriptedPort::Messages() const {
    std::vector<DeviceMessage> messages;
    for (const LineEvent& e : Events)
        if (e.kind == LineEvent::Kind::Message) messages.push_back(e.message);
    return messages;
}

int ScriptedPort::Count(DeviceMessage::Kind kind) const {
    int n = 0;
    for (const LineEvent& e : Events)
        n += e.kind == LineEvent::Kind::Message && e.message.kind == kind;
    return n;
}

std::vector<int> ScriptedPort::DataIndices() const {
    std::vector<int> indices;
    for (const LineEvent& e : Events)
        if (e.kind == LineEvent::Kind::Message && e.message.kind == DeviceMessage::Kind::Data)
            indices.push_back(e.message.index);
    return indices;
}

} // namespace tolvane::test
