#include "tests/dialogue/FakeDevice.h"

#include <algorithm>
#include <poll.h>
#include <unistd.h>

namespace tolvane::test {

FakeDevice::FakeDevice(PtyPair& pty, Responder responder)
    : Pty(pty), Respond(std::move(responder)), Thread([this] { Run(); }) {}

FakeDevice::~FakeDevice() {
    Finish();
}

void FakeDevice::Finish() {
    Stop = true;
    if (Thread.joinable()) Thread.join();
}

std::vector<DeviceMessage> FakeDevice::Log() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Messages;
}

int FakeDevice::Count(DeviceMessage::Kind kind) const {
    std::lock_guard<std::mutex> guard(Lock);
    int n = 0;
    for (const auto& m : Messages)
        n += m.kind == kind;
    return n;
}

bool FakeDevice::WaitForMessages(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(Lock);
    return Logged.wait_for(guard, timeout, [&] { return Messages.size() >= count; });
}

bool FakeDevice::WaitForKind(DeviceMessage::Kind kind, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(Lock);
    return Logged.wait_for(guard, timeout, [&] {
        return std::any_of(Messages.begin(), Messages.end(),
                           [&](const DeviceMessage& m) { return m.kind == kind; });
    });
}

void FakeDevice::Handle(DeviceMessage message) {
    message.baud = Pty.SlaveBaudRate();
    DeviceReply reply;
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (Respond) reply = Respond(message);
        Messages.push_back(message);
    }
    Logged.notify_all();
    for (size_t i = 0; i < reply.chunks.size(); ++i) {
        if (i > 0) std::this_thread::sleep_for(reply.gap);
        Pty.Write(reply.chunks[i].data(), reply.chunks[i].size());
    }
}

void FakeDevice::Run() {
    Bytes pending;
    while (!Stop) {
        pollfd pfd{Pty.MasterFd(), POLLIN, 0};
        if (poll(&pfd, 1, 10) > 0 && (pfd.revents & POLLIN)) {
            uint8_t chunk[8192];
            const ssize_t n = read(Pty.MasterFd(), chunk, sizeof chunk);
            if (n > 0) pending.insert(pending.end(), chunk, chunk + n);
        }
        for (DeviceMessage& m : TakeDeviceMessages(pending))
            Handle(std::move(m));
    }
}

DeviceReply GoodLoader::Answer(const DeviceMessage& m) {
    switch (m.kind) {
    case DeviceMessage::Kind::Reset:
        return std::string("\r\nOK\r\n");
    case DeviceMessage::Kind::Command:
        return CommandReply(0x80);
    case DeviceMessage::Kind::Data: {
        const uint16_t count = uint16_t(m.bytes[3] | m.bytes[4] << 8);
        const Bytes payload(m.bytes.begin() + 9, m.bytes.end() - 4);
        if (m.index == count) {
            closing = payload;
            return DataReply(kind, uint16_t(count + 1));
        }
        const size_t at = size_t(m.index) * m.length;
        if (image.size() < at + m.length) image.resize(at + m.length);
        std::copy(payload.begin(), payload.end(), image.begin() + long(at));
        return DataReply(kind, uint16_t(m.index + 1));
    }
    default:
        return {};
    }
}

} // namespace tolvane::test
