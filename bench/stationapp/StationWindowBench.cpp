// The station window offscreen against paced virtual devices (processes of their own, so the
// CPU figures are the window's: the station's slots plus the drawing): 32 slots upgrading at once
// against one slot alone, and the window with 32 slots shown.
#include "stationapp/StationWindow.h"
#include "tests/package/TempDir.h"
#include "tests/support/ChildProcess.h"
#include "toolkit/qt/QtToolkit.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <chrono>
#include <random>
#include <sys/resource.h>

namespace {

using tolvane::test::Child;
using tolvane::test::RunProgram;
using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string MakePackage(const TempDir& dir) {
    std::vector<uint8_t> area(16 * 4080);
    std::mt19937 random(16);
    for (auto& b : area)
        b = uint8_t(random());
    const std::string package = dir.File("bench.enc2");
    RunProgram({TOLVANE_PACK, "--block-size", "4080", dir.Write("area.bin", area), package});
    return package;
}

std::vector<station::SlotSetup> StartDevices(std::vector<std::unique_ptr<Child>>& devices,
                                             int count, const std::vector<std::string>& extra) {
    std::vector<station::SlotSetup> setups;
    for (int i = 0; i < count; ++i) {
        devices.push_back(std::make_unique<Child>());
        std::vector<std::string> args = {TOLVANE_DEVSIM, "--working", "115200,none", "--loader",
                                         "115200,none"};
        args.insert(args.end(), extra.begin(), extra.end());
        devices.back()->Start(args);
        setups.push_back({"s" + std::to_string(i), devices.back()->ReadLine()});
    }
    return setups;
}

stationapp::RunOverrides Overrides(const std::string& package, const std::string& log,
                                   std::vector<station::SlotSetup> setups) {
    stationapp::RunOverrides o;
    o.Package = package;
    o.LogPath = log;
    o.Slots = std::move(setups);
    o.Working = o.Loader = LineMode{115200, 0};
    return o;
}

stationapp::WindowDialogs QuietDialogs() {
    stationapp::WindowDialogs dialogs;
    dialogs.Message = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
    dialogs.Confirm = [](const std::string&) { return true; };
    return dialogs;
}

struct Run {
    double Wall = 0, Cpu = 0;
    int Passed = 0;
};

// From the click on "开始" to every slot's unit recorded; then "停止".
Run UpgradeOnce(const TempDir& dir, const std::string& package,
                std::vector<station::SlotSetup> setups) {
    const size_t count = setups.size();
    stationapp::StationWindow window(
        {dir.File("Station.ini"), dir.File("Config.ini"), dir.File("records.jsonl")},
        Overrides(package, dir.File("records-" + std::to_string(count) + ".jsonl"),
                  std::move(setups)),
        QuietDialogs());
    window.Show();
    auto results = [&] {
        int n = 0, passed = 0;
        for (const stationapp::Tile& tile : window.Events().Tiles()) {
            n += tile.Passed + tile.Failed;
            passed += tile.Passed;
        }
        return std::pair{n, passed};
    };
    tk::DeliverPending();
    const double cpu = CpuSeconds();
    const auto start = Clock::now();
    tk::qt::Q(window.Form().Get<tk::Button>("StartButton"))->click();
    while (results().first < int(count))
        tk::WaitOnce(); // sleeps until the slots hand something over
    Run run;
    run.Wall = std::chrono::duration<double>(Clock::now() - start).count();
    run.Cpu = CpuSeconds() - cpu;
    run.Passed = results().second;
    tk::qt::Q(window.Form().Get<tk::Button>("StopButton"))->click();
    while (window.Running())
        tk::WaitOnce();
    return run;
}

void BM_WindowThirtyTwoSlots(benchmark::State& state) {
    TempDir dir;
    const std::string package = MakePackage(dir);
    Run one, all;
    for (auto _ : state) {
        std::vector<std::unique_ptr<Child>> single, many;
        one = UpgradeOnce(dir, package, StartDevices(single, 1, {"--pace"}));
        all = UpgradeOnce(dir, package, StartDevices(many, 32, {"--pace"}));
    }
    state.counters["one_slot_s"] = one.Wall;
    state.counters["32_slots_s"] = all.Wall;
    state.counters["wall_ratio"] = all.Wall / one.Wall;
    state.counters["passed"] = all.Passed;
    state.counters["cpu_pct_of_wall_per_slot"] = all.Cpu / all.Wall / 32 * 100;
}
BENCHMARK(BM_WindowThirtyTwoSlots)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// From nothing to the window with 32 slots built, shown and painted once.
void BM_WindowShownWithThirtyTwoSlots(benchmark::State& state) {
    TempDir dir;
    const std::string package = MakePackage(dir);
    std::vector<station::SlotSetup> setups;
    for (int i = 0; i < 32; ++i)
        setups.push_back({"s" + std::to_string(i), "COM" + std::to_string(100 + i)});
    double slowest = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        stationapp::StationWindow window(
            {dir.File("Station.ini"), dir.File("Config.ini"), dir.File("records.jsonl")},
            Overrides(package, dir.File("records.jsonl"), setups), QuietDialogs());
        window.Show();
        QWidget* form = tk::qt::Q(&window.Form());
        form->repaint();
        QApplication::processEvents();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        slowest = std::max(slowest, seconds);
        state.SetIterationTime(seconds);
    }
    state.counters["slowest_s"] = slowest;
}
BENCHMARK(BM_WindowShownWithThirtyTwoSlots)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

} // namespace
