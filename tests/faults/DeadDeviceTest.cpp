// The device vanishes in the middle of an upgrade (its pseudo-terminal closed, its port-map
// entry gone, as a pulled adapter): the run must not crash or spin a core while it goes on
// against the dead line, must end the way the run logic ends it, and the port must close and
// another one open afterwards.
#include "tests/faults/FaultFixture.h"

#include <atomic>
#include <thread>

namespace tolvane::test {
namespace {

using namespace std::chrono_literals;

constexpr int kOtherCom = 8;
constexpr auto kCpuWindow = 5s;

struct VanishCase {
    const char* name;
    int block;                       // the device vanishes on receiving this block
    std::vector<int> framesAccepted; // before it vanished
    const char* result;              // RzLabel9 at the end; null when no result is shown
    const char* status;
};

// What a watcher thread saw while the run went on against the dead line.
struct DeadPhase {
    std::atomic<bool> vanished{false};
    std::atomic<bool> runStillGoing{false}; // at the end of the CPU window
    std::atomic<double> cpuShare{-1};       // of one core over the window
};

TEST_F(FaultWindow, DeviceVanishesDuringTheUpgrade) {
    const std::vector<VanishCase> cases = {
        // Three sends of the block, each timing out: resends, then the failure.
        {"during the transfer", 2, {0, 1}, "升级失败", "升级失败！"},
        // The next attempts cannot reopen the port; their requests time out.
        {"at the first data frame", 0, {}, nullptr, "读/写超时！"},
    };
    LoadPackage(256, 6);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        devsim::Faults faults;
        faults.VanishAfter = c.block;
        devsim::VirtualDevice& device = StartSimulator(kCom, faults);
        ReopenOn(kCom);
        ASSERT_TRUE(MCPort1.IsOpen());
        Boxes.clear();

        DeadPhase phase;
        std::atomic<bool> runEnded{false};
        std::thread watcher([&] {
            const auto giveUp = std::chrono::steady_clock::now() + 30s;
            while (!device.Status().Vanished && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::sleep_for(5ms);
            if (!device.Status().Vanished) return;
            phase.vanished = true;
            Map.Remove(kCom); // the device node is gone: as an unplugged adapter
            const double cpu0 = ProcessCpuSeconds();
            const auto t0 = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(kCpuWindow);
            const double cpu1 = ProcessCpuSeconds();
            const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - t0;
            phase.runStillGoing = !runEnded;
            phase.cpuShare = (cpu1 - cpu0) / wall.count();
        });
        RunUpgrade();
        runEnded = true;
        watcher.join();

        ASSERT_TRUE(phase.vanished);
        EXPECT_TRUE(phase.runStillGoing) << "the CPU window must fall inside the dead phase";
        // Waiting for a reply that never comes sleeps; only a spin comes near a whole core.
        EXPECT_LT(phase.cpuShare.load(), 0.30);
        std::printf("[ measured ] %s: CPU %.1f %% of one core over %lld s against the dead line\n",
                    c.name, phase.cpuShare.load() * 100,
                    (long long)std::chrono::seconds(kCpuWindow).count());

        EXPECT_EQ(device.Status().FramesArrived, c.framesAccepted);
        if (c.result) {
            EXPECT_EQ(Q(Window->RzLabel9)->text(), QString(c.result));
            EXPECT_EQ(Q(Window->RzLabel9)->palette().color(QPalette::WindowText),
                      QColor(255, 0, 0));
            EXPECT_TRUE(Q(Window->RzLabel9)->isVisibleTo(Q(Window)));
        } else {
            EXPECT_FALSE(Q(Window->RzLabel9)->isVisibleTo(Q(Window)));
        }
        EXPECT_EQ(Q(Window->RzStatusPane3)->text(), QString(c.status));
        EXPECT_EQ(Window->RzButton3->Tag, 0);
        EXPECT_TRUE(DialogueStopped);
        EXPECT_EQ(PendingReply, nullptr);
        // The only box is the port panel's report of a reopen that found no device.
        for (const QString& box : Boxes)
            EXPECT_TRUE(box.startsWith("无法打开串口 COM7")) << box.toStdString();

        // The dead port closes, and another port opens and talks.
        MCPort1.SetOpen(false);
        EXPECT_FALSE(MCPort1.IsOpen());
        StartSimulator(kOtherCom);
        ReopenOn(kOtherCom);
        ASSERT_TRUE(MCPort1.IsOpen());
        Boxes.clear();
        Q(Window->RzButton2)->click();
        EXPECT_EQ(Boxes, std::vector<QString>{"VERSION:2.1\r\n"});
        MCPort1.SetPort(kCom);
    }
}

} // namespace
} // namespace tolvane::test
