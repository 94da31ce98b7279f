// Many openings and many queries leave the process as they found it: the same open descriptors,
// the same threads (each opening's reader, notifier and writer gone), and, under
// AddressSanitizer, nothing leaked at exit.
#include "tests/faults/FaultFixture.h"

#include <QElapsedTimer>

namespace tolvane::test {
namespace {

using namespace std::chrono_literals;

struct Counts {
    int fds;
    int threads;
    bool operator==(const Counts&) const = default;
};

Counts Now() {
    return {OpenFdCount(), ThreadCount()};
}

// Lets threads that are on their way out finish; true once the counts are back at `start`.
bool SettlesAt(const Counts& start) {
    return PumpUntil([&] { return Now() == start; }, 3s);
}

void Report(const char* what, const Counts& start, const Counts& end, long growth, qint64 ms) {
    std::printf("[ measured ] %s in %lld ms: descriptors %d -> %d, threads %d -> %d, resident "
                "size %+.1f MB\n",
                what, (long long)ms, start.fds, end.fds, start.threads, end.threads,
                double(growth) / (1 << 20));
}

TEST_F(FaultWindow, ThousandOpenCloseCycles) {
    // One cycle first, so what Qt and the port set up once is in the starting counts.
    MCPort1.SetOpen(false);
    Q(Window->RzBitBtn1)->click();
    ASSERT_TRUE(MCPort1.IsOpen());
    Q(Window->RzBitBtn1)->click();
    ASSERT_FALSE(MCPort1.IsOpen());
    ASSERT_TRUE(SettlesAt(Now()));
    const Counts start = Now();
    const long resident = ResidentBytes();

    QElapsedTimer clock;
    clock.start();
    int opened = 0;
    for (int cycle = 0; cycle < 1000; ++cycle) {
        // Half through the component, half through the window's button.
        if (cycle % 2 == 0) {
            MCPort1.SetOpen(true);
            opened += MCPort1.IsOpen();
            MCPort1.SetOpen(false);
        } else {
            Q(Window->RzBitBtn1)->click();
            opened += MCPort1.IsOpen();
            Q(Window->RzBitBtn1)->click();
        }
        if (cycle % 50 == 0) QCoreApplication::processEvents();
    }
    const qint64 ms = clock.elapsed();
    EXPECT_EQ(opened, 1000);
    EXPECT_FALSE(MCPort1.IsOpen());
    EXPECT_EQ(Q(Window->RzBitBtn1)->text(), QString("打开串口"));
    EXPECT_TRUE(SettlesAt(start));
    const long growth = ResidentBytes() - resident;
    Report("1000 open/close cycles", start, Now(), growth, ms);
    EXPECT_TRUE(Boxes.empty());
    // A lost thread stack or a few kilobytes kept per opening would show here.
    if (kResidentSizeReturns) {
        EXPECT_LT(growth, 4l << 20);
    }
}

TEST_F(FaultWindow, HundredVersionQueries) {
    devsim::VirtualDevice& device = StartSimulator(kCom);
    ReopenOn(kCom);
    ASSERT_TRUE(MCPort1.IsOpen());
    Q(Window->RzButton2)->click();
    ASSERT_EQ(Boxes.size(), 1u);
    ASSERT_TRUE(SettlesAt(Now()));
    const Counts start = Now();
    const long resident = ResidentBytes();

    QElapsedTimer clock;
    clock.start();
    for (int query = 0; query < 100; ++query)
        Q(Window->RzButton2)->click();
    const qint64 ms = clock.elapsed();
    EXPECT_EQ(device.Status().VersionQueries, 101);
    ASSERT_EQ(Boxes.size(), 101u);
    EXPECT_EQ(std::count(Boxes.begin(), Boxes.end(), QString("VERSION:2.1\r\n")), 101);
    EXPECT_EQ(Q(Window->RzStatusPane3)->text(), QString("收到应答"));
    EXPECT_TRUE(MCPort1.IsOpen());
    EXPECT_TRUE(SettlesAt(start));
    const long growth = ResidentBytes() - resident;
    Report("100 version queries", start, Now(), growth, ms);
    if (kResidentSizeReturns) {
        EXPECT_LT(growth, 4l << 20);
    }
}

} // namespace
} // namespace tolvane::test
