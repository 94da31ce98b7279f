#pragma once
// Sorting one receive notification into the replies the device can send. Every notification is
// judged alone, from its first byte; nothing is carried over from one notification to the next.

#include <cstdint>

// The most bytes taken from the receive queue per notification.
constexpr int32_t MaxReceiveChunk = 1024;
// Every reply buffer holds a full notification plus the terminating zero of a text reply, so a
// text reply of 1024 characters keeps all of them.
constexpr int32_t ReplyBufferSize = MaxReceiveChunk + 1;

enum class ReplyClass { None, CommandReply, DataReply, Text };

struct RecognisedReply {
    ReplyClass kind = ReplyClass::None;
    // Bytes of the message as they go into the waiting buffer; for a text reply the characters
    // before the first zero byte (the terminating zero is added on copy).
    int32_t length = 0;
};

// Classifies the n bytes of one notification. n above MaxReceiveChunk is judged on its first
// MaxReceiveChunk bytes, as only that many are ever taken at once.
RecognisedReply RecogniseReply(const uint8_t* data, int32_t n);

// Copies a recognised reply into target (capacity bytes) and returns the bytes written, the
// terminating zero of a text reply included. Never writes past capacity; a text that does not
// fit with its zero is cut to capacity - 1 characters. Writes nothing for ReplyClass::None.
int32_t CopyReply(const RecognisedReply& reply, const uint8_t* data, uint8_t* target,
                  int32_t capacity);
