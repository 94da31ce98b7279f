#include "dialogue/FrameCodec.h"

#include "package/ByteOrder.h"
#include "package/Crc32.h"

#include <cstring>

bool CanFrameBlocks(const DataFrameSource& s) {
    if (s.kind == 0 || s.endParam1 == nullptr || s.endParam2 == nullptr) return false;
    if (s.blockCount == 0) return true;
    return s.blockSize > 0 && s.blockSize <= MaxFrameBlockSize && s.blockData != nullptr &&
           int64_t(s.blockCount) * s.blockSize <= s.blockDataSize;
}

int32_t BuildDataFrame(const DataFrameSource& s, uint16_t index, uint8_t* buffer,
                       int32_t capacity) {
    if (s.kind == 0 || index > s.blockCount || buffer == nullptr) return 0;
    const bool closing = index == s.blockCount;
    const uint8_t* payload = nullptr;
    int32_t length = 0;
    if (closing) {
        if (s.endParam1 == nullptr || s.endParam2 == nullptr) return 0;
        length = ClosingPayloadLength;
    } else {
        if (s.blockData == nullptr || s.blockSize <= 0 || s.blockSize > 0xFFFF) return 0;
        const int64_t offset = int64_t(index) * s.blockSize;
        if (offset + s.blockSize > s.blockDataSize) return 0;
        payload = s.blockData + offset;
        length = s.blockSize;
    }
    const int32_t total = length + DataFrameOverhead;
    if (total > capacity) return 0;

    buffer[0] = FrameMark0;
    buffer[1] = FrameMark1;
    buffer[2] = s.kind;
    WriteLe16(buffer + 3, s.blockCount);
    WriteLe16(buffer + 5, index);
    WriteLe16(buffer + 7, uint32_t(length));
    if (closing) {
        // The device expects the second end value first.
        std::memcpy(buffer + 9, s.endParam2, 4);
        std::memcpy(buffer + 13, s.endParam1, 4);
    } else {
        std::memcpy(buffer + 9, payload, size_t(length));
    }
    WriteLe32(buffer + 9 + length, Crc32(buffer, 9 + length));
    return total;
}

int32_t BuildCommandFrame(uint8_t code, const uint8_t* payload, int32_t length, uint8_t* buffer,
                          int32_t capacity) {
    const int32_t l = length & 0xFF;
    const int32_t total = l + 9;
    if (buffer == nullptr || total > capacity) return 0;
    buffer[0] = FrameMark0;
    buffer[1] = FrameMark1;
    buffer[2] = CommandKind;
    buffer[3] = code;
    buffer[4] = uint8_t(l);
    if (payload != nullptr)
        std::memcpy(buffer + 5, payload, size_t(l));
    else
        std::memset(buffer + 5, 0, size_t(l));
    WriteLe32(buffer + 5 + l, Crc32(buffer, 5 + l));
    return total;
}

int32_t JudgeDataReply(const uint8_t* reply, uint8_t kind) {
    if (reply[0] != FrameMark0 || reply[1] != FrameMark1 || reply[2] != kind) return WrongReply;
    return int32_t(reply[3]) | int32_t(reply[4]) << 8;
}

int32_t JudgeCommandReply(const uint8_t* reply) {
    if (reply[0] != FrameMark0 || reply[1] != FrameMark1 || reply[2] != CommandKind)
        return WrongReply;
    return (reply[3] & 0x80) != 0 && (reply[3] & 0x40) == 0 ? CommandAccepted : WrongReply;
}
