// Reply recognition and frame codec, without Qt.
#include "dialogue/FrameCodec.h"
#include "dialogue/ReplyRecognition.h"
#include "package/Crc32.h"
#include "tests/support/dialogue/DeviceMessages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

using tolvane::test::WithCrc;

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

struct RecognitionCase {
    const char* name;
    Bytes data;
    ReplyClass kind;
    int32_t length;
};

TEST(ReplyRecognition, Table) {
    Bytes commandWithPayload = WithCrc({0x66, 0xCC, 0xFF, 0x81, 20, 1,  2,  3,  4,  5,  6,  7, 8,
                                        9,    10,   11,   12,   13, 14, 15, 16, 17, 18, 19, 20});
    Bytes shortCommand = commandWithPayload;
    shortCommand.resize(25); // length byte says 20, 29 bytes needed
    Bytes badCrc = WithCrc({0x66, 0xCC, 0xFF, 0x80, 0x00});
    badCrc[8] ^= 1;
    Bytes dataWithTail = WithCrc({0x66, 0xCC, 0x10, 0x01, 0x00});
    dataWithTail.push_back(0x42);
    Bytes badData = WithCrc({0x66, 0xCC, 0x10, 0x01, 0x00});
    badData[5] ^= 0x80;
    Bytes textWithZero = Text("\r\nAB");
    textWithZero.push_back(0);
    textWithZero.push_back('C');

    const std::vector<RecognitionCase> cases = {
        {"ping answer",
         {0x66, 0xCC, 0xFF, 0x80, 0x00, 0xE8, 0x88, 0xD0, 0x69},
         ReplyClass::CommandReply,
         9},
        {"command reply with payload", commandWithPayload, ReplyClass::CommandReply, 29},
        {"length byte beyond the data", shortCommand, ReplyClass::None, 0},
        {"command reply, wrong crc", badCrc, ReplyClass::None, 0},
        {"data reply",
         {0x66, 0xCC, 0x10, 0x01, 0x00, 0x7F, 0xB6, 0xF6, 0xE9},
         ReplyClass::DataReply,
         9},
        {"data reply with trailing byte", dataWithTail, ReplyClass::DataReply, 9},
        {"data reply, wrong crc", badData, ReplyClass::None, 0},
        {"eight framed bytes", {0x66, 0xCC, 0x10, 0, 0, 0, 0, 0}, ReplyClass::None, 0},
        {"frame mark followed by CR LF", Text("\x66\xCC\r\nOK\r\n"), ReplyClass::None, 0},
        {"text", Text("\r\nOK\r\n"), ReplyClass::Text, 6},
        {"text cut at zero", textWithZero, ReplyClass::Text, 4},
        {"stray byte before text", Text("x\r\nOK\r\n"), ReplyClass::None, 0},
        {"CR alone", Text("\r"), ReplyClass::None, 0},
        {"LF CR", Text("\n\rOK"), ReplyClass::None, 0},
        {"nothing", {}, ReplyClass::None, 0},
    };
    for (const auto& c : cases) {
        const RecognisedReply r = RecogniseReply(c.data.data(), int32_t(c.data.size()));
        EXPECT_EQ(r.kind, c.kind) << c.name;
        EXPECT_EQ(r.length, c.length) << c.name;
    }
}

TEST(ReplyRecognition, FullTextNotificationKeepsEveryCharacter) {
    Bytes text(MaxReceiveChunk, 'v');
    text[0] = '\r';
    text[1] = '\n';
    const RecognisedReply r = RecogniseReply(text.data(), int32_t(text.size()));
    ASSERT_EQ(r.kind, ReplyClass::Text);
    std::array<uint8_t, ReplyBufferSize> target;
    target.fill(0xEE);
    EXPECT_EQ(CopyReply(r, text.data(), target.data(), int32_t(target.size())), ReplyBufferSize);
    EXPECT_EQ(std::memcmp(target.data(), text.data(), text.size()), 0);
    EXPECT_EQ(target[MaxReceiveChunk], 0);

    // A smaller target gets a cut text, still terminated, and nothing past its end.
    std::array<uint8_t, 16> small;
    small.fill(0xEE);
    EXPECT_EQ(CopyReply(r, text.data(), small.data(), 10), 10);
    EXPECT_EQ(small[9], 0);
    EXPECT_EQ(small[10], 0xEE);
}

// The package of the examples: kind 0x10, three blocks of 256 bytes.
struct ExamplePackage {
    Bytes blocks = Bytes(65536, 0);
    std::array<uint8_t, 4> end1{0x11, 0x12, 0x13, 0x14};
    std::array<uint8_t, 4> end2{0x21, 0x22, 0x23, 0x24};
    ExamplePackage() {
        for (size_t i = 0; i < 3 * 256; ++i)
            blocks[i] = uint8_t(i * 7 + 3);
    }
    DataFrameSource Source() const {
        return {0x10, 3, 256, blocks.data(), int32_t(blocks.size()), end1.data(), end2.data()};
    }
};

TEST(FrameCodec, DataFrameForABlock) {
    ExamplePackage p;
    std::array<uint8_t, DataFrameBufferSize> frame{};
    ASSERT_EQ(BuildDataFrame(p.Source(), 1, frame.data(), int32_t(frame.size())), 269);
    const Bytes head{0x66, 0xCC, 0x10, 0x03, 0x00, 0x01, 0x00, 0x00, 0x01};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), frame.begin()));
    EXPECT_EQ(std::memcmp(frame.data() + 9, p.blocks.data() + 256, 256), 0);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 269),
              WithCrc(Bytes(frame.begin(), frame.begin() + 265)));
}

TEST(FrameCodec, ClosingFrameCarriesSecondEndValueFirst) {
    ExamplePackage p;
    std::array<uint8_t, DataFrameBufferSize> frame{};
    ASSERT_EQ(BuildDataFrame(p.Source(), 3, frame.data(), int32_t(frame.size())), 21);
    const Bytes expected = WithCrc({0x66, 0xCC, 0x10, 0x03, 0x00, 0x03, 0x00, 0x08, 0x00, 0x21,
                                    0x22, 0x23, 0x24, 0x11, 0x12, 0x13, 0x14});
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 21), expected);
}

TEST(FrameCodec, RefusesFramesThatDoNotFit) {
    ExamplePackage p;
    std::array<uint8_t, DataFrameBufferSize + 16> frame;
    frame.fill(0xEE);
    DataFrameSource s = p.Source();

    s.blockSize = MaxFrameBlockSize;
    EXPECT_TRUE(CanFrameBlocks(s));
    EXPECT_EQ(BuildDataFrame(s, 0, frame.data(), DataFrameBufferSize), DataFrameBufferSize);

    frame.fill(0xEE);
    s.blockSize = MaxFrameBlockSize + 1;
    EXPECT_FALSE(CanFrameBlocks(s));
    EXPECT_EQ(BuildDataFrame(s, 0, frame.data(), DataFrameBufferSize), 0);
    // The closing frame of such a package is still small, but the run never gets there.
    EXPECT_EQ(BuildDataFrame(s, 3, frame.data(), DataFrameBufferSize), 21);

    frame.fill(0xEE);
    s = p.Source();
    EXPECT_EQ(BuildDataFrame(s, 0, frame.data(), 268), 0);                 // one byte short
    EXPECT_EQ(BuildDataFrame(s, 4, frame.data(), DataFrameBufferSize), 0); // past the closing frame
    s.blockDataSize = 600; // block 2 would end at 768
    EXPECT_FALSE(CanFrameBlocks(s));
    EXPECT_EQ(BuildDataFrame(s, 2, frame.data(), DataFrameBufferSize), 0);
    s = p.Source();
    s.kind = 0;
    EXPECT_EQ(BuildDataFrame(s, 0, frame.data(), DataFrameBufferSize), 0);
    EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](uint8_t b) { return b == 0xEE; }));
}

TEST(FrameCodec, CommandFrames) {
    std::array<uint8_t, CommandFrameBufferSize> frame{};
    ASSERT_EQ(BuildCommandFrame(0, nullptr, 0, frame.data(), int32_t(frame.size())), 9);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 9),
              (Bytes{0x66, 0xCC, 0xFF, 0x00, 0x00, 0xA3, 0x10, 0x53, 0x52}));

    Bytes payload(300);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = uint8_t(i + 1);
    ASSERT_EQ(BuildCommandFrame(7, payload.data(), 300, frame.data(), int32_t(frame.size())), 53);
    EXPECT_EQ(frame[3], 7);
    EXPECT_EQ(frame[4], 44);
    EXPECT_EQ(std::memcmp(frame.data() + 5, payload.data(), 44), 0);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 53),
              WithCrc(Bytes(frame.begin(), frame.begin() + 49)));
    EXPECT_EQ(BuildCommandFrame(7, payload.data(), 255, frame.data(), 263), 0);
}

TEST(FrameCodec, ReplyJudgements) {
    const Bytes dataReply{0x66, 0xCC, 0x10, 0x01, 0x00, 0x7F, 0xB6, 0xF6, 0xE9};
    EXPECT_EQ(JudgeDataReply(dataReply.data(), 0x10), 1);
    EXPECT_EQ(JudgeDataReply(dataReply.data(), 0x11), WrongReply);
    EXPECT_EQ(JudgeDataReply(WithCrc({0x66, 0xCC, 0x10, 0xFF, 0xFF}).data(), 0x10), 65535);

    const Bytes text = Text("\r\nOK\r\n\0\0\0");
    EXPECT_EQ(JudgeDataReply(text.data(), 0x10), WrongReply);
    EXPECT_EQ(JudgeCommandReply(text.data()), WrongReply);

    struct Status {
        uint8_t status;
        int32_t result;
    };
    for (const Status s : {Status{0x80, 1}, Status{0x85, 1}, Status{0xBF, 1}, Status{0xC0, -4},
                           Status{0x00, -4}, Status{0x7F, -4}}) {
        EXPECT_EQ(JudgeCommandReply(WithCrc({0x66, 0xCC, 0xFF, s.status, 0}).data()), s.result)
            << int(s.status);
    }
    // A data reply to a ping is the wrong kind of reply, whatever its index.
    EXPECT_EQ(JudgeCommandReply(dataReply.data()), WrongReply);
    EXPECT_EQ(JudgeDataReply(WithCrc({0x66, 0xCC, 0xFF, 0x80, 0}).data(), 0x10), WrongReply);
}

} // namespace
