// The upgrade run from the window against a scripted device.
#include "app/StatusLine.h"
#include "tests/dialogue/DialogueWindowFixture.h"

#include "tools/devsim/VirtualDevice.h"

#include <QFile>
#include <QProgressBar>

#include <pty.h>
#include <unistd.h>

namespace tolvane::test {
namespace {

using Kind = DeviceMessage::Kind;
using namespace std::chrono_literals;

QColor ResultColour() {
    return Q(MForm->RzLabel9)->palette().color(QPalette::WindowText);
}

std::vector<uint16_t> DataIndices(const std::vector<DeviceMessage>& log) {
    std::vector<uint16_t> indices;
    for (const auto& m : log)
        if (m.kind == Kind::Data) indices.push_back(m.index);
    return indices;
}

std::vector<Kind> Kinds(const std::vector<DeviceMessage>& log) {
    std::vector<Kind> kinds;
    for (const auto& m : log)
        kinds.push_back(m.kind);
    return kinds;
}

// The kinds with repeats of one kind folded into one.
std::vector<Kind> KindRuns(const std::vector<DeviceMessage>& log) {
    std::vector<Kind> kinds = Kinds(log);
    kinds.erase(std::unique(kinds.begin(), kinds.end()), kinds.end());
    return kinds;
}

void PostStopClick() {
    PostToUi([] { Q(MForm->RzButton3)->click(); });
}

class Upgrade : public DialogueWindow {
  protected:
    void ExpectIdle() {
        EXPECT_EQ(Q(Window->RzButton3)->text(), QString("开始升级"));
        EXPECT_EQ(Window->RzButton3->Tag, 0);
        EXPECT_TRUE(DialogueStopped);
        EXPECT_TRUE(Q(Window->RzButton1)->isEnabled());
        EXPECT_TRUE(Q(Window->RzButton2)->isEnabled());
        EXPECT_EQ(PendingReply, nullptr);
    }
};

TEST_F(Upgrade, FullUpgradeTwice) {
    SetModes("115200bps", 0, "9600bps", 2);
    const Bytes area = LoadPackage(256, 5);
    GoodLoader loader;
    std::vector<std::pair<bool, bool>> choosable; // RzButton1, RzButton2 enabled during the run
    std::vector<QString> captions;
    StartDevice([&](const DeviceMessage& m) {
        if (m.kind == Kind::Data && m.index == 2)
            PostToUi([&] {
                choosable.emplace_back(Q(Window->RzButton1)->isEnabled(),
                                       Q(Window->RzButton2)->isEnabled());
                captions.push_back(Q(Window->RzButton3)->text());
                Window->RzButton2Click(); // refused: the run's reply slot stays its own
            });
        return loader.Answer(m);
    });
    std::vector<int> percents;
    QObject::connect(Q(Window->RzProgressBar1), &QProgressBar::valueChanged,
                     [&](int v) { percents.push_back(v); });

    RunUpgrade();
    Device->Finish();

    EXPECT_EQ(loader.image, area);
    EXPECT_EQ(loader.closing, (Bytes{0x21, 0x22, 0x23, 0x24, 0x11, 0x12, 0x13, 0x14}));
    EXPECT_EQ(Q(Window->RzLabel9)->text(), QString("升级成功"));
    EXPECT_TRUE(Q(Window->RzLabel9)->isVisibleTo(Q(Window)));
    EXPECT_EQ(ResultColour(), QColor(0, 128, 0));
    EXPECT_EQ(Q(Window->RzProgressBar1)->value(), 100);
    EXPECT_TRUE(Q(Window->RzProgressBar1)->isVisibleTo(Q(Window)));
    EXPECT_EQ(percents, (std::vector<int>{16, 33, 50, 66, 83, 100}));
    EXPECT_EQ(Q(Window->RzStatusPane3)->text(), QString("升级成功"));
    ExpectIdle();
    EXPECT_EQ(choosable, (std::vector<std::pair<bool, bool>>{{false, false}}));
    EXPECT_EQ(captions, std::vector<QString>{"停止"});

    // Reset at the working mode, everything else at the upgrade mode.
    const auto log = Device->Log();
    EXPECT_EQ(KindRuns(log), (std::vector<Kind>{Kind::Reset, Kind::Command, Kind::Data}));
    EXPECT_EQ(log[0].baud, 115200u);
    for (size_t i = 1; i < log.size(); ++i)
        EXPECT_EQ(log[i].baud, 9600u) << i;
    EXPECT_EQ(DataIndices(log), (std::vector<uint16_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(MCPort1.GetBaudRate(), 9600); // the run leaves the upgrade mode in force
    EXPECT_EQ(MCPort1.GetParity(), 2);

    // A second run hides the old result and starts over from the reset and block 0.
    bool hiddenAtStart = false;
    GoodLoader second;
    StartDevice([&](const DeviceMessage& m) {
        if (m.kind == Kind::Reset)
            PostToUi([&] { hiddenAtStart = !Q(Window->RzLabel9)->isVisibleTo(Q(Window)); });
        return second.Answer(m);
    });
    RunUpgrade();
    Device->Finish();
    EXPECT_TRUE(hiddenAtStart);
    EXPECT_EQ(second.image, area);
    EXPECT_EQ(DataIndices(Device->Log()), (std::vector<uint16_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(Q(Window->RzLabel9)->text(), QString("升级成功"));
    ExpectIdle();
}

TEST_F(Upgrade, RefusedStarts) {
    StartDevice({});
    Q(Window->RzLabel9)->show();
    Q(Window->RzProgressBar1)->show();
    Q(Window->RzLabel8)->show();
    DialogueStopped = false;

    // No package: status and box, button untouched, results hidden.
    RunUpgrade();
    EXPECT_EQ(Boxes, std::vector<QString>{"无效的升级文件!"});
    EXPECT_EQ(Q(Window->RzStatusPane3)->text(), QString("无效的升级文件!"));
    EXPECT_FALSE(Q(Window->RzLabel9)->isVisibleTo(Q(Window)));
    EXPECT_FALSE(Q(Window->RzProgressBar1)->isVisibleTo(Q(Window)));
    EXPECT_FALSE(Q(Window->RzLabel8)->isVisibleTo(Q(Window)));
    EXPECT_EQ(Q(Window->RzButton3)->text(), QString("开始升级"));
    EXPECT_FALSE(DialogueStopped);

    // Blocks too large for a data frame count as no valid package.
    LoadPackage(1024, 2);
    FirmwarePackage.Header[33] = uint8_t(4084 & 0xFF);
    FirmwarePackage.Header[34] = uint8_t(4084 >> 8);
    RunUpgrade();
    EXPECT_EQ(Boxes.back(), QString("无效的升级文件!"));

    // Port closed.
    LoadPackage(1024, 2);
    MCPort1.SetOpen(false);
    RunUpgrade();
    EXPECT_EQ(Boxes.back(), QString("请先打开串口！"));
    EXPECT_EQ(Boxes.size(), 3u);
    EXPECT_FALSE(DialogueStopped);
    EXPECT_EQ(Window->RzButton3->Tag, 0);
    EXPECT_TRUE(Device->Log().empty());
}

TEST_F(Upgrade, EmptyPackageSendsOnlyTheClosingFrame) {
    LoadPackage(8, 0);
    GoodLoader loader;
    StartDevice([&](const DeviceMessage& m) { return loader.Answer(m); });
    RunUpgrade();
    Device->Finish(); // the responder's state is read below
    const auto log = Device->Log();
    ASSERT_EQ(DataIndices(log), std::vector<uint16_t>{0});
    EXPECT_EQ(log.back().length, 8);
    EXPECT_EQ(Q(Window->RzLabel9)->text(), QString("升级成功"));
    ExpectIdle();
}

TEST_F(Upgrade, ImmediateCompletionLeavesTheBarHidden) {
    LoadPackage(64, 4);
    StartDevice([](const DeviceMessage& m) -> DeviceReply {
        if (m.kind == Kind::Data) return DataReply(0x10, 5);
        return GoodLoader{}.Answer(m);
    });
    RunUpgrade();
    EXPECT_EQ(Q(Window->RzLabel9)->text(), QString("升级成功"));
    EXPECT_EQ(Q(Window->RzProgressBar1)->value(), 100);
    EXPECT_FALSE(Q(Window->RzProgressBar1)->isVisibleTo(Q(Window)));
    EXPECT_EQ(DataIndices(Device->Log()), std::vector<uint16_t>{0});
}

TEST_F(Upgrade, ProgressOfThreeBlocksAndTwoDamagedReplies) {
    LoadPackage(128, 3);
    GoodLoader loader;
    int block2 = 0;
    StartDevice([&](const DeviceMessage& m) -> DeviceReply {
        if (m.kind == Kind::Data && m.index == 2 && ++block2 <= 2) {
            Bytes damaged = DataReply(0x10, 3);
            damaged[8] ^= 0x01;
            return damaged;
        }
        return loader.Answer(m);
    });
    std::vector<int> percents;
    QObject::connect(Q(Window->RzProgressBar1), &QProgressBar::valueChanged,
                     [&](int v) { percents.push_back(v); });
    RunUpgrade();
    Device->Finish(); // the responder's state is read below
    EXPECT_EQ(percents, (std::vector<int>{25, 50, 75, 100}));
    EXPECT_EQ(DataIndices(Device->Log()), (std::vector<uint16_t>{0, 1, 2, 2, 2, 3}));
    EXPECT_EQ(StatusCount("重发"), 2);
    EXPECT_EQ(Q(Window->RzLabel9)->text(), QString("升级成功"));
    ExpectIdle();
}

TEST_F(Upgrade, ThreeBadRepliesFail) {
    LoadPackage(128, 3);
    GoodLoader loader;
    StartDevice([&](const DeviceMessage& m) -> DeviceReply {
        if (m.kind == Kind::Data && m.index == 1) return DataReply(0x10, 5); // BlockCount + 2
        return loader.Answer(m);
    });
    RunUpgrade();
    Device->Finish(); // the responder's state is read below
    EXPECT_EQ(DataIndices(Device->Log()), (std::vector<uint16_t>{0, 1, 1, 1}));
    EXPECT_EQ(StatusCount("重发"), 2);
    EXPECT_EQ(Q(Window->RzLabel9)->text(), QString("升级失败"));
    EXPECT_EQ(ResultColour(), QColor(255, 0, 0));
    EXPECT_TRUE(Q(Window->RzLabel9)->isVisibleTo(Q(Window)));
    EXPECT_EQ(Q(Window->RzStatusPane3)->text(), QString("升级失败！"));
    ExpectIdle();
}

TEST_F(Upgrade, LoaderSilentToPingsAt9600) {
    SetModes("115200bps", 0, "9600bps", 0);
    LoadPackage(64, 2);
    StartDevice([](const DeviceMessage& m) -> DeviceReply {
        if (m.kind == Kind::Reset) return std::string("\r\nOK\r\n");
        if (m.kind == Kind::Data) return DataReply(0x10, 3);
        return {};
    });
    RunUpgrade();
    const auto log = Device->Log();
    ASSERT_EQ(Device->Count(Kind::Command), 38);
    for (const auto& m : log)
        if (m.kind == Kind::Command) {
            EXPECT_EQ(m.baud, 9600u);
        }
    EXPECT_EQ(log.back().kind, Kind::Data);
    EXPECT_EQ(Q(Window->RzLabel9)->text(), QString("升级成功"));
}

TEST_F(Upgrade, SilentDeviceGetsThreeAttempts) {
    LoadPackage(64, 2);
    StartDevice({});
    RunUpgrade();
    EXPECT_EQ(Kinds(Device->Log()), (std::vector<Kind>{Kind::Reset, Kind::Data, Kind::Reset,
                                                       Kind::Data, Kind::Reset, Kind::Data}));
    EXPECT_EQ(DataIndices(Device->Log()), (std::vector<uint16_t>{0, 0, 0}));
    EXPECT_FALSE(Q(Window->RzLabel9)->isVisibleTo(Q(Window)));
    EXPECT_FALSE(Q(Window->RzProgressBar1)->isVisibleTo(Q(Window)));
    EXPECT_EQ(Q(Window->RzStatusPane3)->text(), QString("读/写超时！"));
    ExpectIdle();
}

struct StopCase {
    const char* name;
    Kind stopAt;
    uint16_t stopAtIndex;          // data frames
    std::vector<Kind> runs;        // what the device received, repeats folded
    std::vector<uint16_t> indices; // data frames received
    const char* result;            // RzLabel9 when shown
};

TEST_F(Upgrade, StopInEachPhase) {
    // Requests after the stop go out without waiting. The pings after a stop in the handshake
    // may be cut short by the mode switch that follows, which closes the port.
    const std::vector<StopCase> cases = {
        {"reset", Kind::Reset, 0, {Kind::Reset, Kind::Data}, {0}, nullptr},
        {"handshake", Kind::Command, 0, {Kind::Reset, Kind::Command, Kind::Data}, {0}, nullptr},
        {"first data frame", Kind::Data, 0, {Kind::Reset, Kind::Command, Kind::Data}, {0}, nullptr},
        {"transfer",
         Kind::Data,
         1,
         {Kind::Reset, Kind::Command, Kind::Data},
         {0, 1, 1, 1},
         "升级失败"},
    };
    LoadPackage(64, 3);
    for (const auto& c : cases) {
        bool stopped = false;
        StartDevice([&](const DeviceMessage& m) -> DeviceReply {
            if (m.kind == c.stopAt && m.index == c.stopAtIndex && !stopped) {
                stopped = true;
                PostStopClick();
                return {};
            }
            if (m.kind == Kind::Command && c.stopAt == Kind::Command) return {};
            return GoodLoader{}.Answer(m);
        });
        QElapsedTimer clock;
        clock.start();
        RunUpgrade();
        EXPECT_LT(clock.elapsed(), 2500) << c.name;
        // Requests sent without waiting may still be on their way.
        for (int i = 0; i < 100 && DataIndices(Device->Log()).size() < c.indices.size(); ++i)
            std::this_thread::sleep_for(20ms);
        EXPECT_EQ(KindRuns(Device->Log()), c.runs) << c.name;
        EXPECT_EQ(DataIndices(Device->Log()), c.indices) << c.name;
        EXPECT_EQ(Device->Count(Kind::Reset), 1) << c.name;
        if (c.result) {
            EXPECT_EQ(Q(Window->RzLabel9)->text(), QString(c.result)) << c.name;
            EXPECT_TRUE(Q(Window->RzLabel9)->isVisibleTo(Q(Window))) << c.name;
        } else {
            EXPECT_FALSE(Q(Window->RzLabel9)->isVisibleTo(Q(Window))) << c.name;
        }
        ExpectIdle();
        Device.reset();
        UiQueue::Instance().Drain();
    }
}

TEST_F(Upgrade, ClosingTheWindowStopsTheRun) {
    LoadPackage(64, 8);
    GoodLoader loader;
    QElapsedTimer clock;
    qint64 closedAt = -1;
    StartDevice([&](const DeviceMessage& m) -> DeviceReply {
        if (m.kind == Kind::Data && m.index == 3) {
            PostToUi([&] {
                closedAt = clock.elapsed();
                Q(MForm)->close();
            });
            return {};
        }
        return loader.Answer(m);
    });
    clock.start();
    RunUpgrade(); // returns once the run has seen the window close
    const qint64 exitedAt = clock.elapsed();
    Device->Finish();

    ASSERT_GE(closedAt, 0);
    EXPECT_LT(exitedAt - closedAt, 1000);
    EXPECT_FALSE(MCPort1.IsOpen());
    EXPECT_TRUE(QFile::exists(Dir.path() + "/Config.ini"));
    EXPECT_EQ(DataIndices(Device->Log()), (std::vector<uint16_t>{0, 1, 2, 3}));
    EXPECT_EQ(Window->RzButton3->Tag, 0);
    EXPECT_TRUE(DialogueStopped);
}

TEST_F(Upgrade, VersionAndUpgradeWithTheVirtualDevice) {
    // The simulator the demo runs, on a line of its own: loader at 9600 with even parity.
    int master = -1, slave = -1;
    char name[256];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    devsim::DeviceOptions options;
    options.Working = {115200, devsim::Parity::None};
    options.Loader = {9600, devsim::Parity::Even};
    devsim::VirtualDevice device(options);
    ASSERT_TRUE(device.Start(master));
    MCPort1.SetOpen(false);
    Map.Add(kCom, name);
    MCPort1.SetOpen(true);
    SetModes("115200bps", 0, "9600bps", 2);
    const Bytes area = LoadPackage(1016, 8);

    Q(Window->RzButton2)->click();
    RunUpgrade();
    device.Stop();
    close(slave);

    EXPECT_EQ(Boxes, std::vector<QString>{"VERSION:2.1\r\n"});
    EXPECT_EQ(Q(Window->RzLabel9)->text(), QString("升级成功"));
    const devsim::DeviceStatus status = device.Status();
    EXPECT_EQ(status.Transfers, 1);
    EXPECT_EQ(status.Image, area);
    EXPECT_EQ(Bytes(status.ClosingPayload.begin(), status.ClosingPayload.end()),
              (Bytes{0x21, 0x22, 0x23, 0x24, 0x11, 0x12, 0x13, 0x14}));
    ExpectIdle();
}

} // namespace
} // namespace tolvane::test
