// Figures of the serial port: echo throughput through a pseudo-terminal, CPU used while a port
// is open and idle, and the delay from the device's last byte to OnReceive.
#include "serial/TMCPort.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempPortMap.h"
#include "toolkit/qt/QtToolkit.h"

#include <QApplication>

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tolvane::test::PtyPair;
using tolvane::test::TempPortMap;

namespace {

double ProcessCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Keeps received bytes queued for Read instead of discarding them.
class KeepingPort : public MCPort {
  public:
    ~KeepingPort() override {
        Close();
        WaitForLingeringThreads();
    }
    void NotifyReceived() override {}
};

void Throughput(PtyPair& pty) {
    constexpr size_t Total = 16u << 20;
    constexpr size_t Piece = 64u << 10;
    KeepingPort port;
    if (port.OpenPort(1, 115200, 8, 0, 0) != 1) {
        std::printf("throughput: open failed\n");
        return;
    }
    std::atomic<bool> stop{false};
    // The device echoes everything back.
    std::thread echo([&] {
        std::vector<uint8_t> buffer(1 << 16);
        while (!stop) {
            pollfd pfd{pty.MasterFd(), POLLIN, 0};
            if (poll(&pfd, 1, 50) <= 0) continue;
            ssize_t n = read(pty.MasterFd(), buffer.data(), buffer.size());
            if (n > 0) pty.Write(buffer.data(), static_cast<size_t>(n));
        }
    });
    std::vector<uint8_t> out(Piece), in(Piece);
    for (size_t i = 0; i < Piece; ++i)
        out[i] = static_cast<uint8_t>(i * 13);
    size_t sent = 0, received = 0;
    bool intact = true;
    auto start = Clock::now();
    while (received < Total) {
        // At most 4 pieces in flight, so the queues stay small.
        if (sent < Total && sent - received < 4 * Piece) {
            port.Write(out.data(), Piece);
            sent += Piece;
        }
        int n = port.Read(in.data(), Piece);
        for (int i = 0; i < n; ++i)
            intact &= in[i] == out[(received + static_cast<size_t>(i)) % Piece];
        received += static_cast<size_t>(n);
        if (n == 0) std::this_thread::sleep_for(100us);
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    stop = true;
    echo.join();
    std::printf("echo throughput: %.1f MB/s (%zu MB written and read back in %.2f s)%s\n",
                static_cast<double>(Total) / seconds / 1e6, Total >> 20, seconds,
                intact ? "" : "  DATA CORRUPTED");
}

TMCPort* Component = nullptr;
Clock::time_point LastReceive;
QEventLoop* Waiting = nullptr;
void OnReceive() {
    LastReceive = Clock::now();
    uint8_t buffer[1024];
    while (Component->Read(buffer, sizeof(buffer)) > 0) {
    }
    if (Waiting) Waiting->quit();
}

void IdleCpu(TMCPort& port, double seconds) {
    tk::qt::QtComboBox combo;
    port.FillPortList(&combo); // the port-list watcher works as in the window program
    port.SetPort(1);
    if (port.Open() != 1) {
        std::printf("idle: open failed\n");
        return;
    }
    double cpuBefore = ProcessCpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    double used = ProcessCpuSeconds() - cpuBefore;
    std::printf("idle open port: %.3f s CPU in %.0f s = %.3f %% of one core (target < 1 %%)\n",
                used, seconds, used / seconds * 100.0);
    port.Close();
}

void Latency(TMCPort& port, PtyPair& pty) {
    port.SetPort(1);
    if (port.Open() != 1) {
        std::printf("latency: open failed\n");
        return;
    }
    std::vector<double> delays;
    for (int i = 0; i < 40; ++i) {
        QEventLoop loop;
        Waiting = &loop;
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        pty.Write("0123456789");
        auto written = Clock::now();
        loop.exec();
        Waiting = nullptr;
        delays.push_back(std::chrono::duration<double, std::milli>(LastReceive - written).count());
        QEventLoop settle;
        QTimer::singleShot(20, &settle, &QEventLoop::quit);
        settle.exec();
    }
    std::sort(delays.begin(), delays.end());
    double sum = 0;
    for (double d : delays)
        sum += d;
    std::printf("notification latency (last byte at the device end to OnReceive, quiet time "
                "%d ms): mean %.2f ms, median %.2f ms, max %.2f ms (target 50 + < 5 ms)\n",
                port.QuietTime.load(), sum / static_cast<double>(delays.size()),
                delays[delays.size() / 2], delays.back());
    port.Close();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    double idleSeconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    TempPortMap map;
    PtyPair pty;
    map.Add(1, pty.SlavePath());
    Throughput(pty);
    QApplication app(argc, argv);
    TMCPort port;
    Component = &port;
    port.OnReceive = OnReceive;
    IdleCpu(port, idleSeconds);
    Latency(port, pty);
    return 0;
}
