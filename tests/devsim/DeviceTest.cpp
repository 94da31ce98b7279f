// The virtual device driven over its pseudo-terminal from the tool's side, frames built and
// replies judged with the tool's own codec.
#include "package/Crc32.h"

#include "DeviceFixture.h"

#include <thread>

using namespace devsim;
using namespace devsim::test;

bool SetCustomBaud(int fd, uint32_t baud);

namespace {

TEST_F(DeviceTest, AnswersTheVersionQueryInWorkingMode) {
    DeviceOptions options;
    options.VersionText = "VERSION:9.8 build 7\r\nsecond line\r\n";
    StartDevice(options);
    tool_.Send("AT+VERSION=?\r\n");
    const std::vector<uint8_t> reply = tool_.Receive();
    EXPECT_EQ(Text(reply), "\r\nVERSION:9.8 build 7\r\nsecond line\r\n");
    EXPECT_EQ(RecogniseReply(reply.data(), int32_t(reply.size())).kind, ReplyClass::Text);
    tool_.Send("AT+FOO\r");
    EXPECT_EQ(Text(tool_.Receive()), "\r\nERROR\r\n");
    EXPECT_EQ(device_->Status().VersionQueries, 1);
}

TEST_F(DeviceTest, ResetStartsTheLoaderWhichIgnoresText) {
    StartDevice();
    ResetIntoLoader();
    EXPECT_EQ(device_->Status().Mode, DeviceMode::Loader);
    tool_.Send("AT+VERSION=?\r\n");
    EXPECT_TRUE(tool_.Silent(300));
    // An unknown command frame is refused: status with bit 6 set.
    std::vector<uint8_t> command(CommandFrameBufferSize);
    command.resize(
        size_t(BuildCommandFrame(5, nullptr, 0, command.data(), CommandFrameBufferSize)));
    tool_.Send(command);
    const std::vector<uint8_t> refused = tool_.Receive();
    ASSERT_EQ(refused.size(), 9u);
    EXPECT_EQ(JudgeCommandReply(refused.data()), WrongReply);
}

TEST_F(DeviceTest, FullTransferWritesTheBlockAreaAndReturnsToWork) {
    StartDevice();
    ResetIntoLoader();
    EXPECT_EQ(Transfer(), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    const DeviceStatus status = device_->Status();
    EXPECT_EQ(status.Transfers, 1);
    EXPECT_EQ(status.Image, BlockArea());
    EXPECT_EQ(ReadFile(dir_.File("image.bin")), BlockArea());
    const std::array<uint8_t, 8> closing = {0xA1, 0xB2, 0xC3, 0xD4, 0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(status.ClosingPayload, closing);
    EXPECT_EQ(status.Mode, DeviceMode::Working);
    tool_.Send("AT+VERSION=?\r\n");
    EXPECT_EQ(Text(tool_.Receive()), "\r\nVERSION:2.1\r\n");
}

TEST_F(DeviceTest, ZeroBlocksAndTheLargestBlock) {
    LoadTestPackage(0, 8);
    StartDevice();
    ResetIntoLoader();
    EXPECT_EQ(Transfer(), (std::vector<int>{1}));
    tool_.Close();
    device_->Stop();

    LoadTestPackage(3, 4080);
    StartDevice();
    ResetIntoLoader();
    EXPECT_EQ(Transfer(), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(device_->Status().Image, BlockArea());
}

TEST_F(DeviceTest, RequestsSplitAcrossWritesAreReassembled) {
    StartDevice();
    for (const char* piece : {"AT+VER", "SION", "=?\r\n"}) {
        tool_.Send(std::string(piece));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    EXPECT_EQ(Text(tool_.Receive()), "\r\nVERSION:2.1\r\n");
    ResetIntoLoader();
    const std::vector<uint8_t> frame = Frame(0);
    const size_t cuts[] = {0, 2, 8, 100, frame.size()}; // inside the mark, the header, the block
    for (size_t i = 0; i + 1 < std::size(cuts); ++i) {
        tool_.Send(
            std::vector<uint8_t>(frame.begin() + long(cuts[i]), frame.begin() + long(cuts[i + 1])));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    EXPECT_EQ(Judge(tool_.Receive()), 1);
}

TEST_F(DeviceTest, BadChecksumIsAnsweredBySilence) {
    StartDevice();
    ResetIntoLoader();
    std::vector<uint8_t> frame = Frame(0);
    frame[20] ^= 0x01;
    tool_.Send(frame);
    EXPECT_TRUE(tool_.Silent(400));
    std::vector<uint8_t> ping = kPing;
    ping.back() ^= 0x80;
    tool_.Send(ping);
    EXPECT_TRUE(tool_.Silent(400));
    EXPECT_EQ(device_->Status().BadChecksums, 2);
    EXPECT_EQ(SendBlock(0), 1); // the line is not stuck afterwards
}

TEST_F(DeviceTest, FramesThatBreakTheTransferAreRefusedSilently) {
    StartDevice();
    ResetIntoLoader();
    tool_.Send(Frame(1)); // block 0 must come first
    EXPECT_TRUE(tool_.Silent(300));
    EXPECT_EQ(SendBlock(0), 1);

    // Another block count, then another kind, in the middle of the transfer.
    LoadTestPackage(6, 256);
    tool_.Send(Frame(1));
    EXPECT_TRUE(tool_.Silent(300));
    LoadTestPackage(5, 256);
    std::vector<uint8_t> frame = Frame(1);
    frame[2] = 17;
    const uint32_t crc = Crc32(frame.data(), int32_t(frame.size() - 4));
    for (int i = 0; i < 4; ++i)
        frame[frame.size() - 4 + size_t(i)] = uint8_t(crc >> (8 * i));
    tool_.Send(frame);
    EXPECT_TRUE(tool_.Silent(300));
    EXPECT_EQ(device_->Status().RejectedFrames, 3);

    // The closing frame before every block arrived: the device asks for the missing one.
    EXPECT_EQ(SendBlock(5), 1);
    EXPECT_EQ(device_->Status().Mode, DeviceMode::Loader);
}

TEST_F(DeviceTest, IncompleteFrameIsDroppedAfterAPause) {
    StartDevice();
    ResetIntoLoader();
    const std::vector<uint8_t> frame = Frame(0);
    tool_.Send(std::vector<uint8_t>(frame.begin(), frame.begin() + 40));
    EXPECT_TRUE(tool_.Silent(1400));
    EXPECT_EQ(SendBlock(0), 1);
}

TEST_F(DeviceTest, UnderstandsOnlyAtTheBaudRateOfItsMode) {
    DeviceOptions options;
    options.Working = {9600, Parity::None};
    options.Loader = {57600, Parity::Even};
    StartDevice(options, B115200);
    tool_.Send("AT+VERSION=?\r\n");
    EXPECT_TRUE(tool_.Silent(300));
    EXPECT_GT(device_->Status().IgnoredBytes, 0);

    tool_.SetSpeed(B9600);
    tool_.Send("AT+RESET\r");
    EXPECT_EQ(Text(tool_.Receive()), "\r\nOK\r\n");
    tool_.Send(kPing); // still at the working rate
    EXPECT_TRUE(tool_.Silent(300));
    tool_.SetSpeed(B57600);
    tool_.Send(kPing);
    EXPECT_EQ(tool_.Receive(), kPingReply);
}

TEST_F(DeviceTest, ReadsRatesWithoutATermiosConstant) {
    DeviceOptions options;
    options.Working = {250000, Parity::None};
    StartDevice(options);
    ASSERT_TRUE(SetCustomBaud(tool_.Fd(), 250000));
    tool_.Send("AT+VERSION=?\r\n");
    EXPECT_EQ(Text(tool_.Receive()), "\r\nVERSION:2.1\r\n");
    ASSERT_TRUE(SetCustomBaud(tool_.Fd(), 250001));
    tool_.Send("AT+VERSION=?\r\n");
    EXPECT_TRUE(tool_.Silent(300));
}

TEST_F(DeviceTest, StartInLoaderAndExpectedKind) {
    DeviceOptions options;
    options.StartInLoader = true;
    options.ExpectedKind = 17;
    StartDevice(options);
    tool_.Send(Frame(0)); // kind 16
    EXPECT_TRUE(tool_.Silent(300));
    EXPECT_EQ(device_->Status().RejectedFrames, 1);
}

// ---- Faults ---------------------------------------------------------------------------------

TEST_F(DeviceTest, SilentDeviceAnswersNothingAndStaysPut) {
    DeviceOptions options;
    options.Fault.Silent = true;
    StartDevice(options);
    tool_.Send("AT+VERSION=?\r\n");
    tool_.Send("AT+RESET\r");
    EXPECT_TRUE(tool_.Silent(400));
    tool_.Send(Frame(0));
    EXPECT_TRUE(tool_.Silent(300));
    EXPECT_EQ(device_->Status().Mode, DeviceMode::Working);
    EXPECT_EQ(device_->Status().RepliesSent, 0);
}

TEST_F(DeviceTest, ResetErrorKeepsWorkingMode) {
    DeviceOptions options;
    options.Fault.ResetError = true;
    StartDevice(options);
    tool_.Send("AT+RESET\r");
    EXPECT_EQ(Text(tool_.Receive()), "\r\nERROR\r\n");
    EXPECT_EQ(device_->Status().Mode, DeviceMode::Working);
}

TEST_F(DeviceTest, IgnoredPingsDoNotStopTheTransfer) {
    DeviceOptions options;
    options.Fault.IgnorePings = true;
    StartDevice(options);
    tool_.Send("AT+RESET\r");
    EXPECT_EQ(Text(tool_.Receive()), "\r\nOK\r\n");
    for (int i = 0; i < 3; ++i) {
        tool_.Send(kPing);
        EXPECT_TRUE(tool_.Silent(200));
    }
    EXPECT_EQ(device_->Status().Pings, 3);
    EXPECT_EQ(Transfer().back(), 6);
}

TEST_F(DeviceTest, CorruptedChecksumOfOneBlockNTimes) {
    DeviceOptions options;
    options.Fault.CorruptCrc = {{2, 2}};
    StartDevice(options);
    ResetIntoLoader();
    EXPECT_EQ(SendBlock(0), 1);
    EXPECT_EQ(SendBlock(1), 2);
    EXPECT_EQ(SendBlock(2), -1); // the tool drops it: the request times out
    EXPECT_EQ(SendBlock(2), -1);
    EXPECT_EQ(SendBlock(2), 3);
}

TEST_F(DeviceTest, CorruptedClosingReplyKeepsTheLoaderForTheResend) {
    DeviceOptions options;
    options.Fault.CorruptCrc = {{5, 1}};
    StartDevice(options);
    ResetIntoLoader();
    EXPECT_EQ(Transfer(), (std::vector<int>{1, 2, 3, 4, 5, -1}));
    EXPECT_EQ(device_->Status().Mode, DeviceMode::Loader);
    EXPECT_EQ(SendBlock(5), 6);
    EXPECT_EQ(device_->Status().Mode, DeviceMode::Working);
    EXPECT_EQ(device_->Status().Transfers, 1);
}

TEST_F(DeviceTest, WrongKindAndBeyondTheEnd) {
    DeviceOptions options;
    options.Fault.WrongKind = {{1, 1}};
    options.Fault.Beyond = {{3, 0}}; // every time
    StartDevice(options);
    ResetIntoLoader();
    EXPECT_EQ(SendBlock(0), 1);
    EXPECT_EQ(SendBlock(1), WrongReply);
    EXPECT_EQ(SendBlock(1), 2);
    EXPECT_EQ(SendBlock(2), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(SendBlock(3), 7);
}

TEST_F(DeviceTest, AsksForTheSameBlockForever) {
    DeviceOptions options;
    options.Fault.RepeatBlock = 2;
    StartDevice(options);
    ResetIntoLoader();
    EXPECT_EQ(Transfer(12), (std::vector<int>{1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2}));
}

TEST_F(DeviceTest, BlocksOutOfOrder) {
    struct Case {
        bool reverse;
        std::vector<int> order;
        std::vector<int> asked;
    };
    const Case cases[] = {
        {true, {}, {4, 3, 2, 1, 5, 6}},
        {false, {3, 1, 9}, {3, 1, 2, 4, 5, 6}},
        {false, {2, 0, 1}, {2, 1, 3, 4, 5, 6}}, // block 0 came first: not asked again
    };
    for (const Case& c : cases) {
        DeviceOptions options;
        options.Fault.Reverse = c.reverse;
        options.Fault.Order = c.order;
        StartDevice(options);
        ResetIntoLoader();
        EXPECT_EQ(Transfer(), c.asked);
        EXPECT_EQ(device_->Status().Image, BlockArea());
        tool_.Close();
        device_->Stop();
    }
}

TEST_F(DeviceTest, SplitReplyComesInTwoBursts) {
    DeviceOptions options;
    options.Fault.SplitMs = 150;
    StartDevice(options);
    tool_.Send("AT+RESET\r");
    const std::vector<Burst> bursts = tool_.ReceiveBursts(3000, 400, 80);
    ASSERT_EQ(bursts.size(), 2u);
    EXPECT_EQ(Text(bursts[0].Bytes) + Text(bursts[1].Bytes), "\r\nOK\r\n");
    EXPECT_GE(bursts[1].AtMs - bursts[0].AtMs, 100);
    tool_.Send(kPing);
    EXPECT_EQ(tool_.Receive(3000, 50).size(), 4u); // what the tool takes as its reply
}

TEST_F(DeviceTest, StrayByteSpoilsRecognition) {
    DeviceOptions options;
    options.Fault.StrayByte = true;
    options.Fault.StrayValue = 0x00;
    StartDevice(options);
    tool_.Send("AT+RESET\r");
    const std::vector<uint8_t> reply = tool_.Receive();
    EXPECT_EQ(reply, Bytes(std::string("\0\r\nOK\r\n", 7)));
    EXPECT_EQ(RecogniseReply(reply.data(), int32_t(reply.size())).kind, ReplyClass::None);
}

TEST_F(DeviceTest, DelayedReplies) {
    DeviceOptions options;
    options.Fault.DelayMs = 400;
    StartDevice(options);
    const double start = NowMs();
    tool_.Send("AT+VERSION=?\r\n");
    EXPECT_TRUE(tool_.Silent(250));
    EXPECT_EQ(Text(tool_.Receive()), "\r\nVERSION:2.1\r\n");
    EXPECT_GE(NowMs() - start, 390);
}

TEST_F(DeviceTest, VanishesAfterABlock) {
    DeviceOptions options;
    options.Fault.VanishAfter = 1;
    StartDevice(options);
    ResetIntoLoader();
    EXPECT_EQ(SendBlock(0), 1);
    tool_.Send(Frame(1));
    EXPECT_TRUE(tool_.HungUp(3000));
    for (int i = 0; i < 100 && device_->Running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(device_->Running());
    EXPECT_TRUE(device_->Status().Vanished);
}

TEST_F(DeviceTest, PacingTakesTheWireTime) {
    LoadTestPackage(2, 256); // 269-byte frames: 1121 ms at 2400 baud, 10 bits a byte
    DeviceOptions options;
    options.Working = {2400, Parity::None};
    options.Loader = {2400, Parity::None};
    options.StartInLoader = true;
    options.Pace = true;
    StartDevice(options, B2400);
    double start = NowMs();
    EXPECT_EQ(SendBlock(0), 1);
    EXPECT_GE(NowMs() - start, 1121 + 37); // the 9-byte reply takes 37.5 ms more
    tool_.Close();
    device_->Stop();

    // With parity, 11 bits a byte.
    options.Loader = {2400, Parity::Even};
    StartDevice(options, B2400);
    start = NowMs();
    EXPECT_EQ(SendBlock(0), 1);
    EXPECT_GE(NowMs() - start, (269 + 9) * 11 * 1000.0 / 2400 - 2);
}

} // namespace
