#include "tests/support/dialogue/DeviceMessages.h"

#include "package/Crc32.h"

#include <algorithm>
#include <cstring>

namespace tolvane::test {

namespace {

using Kind = DeviceMessage::Kind;

// The size of the message at the front of pending, or 0 while it is incomplete.
size_t FrontMessage(const Bytes& pending, Kind& kind) {
    static const std::string reset = "AT+RESET\r";
    static const std::string version = "AT+VERSION=?\r\n";
    const auto startsWith = [&](const std::string& s) {
        const size_t k = std::min(s.size(), pending.size());
        return std::memcmp(pending.data(), s.data(), k) == 0;
    };
    const auto complete = [&](Kind k, size_t size) {
        kind = k;
        return pending.size() < size ? size_t(0) : size;
    };
    if (pending[0] == 0x66) {
        if (pending.size() < 9) return 0;
        if (pending[2] == 0xFF) return complete(Kind::Command, size_t(pending[4]) + 9);
        return complete(Kind::Data, size_t(pending[7] | pending[8] << 8) + 13);
    }
    if (startsWith(reset)) return complete(Kind::Reset, reset.size());
    if (startsWith(version)) return complete(Kind::Version, version.size());
    if (pending[0] == 'A' || pending[0] == '\r') {
        // Any other command line, up to its first line-end character.
        const auto end = std::find_if(pending.begin(), pending.end(),
                                      [](uint8_t c) { return c == '\r' || c == '\n'; });
        if (end == pending.end()) return 0;
        kind = Kind::OtherText;
        return size_t(end - pending.begin()) + 1;
    }
    kind = Kind::Junk;
    return 1;
}

} // namespace

std::vector<DeviceMessage> TakeDeviceMessages(Bytes& pending) {
    std::vector<DeviceMessage> messages;
    while (!pending.empty()) {
        Kind kind = Kind::Junk;
        const size_t size = FrontMessage(pending, kind);
        if (size == 0) break;
        DeviceMessage m{kind, Bytes(pending.begin(), pending.begin() + long(size))};
        if (kind == Kind::Data) {
            m.index = uint16_t(m.bytes[5] | m.bytes[6] << 8);
            m.length = uint16_t(m.bytes[7] | m.bytes[8] << 8);
        }
        pending.erase(pending.begin(), pending.begin() + long(size));
        messages.push_back(std::move(m));
    }
    return messages;
}

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

Bytes TextBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

} // namespace tolvane::test
