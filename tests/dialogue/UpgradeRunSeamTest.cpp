// The upgrade run on fake seams: what goes on the line in which order, how many times, with
// which time-out, and how the run ends.
#include "tests/dialogue/SeamFixture.h"

#include <functional>

namespace tolvane::test {
namespace {

// Special answers to a data frame besides a next index.
constexpr int Silent = -1;
constexpr int Spoil = -2;
constexpr int OtherKind = -3;

// A loader on the scripted port: answers the reset and the pings (unless told not to), and the
// data frames with the next indices of Replies in turn (then the next block), keeping what
// it received.
struct Loader {
    bool AnswersReset = true;
    bool AnswersPing = true;
    std::vector<int> Replies;
    size_t DataFrames = 0;
    Bytes Image;
    Bytes Closing;

    DeviceAnswer operator()(const DeviceMessage& m) {
        switch (m.kind) {
        case Kind::Reset:
            return AnswersReset ? Answer("\r\nOK\r\n") : DeviceAnswer{};
        case Kind::Command:
            return AnswersPing ? Answer(CommandReply(0x80)) : DeviceAnswer{};
        case Kind::Data:
            Keep(m);
            return DataAnswer(m);
        default:
            return {};
        }
    }

    void Keep(const DeviceMessage& m) {
        const Bytes payload(m.bytes.begin() + 9, m.bytes.end() - 4);
        const uint16_t count = uint16_t(m.bytes[3] | m.bytes[4] << 8);
        if (m.index == count) {
            Closing = payload;
            return;
        }
        const size_t at = size_t(m.index) * m.length;
        if (Image.size() < at + m.length) Image.resize(at + m.length);
        std::copy(payload.begin(), payload.end(), Image.begin() + long(at));
    }

    DeviceAnswer DataAnswer(const DeviceMessage& m) {
        const int reply = DataFrames < Replies.size() ? Replies[DataFrames] : m.index + 1;
        ++DataFrames;
        switch (reply) {
        case Silent:
            return {};
        case Spoil: {
            Bytes b = DataReply(m.bytes[2], uint16_t(m.index + 1));
            b[6] ^= 0x40;
            return Answer(b);
        }
        case OtherKind:
            return Answer(DataReply(uint8_t(m.bytes[2] + 1), uint16_t(m.index + 1)));
        default:
            return Answer(DataReply(m.bytes[2], uint16_t(reply)));
        }
    }
};

class Run : public SeamTest {
  protected:
    void SetUp() override {
        FillPackage(*D.Package, 0x10, 256, 3);
        D.Modes.Working = {115200, 0};
        D.Modes.Upgrade = {9600, 2}; // pings of 78 ms, 38 of them at most
        D.Port.Device = [this](const DeviceMessage& m) { return Device(m); };
    }
    std::vector<Kind> Kinds() const {
        std::vector<Kind> kinds;
        for (const DeviceMessage& m : D.Port.Messages())
            kinds.push_back(m.kind);
        return kinds;
    }
    // The view's lines other than status texts.
    std::vector<std::string> Shown() const {
        std::vector<std::string> lines;
        for (const std::string& line : D.View.Lines)
            if (line.rfind("status ", 0) != 0) lines.push_back(line);
        return lines;
    }
    // The stop click `ms` after the n-th (from 1) message of the kind reaches the device.
    void StopAfter(Kind kind, int n, int ms, bool closing = false) {
        auto seen = std::make_shared<int>(0);
        D.Port.Device = [this, kind, n, ms, closing, seen](const DeviceMessage& m) {
            if (m.kind == kind && ++*seen == n)
                D.Wait.After(ms, [this, closing] {
                    if (closing)
                        D.Talk.StopDialogue();
                    else
                        D.Talk.EndRun();
                });
            return Device(m);
        };
    }

    Loader Device;
};

TEST_F(Run, AsTheDeviceSeesIt) {
    EXPECT_EQ(D.Talk.UpgradeRun(), RunOutcome::Succeeded);

    std::vector<std::tuple<Kind, uint32_t, uint8_t, int>> seen;
    for (const DeviceMessage& m : D.Port.Messages())
        seen.emplace_back(m.kind, m.baud, m.parity, m.index);
    EXPECT_EQ(seen,
              (std::vector<std::tuple<Kind, uint32_t, uint8_t, int>>{{Kind::Reset, 115200, 0, 0},
                                                                     {Kind::Command, 9600, 2, 0},
                                                                     {Kind::Data, 9600, 2, 0},
                                                                     {Kind::Data, 9600, 2, 1},
                                                                     {Kind::Data, 9600, 2, 2},
                                                                     {Kind::Data, 9600, 2, 3}}));
    // Working mode, reset, upgrade mode, ping, the upgrade mode once more, the frames.
    std::vector<std::string> line;
    for (const LineEvent& e : D.Port.Events)
        line.push_back(e.kind == LineEvent::Kind::Message       ? "m"
                       : e.kind == LineEvent::Kind::SetBaudRate ? "b" + std::to_string(e.value)
                                                                : "p" + std::to_string(e.value));
    EXPECT_EQ(line, (std::vector<std::string>{"b115200", "p0", "m", "b9600", "p2", "m", "b9600",
                                              "p2", "m", "m", "m", "m"}));
    EXPECT_EQ(D.Timer.Restarts, (std::vector<int>{1000, 78, 2000, 3000, 3000, 3000}));
    EXPECT_EQ(Device.Image, Bytes(D.Package->BlockData, D.Package->BlockData + 3 * 256));
    EXPECT_EQ(Device.Closing, (Bytes{0x21, 0x22, 0x23, 0x24, 0x11, 0x12, 0x13, 0x14}));
    EXPECT_EQ(Shown(),
              (std::vector<std::string>{"hide", "controls off", "button stop", "attempt 1",
                                        "progress 1/3 25%", "progress 2/3 50%", "progress 3/3 75%",
                                        "result ok", "button start", "controls on"}));
    EXPECT_EQ(D.View.LastStatus(), "升级成功");
    EXPECT_TRUE(D.Talk.DialogueStopped);
    EXPECT_EQ(D.Talk.FramesSent, 4);
    EXPECT_EQ(D.Talk.Resends, 0);
    EXPECT_EQ(D.Talk.PendingReply, nullptr);
    EXPECT_FALSE(D.Talk.DialogueBusy());
}

TEST_F(Run, TheDeviceChoosesTheBlocks) {
    Device.Replies = {2, 0, 1, 3, 4};
    EXPECT_EQ(D.Talk.UpgradeRun(), RunOutcome::Succeeded);
    EXPECT_EQ(D.Port.DataIndices(), (std::vector<int>{0, 2, 0, 1, 3}));
    EXPECT_EQ(D.View.Only("progress "),
              (std::vector<std::string>{"2/3 50%", "0/3 0%", "1/3 25%", "3/3 75%"}));
}

TEST_F(Run, ResendsPerBlock) {
    struct Case {
        const char* name;
        std::vector<int> replies; // to the data frames in turn
        std::vector<int> sent;    // block indices sent
        RunOutcome outcome;
        int resends;
    };
    const Case cases[] = {
        {"spoiled twice, then right",
         {1, 2, Spoil, Spoil},
         {0, 1, 2, 2, 2, 3},
         RunOutcome::Succeeded,
         2},
        {"spoiled three times",
         {1, 2, Spoil, Spoil, Spoil},
         {0, 1, 2, 2, 2},
         RunOutcome::BlockFailed,
         2},
        {"silent three times",
         {1, Silent, Silent, Silent},
         {0, 1, 1, 1},
         RunOutcome::BlockFailed,
         2},
        {"another kind three times",
         {1, OtherKind, OtherKind, OtherKind},
         {0, 1, 1, 1},
         RunOutcome::BlockFailed,
         2},
        {"an index beyond the end three times",
         {1, 5, 5, 5},
         {0, 1, 1, 1},
         RunOutcome::BlockFailed,
         2},
        {"the same block again counts as progress",
         {1, Spoil, Spoil, 1, Spoil, Spoil, 2},
         {0, 1, 1, 1, 1, 1, 1, 2, 3},
         RunOutcome::Succeeded,
         4},
        {"an index beyond the end for block 0 resends block 0",
         {5, 1},
         {0, 0, 1, 2, 3},
         RunOutcome::Succeeded,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Device = Loader{};
        Device.Replies = c.replies;
        D.View.Lines.clear();
        EXPECT_EQ(D.Talk.UpgradeRun(), c.outcome);
        EXPECT_EQ(D.Talk.Resends, c.resends);
        EXPECT_EQ(D.View.Count("status 重发"), c.resends);
        EXPECT_EQ(D.Port.DataIndices(), c.sent);
        const bool ok = c.outcome == RunOutcome::Succeeded;
        EXPECT_EQ(D.View.Count("result ok"), ok ? 1 : 0);
        EXPECT_EQ(D.View.Count("result failed"), ok ? 0 : 1);
        if (!ok) {
            EXPECT_EQ(D.View.LastStatus(), "升级失败！");
        }
        D.Port.Events.clear();
    }
}

TEST_F(Run, ResendKeepsTheTimeOutOfTheSendBefore) {
    Device.Replies = {5, 1, Silent, 3};
    EXPECT_EQ(D.Talk.UpgradeRun(), RunOutcome::Succeeded);
    // Block 0 and its resend with 2000; block 1, its resend and the closing frame with 3000.
    EXPECT_EQ(D.Timer.Restarts, (std::vector<int>{1000, 78, 2000, 2000, 3000, 3000, 3000}));
    EXPECT_EQ(D.View.Only("resend "), (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(D.Port.DataIndices(), (std::vector<int>{0, 0, 1, 1, 3}));
}

// The owner reopens the port after a brief drop: the data frame in flight goes out again with
// its whole time-out, counted as a frame, a resend and a reconnect. Outside a data frame's wait
// (the handshake here) nothing is sent.
TEST_F(Run, AReopenedPortGetsTheFrameInFlightAgain) {
    Device.Replies = {1, Silent};
    bool duringPing = true, duringFrame = false;
    auto seen = std::make_shared<int>(0);
    D.Port.Device = [&, seen](const DeviceMessage& m) {
        if (m.kind == Kind::Command)
            D.Wait.After(10, [&] { duringPing = D.Talk.PortReopened(); });
        if (m.kind == Kind::Data && ++*seen == 2)
            D.Wait.After(500, [&] { duringFrame = D.Talk.PortReopened(); });
        return Device(m);
    };
    EXPECT_EQ(D.Talk.UpgradeRun(), RunOutcome::Succeeded);
    EXPECT_FALSE(duringPing);
    EXPECT_TRUE(duringFrame);
    EXPECT_EQ(Kinds(), (std::vector<Kind>{Kind::Reset, Kind::Command, Kind::Data, Kind::Data,
                                          Kind::Data, Kind::Data, Kind::Data}));
    EXPECT_EQ(D.Port.DataIndices(), (std::vector<int>{0, 1, 1, 2, 3}));
    EXPECT_EQ(D.Timer.Restarts, (std::vector<int>{1000, 78, 2000, 3000, 3000, 3000, 3000}));
    EXPECT_EQ(D.View.Only("resend "), (std::vector<std::string>{"1"}));
    EXPECT_EQ(D.Talk.FramesSent, 5);
    EXPECT_EQ(D.Talk.Resends, 1);
    EXPECT_EQ(D.Talk.Reconnects, 1);
    EXPECT_FALSE(D.Talk.DataFrameAwaited());
}

TEST_F(Run, ThreeAttemptsWhenTheDeviceNeverAnswers) {
    D.Port.Device = {};
    EXPECT_EQ(D.Talk.UpgradeRun(), RunOutcome::NoAnswer);
    EXPECT_EQ(Kinds(), (std::vector<Kind>{Kind::Reset, Kind::Data, Kind::Reset, Kind::Data,
                                          Kind::Reset, Kind::Data}));
    EXPECT_EQ(D.Port.DataIndices(), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(D.Timer.Restarts, (std::vector<int>{1000, 2000, 1000, 2000, 1000, 2000}));
    EXPECT_EQ(D.Clock.Now(), 9000);
    EXPECT_EQ(D.View.Only("attempt "), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(D.View.Count("result ok") + D.View.Count("result failed"), 0);
    EXPECT_EQ(D.View.LastStatus(), "读/写超时！");
    EXPECT_TRUE(D.Talk.DialogueStopped);
}

TEST_F(Run, AFailedFirstFrameStartsTheNextAttemptFromTheReset) {
    Device.Replies = {OtherKind, Spoil, 1};
    EXPECT_EQ(D.Talk.UpgradeRun(), RunOutcome::Succeeded);
    EXPECT_EQ(D.View.Only("attempt "), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(Kinds(), (std::vector<Kind>{Kind::Reset, Kind::Command, Kind::Data, Kind::Reset,
                                          Kind::Command, Kind::Data, Kind::Reset, Kind::Command,
                                          Kind::Data, Kind::Data, Kind::Data, Kind::Data}));
    EXPECT_EQ(D.Port.DataIndices(), (std::vector<int>{0, 0, 0, 1, 2, 3}));
}

TEST_F(Run, PingsPerBaudRate) {
    const std::pair<int, int> rates[] = {{300, 3},    {600, 5},    {1200, 10},  {2400, 18},
                                         {4800, 28},  {9600, 38},  {19200, 46}, {38400, 52},
                                         {57600, 55}, {115200, 57}};
    for (const auto& [baud, pings] : rates) {
        SCOPED_TRACE(baud);
        FakeDialogue d;
        FillPackage(*d.Package, 0x10, 256, 3);
        d.Modes.Upgrade = {uint32_t(baud), 0};
        Loader loader;
        loader.AnswersPing = false;
        loader.Replies = {Silent, Silent, Silent};
        d.Port.Device = std::ref(loader);
        EXPECT_EQ(d.Talk.UpgradeRun(), RunOutcome::NoAnswer);
        EXPECT_EQ(d.Port.Count(Kind::Command), 3 * pings);
        const int t = 275000 / baud + 50;
        std::vector<int> attempt = {1000};
        attempt.insert(attempt.end(), size_t(pings), t);
        attempt.push_back(2000);
        EXPECT_EQ(std::vector<int>(d.Timer.Restarts.begin(),
                                   d.Timer.Restarts.begin() + long(attempt.size())),
                  attempt);
    }
}

TEST_F(Run, TheHandshakeEndsAtTheFirstAcceptedPing) {
    int pings = 0;
    D.Port.Device = [&](const DeviceMessage& m) {
        if (m.kind == Kind::Command)
            return ++pings == 3 ? Answer(CommandReply(0x81)) : Answer(CommandReply(0xC0));
        return Device(m);
    };
    EXPECT_EQ(D.Talk.UpgradeRun(), RunOutcome::Succeeded);
    EXPECT_EQ(D.Port.Count(Kind::Command), 3);
}

struct StopCase {
    const char* name;
    Kind kind;
    int nth;
    bool answersPing;
    std::vector<Kind> sent;
    RunOutcome outcome;
};

TEST_F(Run, TheStopClick) {
    const std::vector<Kind> pingsThenBlock0 = [] {
        std::vector<Kind> k = {Kind::Reset};
        k.insert(k.end(), 38, Kind::Command);
        k.push_back(Kind::Data);
        return k;
    }();
    const StopCase cases[] = {
        // The reset counts as failed: no ping; block 0 goes out without waiting.
        {"during the reset", Kind::Reset, 1, true, {Kind::Reset, Kind::Data}, RunOutcome::Stopped},
        // The remaining pings go out without waiting.
        {"during the handshake", Kind::Command, 2, false, pingsThenBlock0, RunOutcome::Stopped},
        {"during block 0",
         Kind::Data,
         1,
         true,
         {Kind::Reset, Kind::Command, Kind::Data},
         RunOutcome::Stopped},
        // The block goes out twice more, without waiting, and fails.
        {"during the transfer",
         Kind::Data,
         3,
         true,
         {Kind::Reset, Kind::Command, Kind::Data, Kind::Data, Kind::Data, Kind::Data, Kind::Data},
         RunOutcome::BlockFailed},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDialogue d;
        FillPackage(*d.Package, 0x10, 256, 3);
        Loader loader;
        loader.AnswersPing = c.answersPing;
        loader.Replies = {1, 2, Silent};
        auto seen = std::make_shared<int>(0);
        int64_t stoppedAt = -1;
        d.Port.Device = [&](const DeviceMessage& m) {
            if (m.kind == c.kind && ++*seen == c.nth)
                d.Wait.After(30, [&] {
                    stoppedAt = d.Clock.Now();
                    d.Talk.EndRun();
                });
            return loader(m);
        };
        EXPECT_EQ(d.Talk.UpgradeRun(), c.outcome);
        std::vector<Kind> kinds;
        for (const DeviceMessage& m : d.Port.Messages())
            kinds.push_back(m.kind);
        EXPECT_EQ(kinds, c.sent);
        EXPECT_EQ(d.Clock.Now(), stoppedAt); // nothing waited after the stop
        EXPECT_EQ(d.View.Only("attempt ").size(), 1u);
        const bool failed = c.outcome == RunOutcome::BlockFailed;
        EXPECT_EQ(d.View.Count("status 重发"), failed ? 2 : 0);
        EXPECT_EQ(d.View.Count("result failed"), failed ? 1 : 0);
        EXPECT_EQ(d.View.Count("result ok"), 0);
        EXPECT_EQ(d.View.Lines.back(), "controls on");
        EXPECT_TRUE(d.Talk.DialogueStopped);
    }
}

TEST_F(Run, ClosingStopsWithoutSendingAnythingFurther) {
    StopAfter(Kind::Reset, 1, 30, true);
    EXPECT_EQ(D.Talk.UpgradeRun(), RunOutcome::Stopped);
    EXPECT_EQ(Kinds(), std::vector<Kind>{Kind::Reset});

    FakeDialogue& d = D;
    d.Port.Events.clear();
    StopAfter(Kind::Data, 2, 30, true);
    EXPECT_EQ(D.Talk.UpgradeRun(), RunOutcome::Stopped);
    EXPECT_EQ(D.Port.DataIndices(), (std::vector<int>{0, 1}));
    EXPECT_EQ(D.View.Count("status 重发"), 0);
}

TEST_F(Run, FrameLimitEndsADeviceThatAsksForever) {
    Device.Replies = std::vector<int>(100, 1);
    D.Talk.DataFrameLimit = 5;
    EXPECT_EQ(D.Talk.UpgradeRun(), RunOutcome::LimitReached);
    EXPECT_EQ(D.Talk.FramesSent, 6);
    EXPECT_EQ(D.View.Count("result failed") + D.View.Count("result ok"), 0);
}

TEST_F(Run, Refusals) {
    struct Case {
        const char* name;
        uint8_t kind;
        uint16_t blockSize;
        bool open;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"no package", 0, 256, true, {"hide", "status 无效的升级文件!", "alert 无效的升级文件!"}},
        {"blocks too large to frame",
         0x10,
         4084,
         true,
         {"hide", "status 无效的升级文件!", "alert 无效的升级文件!"}},
        {"port closed", 0x10, 256, false, {"hide", "alert 请先打开串口！"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDialogue d;
        FillPackage(*d.Package, c.kind, c.blockSize, 3);
        d.Port.Open = c.open;
        d.Talk.DialogueStopped = false; // left as it is
        EXPECT_EQ(d.Talk.UpgradeRun(), RunOutcome::Refused);
        EXPECT_EQ(d.View.Lines, c.lines);
        EXPECT_TRUE(d.Port.Events.empty());
        EXPECT_FALSE(d.Talk.DialogueStopped);
    }
}

TEST_F(Run, AStartDuringAnotherExchangeIsRefusedAsBusy) {
    RunOutcome nested = RunOutcome::Succeeded;
    D.Port.Device = [&](const DeviceMessage&) {
        D.Wait.After(20, [&] { nested = D.Talk.UpgradeRun(); });
        return Answer("\r\nVERSION:1\r\n", 100);
    };
    Start();
    char text[ReplyBufferSize] = {};
    EXPECT_TRUE(D.Talk.QueryVersion(text));
    EXPECT_EQ(nested, RunOutcome::Busy);
    EXPECT_EQ(Kinds(), std::vector<Kind>{Kind::Version});
    EXPECT_TRUE(D.View.Lines.size() == 1u); // "收到应答" only: the busy start shows nothing
}

TEST_F(Run, EndsAtOnceWhenTheFirstReplyNamesTheEnd) {
    struct Case {
        const char* name;
        uint16_t blockCount;
        std::vector<int> replies;
        size_t frameLength;
    };
    const Case cases[] = {
        {"no blocks: the first frame is the closing frame", 0, {1}, 21},
        {"the device already has it", 3, {4}, 269},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDialogue d;
        FillPackage(*d.Package, 0x10, 256, c.blockCount);
        Loader loader;
        loader.Replies = c.replies;
        d.Port.Device = std::ref(loader);
        EXPECT_EQ(d.Talk.UpgradeRun(), RunOutcome::Succeeded);
        EXPECT_EQ(d.Port.DataIndices(), std::vector<int>{0});
        EXPECT_EQ(d.Port.Messages().back().bytes.size(), c.frameLength);
        EXPECT_TRUE(d.View.Only("progress ").empty());
        EXPECT_EQ(d.View.Count("result ok"), 1);
    }
}

TEST_F(Run, ASecondRunStartsOverFromBlock0) {
    EXPECT_EQ(D.Talk.UpgradeRun(), RunOutcome::Succeeded);
    D.Port.Events.clear();
    D.View.Lines.clear();
    Device = Loader{};
    EXPECT_EQ(D.Talk.UpgradeRun(), RunOutcome::Succeeded);
    EXPECT_EQ(D.Port.DataIndices(), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(D.View.Lines.front(), "hide");
    EXPECT_EQ(D.Talk.FramesSent, 4);
}

} // namespace
} // namespace tolvane::test
