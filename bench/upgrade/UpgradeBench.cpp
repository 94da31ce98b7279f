// A whole upgrade from the window against the virtual device (its own process, pacing every
// byte at 115200 8N1): wall time against the protocol's lower bound, and the window process's
// CPU time against the wall time.
#include "app/MainForm.h"
#include "app/PortSettings.h"
#include "app/UserDialogs.h"
#include "app/WindowDialogue.h"
#include "bench/UpgradeBounds.h"
#include "package/FirmwarePackage.h"
#include "package/PackageWriter.h"
#include "serial/PortMap.h"
#include "tests/support/QtWindow.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <fstream>

namespace {

constexpr int kCom = 9;
double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_Upgrade(benchmark::State& state) {
    const int blockSize = int(state.range(0));
    const int blockCount = int(state.range(1));
    QTemporaryDir dir;
    const QString ports = dir.path() + "/ports";
    SetPortMapFolder(ports.toStdString());
    SetConfigIniPath((dir.path() + "/Config.ini").toStdString());
    SetMessageBoxHook([](const std::string&) {});

    QProcess device;
    device.start(QCoreApplication::applicationDirPath() + "/tolvane-devsim",
                 {"--com", QString::number(kCom), "--ports", ports, "--pace", "--working",
                  "115200,none", "--loader", "115200,none"});
    for (int i = 0; i < 100 && PortDevicePath(kCom).empty(); ++i)
        QThread::msleep(20);
    if (PortDevicePath(kCom).empty()) {
        state.SkipWithError("tolvane-devsim did not come up");
        return;
    }

    PackageLayout layout;
    layout.Kind = 16;
    layout.BlockSize = uint16_t(blockSize);
    layout.BlockCount = uint16_t(blockCount);
    const std::vector<uint8_t> file = BuildPackage(layout);
    const std::string path = (dir.path() + "/bench.enc2").toStdString();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    LoadPackage(path, FirmwarePackage);

    auto* window = new TMForm;
    MCPort1.SetPort(kCom);
    MCPort1.SetBaudRate(115200);
    MCPort1.SetParity(0);
    MCPort1.SetByteSize(8);
    MCPort1.SetStopBits(0);
    for (QComboBox* box : {Q(window->RzComboBox6), Q(window->RzComboBox7)})
        box->setCurrentIndex(box->findText("115200bps"));
    Q(window->RzComboBox8)->setCurrentIndex(0);
    Q(window->RzComboBox9)->setCurrentIndex(0);
    MCPort1.SetOpen(true);

    double wall = 0, cpu = 0;
    bool succeeded = true;
    for (auto _ : state) {
        const double cpu0 = ProcessCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        Q(window->RzButton3)->click();
        wall += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                    .count();
        cpu += ProcessCpuSeconds() - cpu0;
        succeeded = succeeded && Q(window->RzLabel9)->text() == QString("升级成功");
    }
    const double runs = double(state.iterations());
    state.counters["package_bytes"] = double(file.size());
    state.counters["wall_ms"] = wall / runs;
    state.counters["lower_bound_ms"] = LowerBoundMs(blockSize, blockCount);
    state.counters["ratio"] = wall / runs / LowerBoundMs(blockSize, blockCount);
    state.counters["cpu_percent_of_wall"] = 100.0 * cpu * 1000.0 / wall;
    if (!succeeded) state.SkipWithError("the upgrade did not succeed");

    MCPort1.SetOpen(false);
    delete window;
    device.terminate();
    device.waitForFinished(3000);
    SetMessageBoxHook({});
    SetConfigIniPath("");
    SetPortMapFolder("");
}
// The largest package with 4080-byte blocks (16 blocks), and 64 blocks of 1016 bytes.
BENCHMARK(BM_Upgrade)
    ->Args({4080, 16})
    ->Args({1016, 64})
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
