// Arbitrary notification bytes through reply recognition and the copy into a waiting exchange's
// buffer: no read past the notification, no write past the buffer, and only well-formed replies
// are ever taken.
#include "dialogue/ReplyRecognition.h"
#include "fuzz/FuzzCheck.h"
#include "package/Crc32.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
uint32_t StoredCrc(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte picks the waiting buffer's size, so short buffers are exercised too.
    const int32_t capacity = data[0] % 2 == 0 ? ReplyBufferSize : 1 + data[0] % 64;
    ++data;
    --size;
    // Exactly the notification's bytes on the heap, so ASan sees any read beyond them.
    const int32_t n = int32_t(size > size_t(MaxReceiveChunk) ? MaxReceiveChunk : size);
    std::vector<uint8_t> note(data, data + n);
    const RecognisedReply reply = RecogniseReply(note.data(), n);

    Check(reply.length >= 0 && reply.length <= n, "reply lies within the notification");
    switch (reply.kind) {
    case ReplyClass::None:
        Check(reply.length == 0, "nothing taken from an unrecognised notification");
        break;
    case ReplyClass::CommandReply:
        Check(n >= 9 && note[0] == 0x66 && note[1] == 0xCC && note[2] == 0xFF, "command mark");
        Check(reply.length == note[4] + 9, "command reply length");
        Check(Crc32(note.data(), reply.length - 4) == StoredCrc(&note[reply.length - 4]),
              "command reply checksum");
        break;
    case ReplyClass::DataReply:
        Check(n >= 9 && note[0] == 0x66 && note[1] == 0xCC && note[2] != 0xFF, "data mark");
        Check(reply.length == 9 && Crc32(note.data(), 5) == StoredCrc(&note[5]),
              "data reply checksum");
        break;
    case ReplyClass::Text:
        Check(n >= 2 && note[0] == '\r' && note[1] == '\n', "text begins with CR LF");
        Check(!(note[0] == 0x66 && note[1] == 0xCC), "a frame mark is never text");
        Check(std::memchr(note.data(), 0, size_t(reply.length)) == nullptr, "text stops at zero");
        break;
    }

    std::vector<uint8_t> target(static_cast<size_t>(capacity));
    const int32_t written = CopyReply(reply, note.data(), target.data(), capacity);
    Check(written >= 0 && written <= capacity, "copy stays inside the buffer");
    if (reply.kind == ReplyClass::Text && written > 0)
        Check(target[size_t(written) - 1] == 0, "copied text is terminated");
    return 0;
}
