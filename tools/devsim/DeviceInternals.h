#pragma once
// What the parts of the virtual device share: the clock, the frames it answers with, and the
// names of its modes for the log. Private to the device's own files.
#include "tools/devsim/VirtualDevice.h"

#include "dialogue/FrameCodec.h"
#include "package/ByteOrder.h"
#include "package/Crc32.h"

#include <chrono>
#include <cstdint>
#include <vector>

namespace devsim {

// The frame layout is the tool's own (FrameCodec.h): both ends speak the same protocol.
constexpr uint8_t kMark0 = FrameMark0;
constexpr uint8_t kMark1 = FrameMark1;
constexpr uint8_t kCommandKind = CommandKind;
constexpr uint32_t kMaxBlockSize = MaxFrameBlockSize;

inline double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

inline void PutCrc(std::vector<uint8_t>& frame) {
    const uint32_t crc = Crc32(frame.data(), int32_t(frame.size()));
    for (int i = 0; i < 4; ++i)
        frame.push_back(uint8_t(crc >> (8 * i)));
}

inline bool CrcMatches(const std::vector<uint8_t>& frame) {
    const size_t n = frame.size() - 4;
    return Crc32(frame.data(), int32_t(n)) == ReadLe32(frame.data() + n);
}

inline std::vector<uint8_t> CommandReply(uint8_t status) {
    std::vector<uint8_t> reply = {kMark0, kMark1, kCommandKind, status, 0};
    PutCrc(reply);
    return reply;
}

inline std::vector<uint8_t> DataReply(uint8_t kind, uint16_t next) {
    std::vector<uint8_t> reply = {kMark0, kMark1, kind, uint8_t(next), uint8_t(next >> 8)};
    PutCrc(reply);
    return reply;
}

inline const char* ModeName(DeviceMode mode) {
    return mode == DeviceMode::Working ? "working" : "loader";
}

} // namespace devsim
