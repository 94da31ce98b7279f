#pragma once
// The binary frames exchanged with the device's loader: building the two requests into a
// caller's fixed buffer and judging the two replies. Multi-byte numbers are little-endian and
// every frame ends with the Crc32 of all its bytes before it.

#include <cstdint>

constexpr uint8_t FrameMark0 = 0x66;
constexpr uint8_t FrameMark1 = 0xCC;
constexpr uint8_t CommandKind = 0xFF;

constexpr int32_t DataFrameBufferSize = 4096;
constexpr int32_t CommandFrameBufferSize = 1024;
// Header (9 bytes) and checksum (4 bytes) around the payload of a data frame.
constexpr int32_t DataFrameOverhead = 13;
constexpr int32_t MaxFrameBlockSize = DataFrameBufferSize - DataFrameOverhead; // 4083
constexpr int32_t ClosingPayloadLength = 8;
constexpr int32_t DataReplyLength = 9;
constexpr int32_t MinReplyLength = 9;

// What a data frame is built from: the loaded package's fields as stored.
struct DataFrameSource {
    uint8_t kind = 0;
    uint16_t blockCount = 0;
    int32_t blockSize = 0;
    const uint8_t* blockData = nullptr;
    int32_t blockDataSize = 0; // bytes available at blockData
    const uint8_t* endParam1 = nullptr;
    const uint8_t* endParam2 = nullptr;
};

// True when every block of the source fits a data frame and lies inside its block data.
bool CanFrameBlocks(const DataFrameSource& source);

// Builds the data frame for block index (the closing frame when index equals blockCount) into
// buffer and returns its length. Returns 0 and leaves the buffer untouched when the frame
// cannot be built: kind 0, an index above blockCount, a block outside the block data, a
// missing end parameter, or a frame longer than capacity.
int32_t BuildDataFrame(const DataFrameSource& source, uint16_t index, uint8_t* buffer,
                       int32_t capacity);

// Builds a command frame (payload length = the low 8 bits of length; an absent payload sends
// zeros) and returns its length, or 0 when capacity is too small.
int32_t BuildCommandFrame(uint8_t code, const uint8_t* payload, int32_t length, uint8_t* buffer,
                          int32_t capacity);

// What the frame operations return when no usable reply came; a reply's own value (a next
// index, or CommandAccepted) is never negative. The numbers are the device dialogue's own.
enum FrameResult : int32_t {
    CommandAccepted = 1,
    NoPackage = -1,    // no valid package: nothing was sent
    FrameStopped = -2, // the wait was stopped after the frame went out
    FrameTimedOut = -3,
    WrongReply = -4, // a reply arrived, but not the one the request expects
};

// Judges the reply to a data frame of the given kind: the next index (0 to 65535) or WrongReply.
int32_t JudgeDataReply(const uint8_t* reply, uint8_t kind);

// Judges the reply to a command frame: CommandAccepted (status bit 7 set, bit 6 clear) or
// WrongReply.
int32_t JudgeCommandReply(const uint8_t* reply);
