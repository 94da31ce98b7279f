#include "tests/dialogue/FakeDevice.h"

#include "package/Crc32.h"

#include <algorithm>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace tolvane::test {

Bytes WithCrc(Bytes b) {
    const uint32_t crc = Crc32(b.data(), int32_t(b.size()));
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(crc >> (8 * i)));
    return b;
}

Bytes DataReply(uint8_t kind, uint16_t next) {
    return WithCrc({0x66, 0xCC, kind, uint8_t(next), uint8_t(next >> 8)});
}

Bytes CommandReply(uint8_t status) {
    return WithCrc({0x66, 0xCC, 0xFF, status, 0});
}

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
    using Kind = DeviceMessage::Kind;
    static const std::string reset = "AT+RESET\r";
    static const std::string version = "AT+VERSION=?\r\n";
    Bytes pending;
    while (!Stop) {
        pollfd pfd{Pty.MasterFd(), POLLIN, 0};
        if (poll(&pfd, 1, 10) > 0 && (pfd.revents & POLLIN)) {
            uint8_t chunk[8192];
            const ssize_t n = read(Pty.MasterFd(), chunk, sizeof chunk);
            if (n > 0) pending.insert(pending.end(), chunk, chunk + n);
        }
        // Take every complete message off the front of what arrived.
        for (;;) {
            if (pending.empty()) break;
            const auto take = [&](Kind kind, size_t size) {
                DeviceMessage m{kind, Bytes(pending.begin(), pending.begin() + long(size))};
                if (kind == Kind::Data) {
                    m.index = uint16_t(m.bytes[5] | m.bytes[6] << 8);
                    m.length = uint16_t(m.bytes[7] | m.bytes[8] << 8);
                }
                pending.erase(pending.begin(), pending.begin() + long(size));
                Handle(std::move(m));
            };
            const auto startsWith = [&](const std::string& s) {
                const size_t k = std::min(s.size(), pending.size());
                return std::memcmp(pending.data(), s.data(), k) == 0;
            };
            if (pending[0] == 0x66) {
                if (pending.size() < 9) break;
                if (pending[2] == 0xFF) {
                    const size_t size = size_t(pending[4]) + 9;
                    if (pending.size() < size) break;
                    take(Kind::Command, size);
                } else {
                    const size_t size = size_t(pending[7] | pending[8] << 8) + 13;
                    if (pending.size() < size) break;
                    take(Kind::Data, size);
                }
            } else if (startsWith(reset)) {
                if (pending.size() < reset.size()) break;
                take(Kind::Reset, reset.size());
            } else if (startsWith(version)) {
                if (pending.size() < version.size()) break;
                take(Kind::Version, version.size());
            } else if (pending[0] == 'A' || pending[0] == '\r') {
                // Any other command line, up to its first line-end character.
                const auto end = std::find_if(pending.begin(), pending.end(),
                                              [](uint8_t c) { return c == '\r' || c == '\n'; });
                if (end == pending.end()) break;
                take(Kind::OtherText, size_t(end - pending.begin()) + 1);
            } else {
                take(Kind::Junk, 1);
            }
        }
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
