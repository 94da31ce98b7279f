#pragma once
// What a device hears and says: the tool's bytes split into the messages the device acts on,
// and the device's binary replies built with their checksums. Shared by the device on a
// pseudo-terminal and the scripted port of the window-free dialogue tests.

#include <cstdint>
#include <string>
#include <vector>

namespace tolvane::test {

using Bytes = std::vector<uint8_t>;

struct DeviceMessage {
    enum class Kind { Reset, Version, OtherText, Command, Data, Junk } kind;
    Bytes bytes;
    uint32_t baud = 0;   // the line's baud rate when the message was complete
    uint16_t index = 0;  // data frames: the block index
    uint16_t length = 0; // data frames: the payload length
    uint8_t parity = 0;  // the line's parity, where the device can tell
};

// Takes every complete message off the front of pending, oldest first; an incomplete one stays.
std::vector<DeviceMessage> TakeDeviceMessages(Bytes& pending);

Bytes WithCrc(Bytes b);
Bytes DataReply(uint8_t kind, uint16_t next);
Bytes CommandReply(uint8_t status);
Bytes TextBytes(const std::string& text);

} // namespace tolvane::test
