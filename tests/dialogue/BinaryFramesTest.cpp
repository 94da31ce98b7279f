// The data and command frames on fake seams: their bytes on the line and what each reply gives.
#include "tests/dialogue/SeamFixture.h"

#include "package/Crc32.h"

namespace tolvane::test {
namespace {

Bytes Spoiled(Bytes b) {
    b.back() ^= 0x01;
    return b;
}

struct ReplyCase {
    const char* name;
    DeviceAnswer answer;
    int result;
    const char* status;
};

TEST_F(SeamTest, CommandFrameResults) {
    const ReplyCase cases[] = {
        {"accepted", Answer(CommandReply(0x80)), 1, "收到应答"},
        {"other status bits ignored", Answer(CommandReply(0x85)), 1, "收到应答"},
        {"bit 6 refuses", Answer(CommandReply(0xC0)), -4, "收到应答"},
        {"bit 7 clear", Answer(CommandReply(0x00)), -4, "收到应答"},
        {"a data reply", Answer(DataReply(0x10, 1)), -4, "收到应答"},
        {"a text reply", Answer("\r\nOK\r\n"), -4, "收到应答"},
        {"spoiled checksum", Answer(Spoiled(CommandReply(0x80))), -3, "读/写超时！"},
        {"silence", {}, -3, "读/写超时！"},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDialogue d;
        d.Talk.DialogueStopped = false;
        d.Port.Device = [&](const DeviceMessage&) { return c.answer; };
        d.Talk.SetReplyTimeout(78);
        EXPECT_EQ(d.Talk.SendCommandFrame(0, nullptr, 0), c.result);
        EXPECT_EQ(d.Port.Wire, (Bytes{0x66, 0xCC, 0xFF, 0x00, 0x00, 0xA3, 0x10, 0x53, 0x52}));
        EXPECT_EQ(d.View.LastStatus(), c.status);
    }
}

TEST_F(SeamTest, CommandFrameStoppedAfterSending) {
    D.Port.Device = [](const DeviceMessage&) { return Answer(CommandReply(0x80)); };
    EXPECT_EQ(D.Talk.SendCommandFrame(0, nullptr, 0), -2);
    EXPECT_EQ(D.Port.Count(Kind::Command), 1);
    EXPECT_TRUE(D.View.Only("status ").empty());
}

TEST_F(SeamTest, CommandFramePayloadLengthIsTheLow8Bits) {
    Bytes payload(300);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = uint8_t(i);
    D.Talk.SendCommandFrame(0x21, payload.data(), 300);
    Bytes expected = {0x66, 0xCC, 0xFF, 0x21, 44};
    expected.insert(expected.end(), payload.begin(), payload.begin() + 44);
    EXPECT_EQ(D.Port.Wire, WithCrc(expected));
}

TEST_F(SeamTest, DataFrameBytes) {
    FillPackage(*D.Package, 0x10, 256, 3);
    const uint8_t* blocks = D.Package->BlockData;
    D.Talk.SendDataFrame(1);
    Bytes block = {0x66, 0xCC, 0x10, 0x03, 0x00, 0x01, 0x00, 0x00, 0x01};
    block.insert(block.end(), blocks + 256, blocks + 512);
    EXPECT_EQ(D.Port.Wire, WithCrc(block));

    D.Port.Wire.clear();
    D.Talk.SendDataFrame(3); // the closing frame: the second end value first
    EXPECT_EQ(D.Port.Wire, WithCrc({0x66, 0xCC, 0x10, 0x03, 0x00, 0x03, 0x00, 0x08, 0x00, 0x21,
                                    0x22, 0x23, 0x24, 0x11, 0x12, 0x13, 0x14}));
}

TEST_F(SeamTest, DataFrameResults) {
    const ReplyCase cases[] = {
        {"next index", Answer(DataReply(0x10, 1)), 1, "收到应答"},
        {"next index 0xFFFF is not negative", Answer(DataReply(0x10, 0xFFFF)), 65535, "收到应答"},
        {"another kind", Answer(DataReply(0x11, 1)), -4, "收到应答"},
        {"a command reply", Answer(CommandReply(0x80)), -4, "收到应答"},
        {"a text reply", Answer("\r\nOK\r\n"), -4, "收到应答"},
        {"spoiled checksum", Answer(Spoiled(DataReply(0x10, 1))), -3, "读/写超时！"},
        {"silence", {}, -3, "读/写超时！"},
        {"the reply behind a stray byte",
         {{5, Bytes{0x00}}, {10, DataReply(0x10, 1)}},
         -3,
         "读/写超时！"},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDialogue d;
        FillPackage(*d.Package, 0x10, 256, 3);
        d.Talk.DialogueStopped = false;
        d.Port.Device = [&](const DeviceMessage&) { return c.answer; };
        d.Talk.SetReplyTimeout(2000);
        EXPECT_EQ(d.Talk.SendDataFrame(0), c.result);
        EXPECT_EQ(d.Port.Wire.size(), 269u);
        EXPECT_EQ(d.View.LastStatus(), c.status);
    }
}

TEST_F(SeamTest, DataFrameWithoutUsablePackageSendsNothingAndDoesNotWait) {
    struct {
        const char* name;
        uint8_t kind;
        uint16_t blockSize;
    } const cases[] = {{"kind 0", 0, 256}, {"block beyond the frame buffer", 0x10, 4084}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDialogue d;
        FillPackage(*d.Package, c.kind, c.blockSize, 3);
        d.Talk.DialogueStopped = false;
        EXPECT_EQ(d.Talk.SendDataFrame(0), -1);
        EXPECT_TRUE(d.Port.Wire.empty());
        EXPECT_TRUE(d.Timer.Restarts.empty());
        EXPECT_EQ(d.View.Only("status "), std::vector<std::string>{"无效的升级文件!"});
    }
}

TEST_F(SeamTest, LargestBlockFillsTheFrameBuffer) {
    FillPackage(*D.Package, 0x10, 4083, 2);
    D.Talk.SendDataFrame(1);
    EXPECT_EQ(D.Port.Wire.size(), 4096u);
    EXPECT_EQ(D.Port.Messages().at(0).length, 4083);
}

} // namespace
} // namespace tolvane::test
