#include "serial/MCPort.h"
#include "serial/PortMap.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempPortMap.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using tolvane::test::PtyPair;
using tolvane::test::TempPortMap;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> Events;
void RecordOpen() {
    Events.push_back("open");
}
void RecordClose() {
    Events.push_back("close");
}
void RecordError() {
    Events.push_back("error");
}

// A port core whose notifications are recorded; each takes every byte waiting.
class RecordingPort : public MCPort {
  public:
    RecordingPort() {
        OnOpen = RecordOpen;
        OnClose = RecordClose;
        OnOpenError = RecordError;
    }
    ~RecordingPort() override {
        Close();
        WaitForLingeringThreads();
    }
    void NotifyReceived() override {
        uint8_t buffer[1024];
        int taken = Read(buffer, sizeof(buffer));
        std::lock_guard<std::mutex> lock(Lock);
        Taken.push_back(taken);
        Changed.notify_all();
    }
    // Waits until `count` notifications have come or the time-out passed.
    size_t WaitForNotifications(size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(Lock);
        Changed.wait_for(lock, timeout, [&] { return Taken.size() >= count; });
        return Taken.size();
    }
    size_t Notifications() {
        std::lock_guard<std::mutex> lock(Lock);
        return Taken.size();
    }
    std::vector<int> TakenCopy() {
        std::lock_guard<std::mutex> lock(Lock);
        return Taken;
    }

  private:
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<int> Taken;
};

double ProcessCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 31 + 7);
    return bytes;
}

class PortCore : public ::testing::Test {
  protected:
    void SetUp() override {
        map.Add(5, pty.SlavePath());
        Events.clear();
        // A sanitizer starts a helper thread with the first thread; let that happen before
        // any test counts threads.
        std::thread([] {}).join();
    }
    TempPortMap map;
    PtyPair pty;
};

} // namespace

TEST_F(PortCore, ConstructionDefaults) {
    MCPort port;
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.PortNumber, 0);
    EXPECT_EQ(port.QuietTime, 50);
    EXPECT_EQ(port.Dcb.DCBlength, 28u);
    EXPECT_EQ(port.Dcb.BaudRate, 9600u);
    EXPECT_EQ(port.Dcb.ByteSize, 8);
    EXPECT_EQ(port.Dcb.Parity, 0);
    EXPECT_EQ(port.Dcb.StopBits, 0);
    EXPECT_EQ(port.Dcb.fBinary, 1u);
    EXPECT_EQ(port.Dcb.fParity, 0u);
    EXPECT_EQ(port.Dcb.fDtrControl, 1u);
    EXPECT_EQ(port.Dcb.fRtsControl, 1u);
    EXPECT_EQ(port.Dcb.fOutX + port.Dcb.fInX + port.Dcb.fOutxCtsFlow + port.Dcb.fOutxDsrFlow, 0u);
    uint8_t buffer[4];
    EXPECT_EQ(port.Read(buffer, 4), 0);
}

// Result codes, what is stored, and the order of the three handlers, from a closed and from an
// open port.
TEST_F(PortCore, ResultCodesStoredSettingsAndHandlerOrder) {
    struct Case {
        const char* name;
        int port, byteSize;
        uint8_t parity, stopBits;
        int result;
        int portAfter; // PortNumber afterwards when starting from the open port 5
    };
    const Case cases[] = {
        {"port 0", 0, 8, 0, 0, -1, 5},
        {"port 257", 257, 8, 0, 0, -1, 5},
        {"byte size 9", 5, 9, 0, 0, -2, 5},
        {"byte size 3", 5, 3, 0, 0, -2, 5},
        {"parity 3", 5, 8, 3, 0, -3, 5},
        {"stop bits 3", 5, 8, 0, 3, -4, 5},
        {"validation order", 0, 9, 3, 3, -1, 5},
        {"no such port", 100, 8, 0, 0, -5, 100},
        {"4 data bits", 5, 4, 0, 0, -7, 5},
        {"1.5 stop bits with 8 data bits", 5, 8, 0, 1, -7, 5},
        {"ok", 5, 8, 2, 2, 1, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool openBefore : {false, true}) {
            RecordingPort port;
            if (openBefore) {
                ASSERT_EQ(port.OpenPort(5, 9600, 8, 0, 0), 1);
            }
            Events.clear();
            EXPECT_EQ(port.OpenPort(c.port, 19200, c.byteSize, c.parity, c.stopBits), c.result);
            std::vector<std::string> expected;
            if (openBefore) expected.push_back("close");
            if (c.result == -7) expected.push_back("close"); // the device had been opened
            expected.push_back(c.result == 1 ? "open" : "error");
            EXPECT_EQ(Events, expected) << "open before: " << openBefore;
            EXPECT_EQ(port.IsOpen(), c.result == 1);
            if (openBefore) {
                EXPECT_EQ(port.PortNumber, c.portAfter);
            }
            // Settings are stored once validation passed, and kept after a failed open.
            EXPECT_EQ(port.Dcb.BaudRate, c.result <= -5 || c.result == 1 ? 19200u : 9600u);
            Events.clear();
        }
    }
}

TEST_F(PortCore, CloseOfAClosedPortDoesNothingAndParityFlagFollowsParity) {
    RecordingPort port;
    port.Close();
    EXPECT_TRUE(Events.empty());
    ASSERT_EQ(port.OpenPort(5, 9600, 8, 1, 0), 1);
    EXPECT_EQ(port.Dcb.fParity, 1u);
    ASSERT_EQ(port.OpenPort(5, 9600, 8, 0, 0), 1);
    EXPECT_EQ(port.Dcb.fParity, 0u);
    port.Close();
    port.Close();
    EXPECT_EQ(Events, (std::vector<std::string>{"open", "close", "open", "close"}));
}

// The rate and the settings a pseudo-terminal keeps are visible at the master end; settings a
// pseudo-terminal's driver refuses or drops do not fail the open.
TEST_F(PortCore, LineSettingsReachTheDevice) {
    MCPort port;
    ASSERT_EQ(port.OpenPort(5, 115200, 8, 0, 2), 1);
    EXPECT_EQ(pty.SlaveBaudRate(), 115200u);
    EXPECT_TRUE(pty.SlaveTwoStopBits());
    EXPECT_TRUE(pty.SlaveHangsUpOnClose());          // DTR and RTS fall when the port closes
    ASSERT_EQ(port.OpenPort(5, 250000, 8, 0, 0), 1); // not a standard rate
    EXPECT_EQ(pty.SlaveBaudRate(), 250000u);
    EXPECT_FALSE(pty.SlaveTwoStopBits());
    ASSERT_EQ(port.OpenPort(5, 57600, 7, 2, 0), 1); // dropped or refused by the pty driver
    EXPECT_EQ(pty.SlaveBaudRate(), 57600u);
    ASSERT_EQ(port.OpenPort(5, 4800, 5, 1, 1), 1); // 1.5 stop bits with 5 data bits
    EXPECT_EQ(pty.SlaveBaudRate(), 4800u);
    EXPECT_EQ(port.OpenPort(5, 0, 8, 0, 0), -7); // rate 0 would hang the line up
}

TEST_F(PortCore, WritesReachTheDeviceAndBytesWrittenWhileClosedAreDropped) {
    MCPort port;
    const uint8_t early[5] = {'e', 'a', 'r', 'l', 'y'};
    EXPECT_EQ(port.Write(early, 5), 5);
    ASSERT_EQ(port.OpenPort(5, 9600, 8, 0, 0), 1);
    std::vector<uint8_t> data = Pattern(5000);
    EXPECT_EQ(port.Write(data.data(), 3000), 3000);
    EXPECT_EQ(port.Write(data.data() + 3000, 2000), 2000);
    EXPECT_EQ(pty.Read(5000, 10s), data);
    EXPECT_TRUE(pty.ReadUntilQuiet(100ms).empty());
}

// The device end writes faster than nobody reads: the writer waits without losing bytes, and
// Close still ends it promptly.
TEST_F(PortCore, CloseInterruptsAWriterBlockedOnAFullDevice) {
    MCPort port;
    const int threads = tolvane::test::ThreadCount();
    ASSERT_EQ(port.OpenPort(5, 9600, 8, 0, 0), 1);
    std::vector<uint8_t> data = Pattern(1 << 20);
    port.Write(data.data(), static_cast<unsigned>(data.size()));
    std::this_thread::sleep_for(100ms);
    port.Close();
    EXPECT_EQ(tolvane::test::ThreadCount(), threads) << "a thread outlived Close";
}

TEST_F(PortCore, SteadyStreamIsNotNotifiedUntilItPauses) {
    RecordingPort port;
    port.QuietTime = 400; // long against the stream's gaps so a busy machine keeps them shorter
    ASSERT_EQ(port.OpenPort(5, 9600, 8, 0, 0), 1);
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(pty.Write("x"));
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(port.Notifications(), 0u);
    ASSERT_EQ(port.WaitForNotifications(1, 10s), 1u);
    EXPECT_EQ(port.TakenCopy(), std::vector<int>{40});
}

// The other end goes away: the port stays open, nobody is told, and no core is spun.
TEST_F(PortCore, VanishedDeviceStaysOpenWithoutSpinning) {
    RecordingPort port;
    const int threads = tolvane::test::ThreadCount();
    ASSERT_EQ(port.OpenPort(5, 9600, 8, 0, 0), 1);
    Events.clear();
    pty.CloseSlave();
    pty.CloseMaster();
    std::this_thread::sleep_for(50ms);
    double cpuBefore = ProcessCpuSeconds();
    port.Write(reinterpret_cast<const uint8_t*>("lost"), 4);
    std::this_thread::sleep_for(1s);
    double cpuUsed = ProcessCpuSeconds() - cpuBefore;
    EXPECT_LT(cpuUsed, 0.3) << "a thread spins on the dead device";
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(Events.empty());
    port.Close();
    EXPECT_EQ(tolvane::test::ThreadCount(), threads) << "a thread outlived Close";
    EXPECT_EQ(Events, std::vector<std::string>{"close"});
}

namespace {
// A notifier that stays blocked inside its notification until released: Close must give up
// after about 500 ms, and the late thread must not mix with the next opening.
class StuckPort : public MCPort {
  public:
    ~StuckPort() override {
        Release();
        Close();
        WaitForLingeringThreads();
    }
    void NotifyReceived() override {
        uint8_t buffer[64];
        while (Read(buffer, sizeof(buffer)) > 0) {
        }
        std::unique_lock<std::mutex> lock(Lock);
        ++Calls;
        Entered.notify_all();
        Released.wait(lock, [&] { return Free; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(Lock);
        Free = true;
        Released.notify_all();
    }
    bool WaitEntered(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(Lock);
        return Entered.wait_for(lock, timeout, [&] { return Calls > 0; });
    }
    int CallCount() {
        std::lock_guard<std::mutex> lock(Lock);
        return Calls;
    }

  private:
    std::mutex Lock;
    std::condition_variable Entered, Released;
    bool Free = false;
    int Calls = 0;
};
} // namespace

TEST_F(PortCore, CloseGivesUpOnABlockedNotifierAndTheNextOpeningIsUnaffected) {
    StuckPort port;
    ASSERT_EQ(port.OpenPort(5, 9600, 8, 0, 0), 1);
    ASSERT_TRUE(pty.Write("abc"));
    ASSERT_TRUE(port.WaitEntered(5s));
    auto start = Clock::now();
    port.Close();
    auto waited = Clock::now() - start;
    EXPECT_GE(waited, 450ms);
    EXPECT_LT(waited, 3s);
    // The device was let go although the old notifier still runs.
    ASSERT_EQ(port.OpenPort(5, 9600, 8, 0, 0), 1);
    port.Release();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(port.CallCount(), 1);
    ASSERT_TRUE(pty.Write("d"));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(port.CallCount(), 2);
}

// A second opener, in this process or in another one, is refused while the port is held.
TEST_F(PortCore, ExclusiveOpenInThisAndAnotherProcess) {
    MCPort first, second;
    ASSERT_EQ(first.OpenPort(5, 9600, 8, 0, 0), 1);
    EXPECT_EQ(second.OpenPort(5, 9600, 8, 0, 0), -5);

    auto childResult = [&] {
        pid_t pid = fork();
        if (pid == 0) {
            // Only system calls here: the parent has other threads.
            std::string exe = "/proc/self/exe";
            setenv("TOLVANE_CHILD_PORTMAP", map.Folder().c_str(), 1);
            execl(exe.c_str(), exe.c_str(), "--gtest_filter=PortCoreChild.OpensPortFive",
                  "--gtest_also_run_disabled_tests", static_cast<char*>(nullptr));
            _exit(99);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_NE(childResult(), 0) << "another process opened a port held here";
    first.Close();
    EXPECT_EQ(childResult(), 0) << "the port stayed held after Close";
    EXPECT_EQ(second.OpenPort(5, 9600, 8, 0, 0), 1);
}

// Run by the test above in a child process.
TEST(PortCoreChild, OpensPortFive) {
    const char* folder = std::getenv("TOLVANE_CHILD_PORTMAP");
    if (!folder) GTEST_SKIP() << "runs only as the child of ExclusiveOpenInThisAndAnotherProcess";
    SetPortMapFolder(folder);
    MCPort port;
    ASSERT_EQ(port.OpenPort(5, 9600, 8, 0, 0), 1);
}

TEST_F(PortCore, ThousandOpenCloseCyclesLeaveNoDescriptorsOrThreads) {
    MCPort port;
    ASSERT_EQ(port.OpenPort(5, 9600, 8, 0, 0), 1);
    port.Close();
    const int fds = tolvane::test::OpenFdCount();
    const int threads = tolvane::test::ThreadCount();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(port.OpenPort(5, 9600, 8, 0, 0), 1);
        if (i % 100 == 0) port.Write(reinterpret_cast<const uint8_t*>("ping"), 4);
        port.Close();
    }
    EXPECT_EQ(tolvane::test::OpenFdCount(), fds);
    EXPECT_EQ(tolvane::test::ThreadCount(), threads);
}
