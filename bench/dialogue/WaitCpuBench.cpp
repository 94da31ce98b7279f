// CPU time the process uses while a request waits out its 1000 ms reply time-out with nothing
// arriving: the wait must sleep between events, not spin.
#include "app/MainForm.h"
#include "app/PortSettings.h"
#include "app/WindowDialogue.h"
#include "tests/support/PtyPair.h"
#include "tests/support/QtWindow.h"
#include "tests/support/TempPortMap.h"

#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

namespace {

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_ReplyTimeoutCpu(benchmark::State& state) {
    QTemporaryDir dir;
    tolvane::test::TempPortMap map;
    tolvane::test::PtyPair pty;
    map.Add(9, pty.SlavePath());
    SetConfigIniPath((dir.path() + "/Config.ini").toStdString());
    auto* window = new TMForm;
    MCPort1.SetPort(9);
    MCPort1.SetBaudRate(115200);
    MCPort1.SetOpen(true);
    DialogueStopped = false;
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        // As in the window: the request starts from a handler that the event loop runs.
        QEventLoop loop;
        QTimer::singleShot(0, [&] {
            SetReplyTimeout(1000);
            char buffer[ReplyBufferSize] = "AT+VERSION=?\r\n";
            if (state.range(0) != 0)
                (new QObject)->deleteLater(); // due only once the handler has returned
            const double cpu0 = ProcessCpuSeconds();
            const auto t0 = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(TextExchange(buffer, buffer));
            wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            cpu += ProcessCpuSeconds() - cpu0;
            loop.quit();
        });
        loop.exec();
    }
    state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
    MCPort1.SetOpen(false);
    delete window;
    SetConfigIniPath("");
}
BENCHMARK(BM_ReplyTimeoutCpu)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
