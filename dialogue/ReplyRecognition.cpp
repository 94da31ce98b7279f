#include "dialogue/ReplyRecognition.h"

#include "dialogue/FrameCodec.h"
#include "package/ByteOrder.h"
#include "package/Crc32.h"

#include <algorithm>
#include <cstring>

RecognisedReply RecogniseReply(const uint8_t* data, int32_t n) {
    RecognisedReply none;
    if (data == nullptr || n <= 0) return none;
    n = std::min(n, MaxReceiveChunk);

    if (n >= 2 && data[0] == FrameMark0 && data[1] == FrameMark1) {
        // Framed data is never text, even when its own test fails.
        if (n < MinReplyLength) return none;
        if (data[2] == CommandKind) {
            const int32_t m = int32_t(data[4]) + MinReplyLength;
            if (m > n || Crc32(data, m - 4) != ReadLe32(data + m - 4)) return none;
            return {ReplyClass::CommandReply, m};
        }
        if (Crc32(data, 5) != ReadLe32(data + 5)) return none;
        return {ReplyClass::DataReply, DataReplyLength};
    }

    if (n >= 2 && data[0] == '\r' && data[1] == '\n') {
        const void* zero = std::memchr(data, 0, size_t(n));
        const int32_t length = zero ? int32_t(static_cast<const uint8_t*>(zero) - data) : n;
        return {ReplyClass::Text, length};
    }
    return none;
}

int32_t CopyReply(const RecognisedReply& reply, const uint8_t* data, uint8_t* target,
                  int32_t capacity) {
    if (reply.kind == ReplyClass::None || target == nullptr || capacity <= 0) return 0;
    if (reply.kind == ReplyClass::Text) {
        const int32_t chars = std::min(reply.length, capacity - 1);
        std::memcpy(target, data, size_t(chars));
        target[chars] = 0;
        return chars + 1;
    }
    const int32_t bytes = std::min(reply.length, capacity);
    std::memcpy(target, data, size_t(bytes));
    return bytes;
}
