// tolvane-flash against paced virtual devices (processes of their own, every byte at 115200 8N1):
// wall time over the protocol's lower bound with and without prompt replies, eight ports at
// once, and a soak of 200 runs against randomly faulty devices in one long-lived process.
#include "bench/UpgradeBounds.h"
#include "bench/ProcessResources.h"
#include "package/FirmwarePackage.h"
#include "session/PortSession.h"
#include "tests/package/TempDir.h"
#include "tests/support/ChildProcess.h"
#include "tools/flash/Reporter.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using tolvane::test::Child;
using Clock = std::chrono::steady_clock;

struct Measured {
    double WallMs = 0;
    double CpuMs = 0;
    int Status = -1;
};

// Runs a program to its end with its output discarded; wall time and the CPU time it used.
Measured RunMeasured(const std::vector<std::string>& args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Measured m;
    const auto t0 = Clock::now();
    pid_t pid;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return m;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    m.WallMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    m.CpuMs = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
              double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
    m.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m;
}

// A package of blockCount blocks of random bytes, written by tolvane-pack.
std::string MakePackage(const TempDir& dir, int blockSize, int blockCount) {
    std::vector<uint8_t> area(size_t(blockSize) * size_t(blockCount));
    std::mt19937 random(uint32_t(blockSize * 7 + blockCount));
    for (auto& b : area)
        b = uint8_t(random());
    const std::string image = dir.Write("area.bin", area);
    const std::string package = dir.File("bench.enc2");
    RunMeasured({TOLVANE_PACK, "--block-size", std::to_string(blockSize), image, package});
    return package;
}

std::string StartDevice(Child& device, std::vector<std::string> options) {
    options.insert(options.begin(), TOLVANE_DEVSIM);
    device.Start(options);
    return device.ReadLine();
}

const std::vector<std::string> kPaced = {"--pace", "--working", "115200,none", "--loader",
                                         "115200,none"};

std::vector<std::string> FlashArgs(const std::string& package,
                                   const std::vector<std::string>& devices, bool prompt) {
    std::vector<std::string> args = {TOLVANE_FLASH, "flash",    package,    "--working",
                                     "115200,n",    "--loader", "115200,n", "--quiet"};
    for (const std::string& device : devices) {
        args.push_back("--port");
        args.push_back(device);
    }
    if (prompt) args.push_back("--prompt-replies");
    return args;
}

void BM_Flash(benchmark::State& state) {
    const int blockSize = int(state.range(0)), blockCount = int(state.range(1));
    const bool prompt = state.range(2) != 0;
    TempDir dir;
    const std::string package = MakePackage(dir, blockSize, blockCount);
    Child device;
    const std::string path = StartDevice(device, kPaced);
    Measured total;
    bool ok = true;
    for (auto _ : state) {
        const Measured m = RunMeasured(FlashArgs(package, {path}, prompt));
        total.WallMs += m.WallMs;
        total.CpuMs += m.CpuMs;
        ok = ok && m.Status == 0;
    }
    const double wall = total.WallMs / double(state.iterations());
    state.counters["wall_ms"] = wall;
    state.counters["lower_bound_ms"] = LowerBoundMs(blockSize, blockCount);
    state.counters["ratio"] = wall / LowerBoundMs(blockSize, blockCount);
    state.counters["wire_only_ms"] = WireOnlyMs(blockSize, blockCount);
    state.counters["ratio_wire_only"] = wall / WireOnlyMs(blockSize, blockCount);
    state.counters["cpu_percent_of_wall"] = 100.0 * total.CpuMs / total.WallMs;
    if (!ok) state.SkipWithError("an upgrade failed");
}
BENCHMARK(BM_Flash)
    ->ArgsProduct({{4080}, {16}, {0, 1}})
    ->Args({1016, 64, 0})
    ->Args({1016, 64, 1})
    ->ArgNames({"block", "blocks", "prompt"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_EightPorts(benchmark::State& state) {
    TempDir dir;
    const std::string package = MakePackage(dir, 4080, 16);
    std::vector<std::unique_ptr<Child>> devices;
    std::vector<std::string> paths;
    for (int i = 0; i < 8; ++i) {
        devices.push_back(std::make_unique<Child>());
        paths.push_back(StartDevice(*devices.back(), kPaced));
    }
    Measured one, eight;
    for (auto _ : state) {
        one = RunMeasured(FlashArgs(package, {paths[0]}, false));
        eight = RunMeasured(FlashArgs(package, paths, false));
    }
    state.counters["one_port_ms"] = one.WallMs;
    state.counters["eight_ports_ms"] = eight.WallMs;
    state.counters["ratio"] = eight.WallMs / one.WallMs;
    state.counters["cpu_percent_per_port"] = 100.0 * eight.CpuMs / eight.WallMs / 8.0;
    if (one.Status != 0 || eight.Status != 0) state.SkipWithError("an upgrade failed");
}
BENCHMARK(BM_EightPorts)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// 200 runs in one process, each against a fresh device with a fault drawn at random.
void BM_Soak(benchmark::State& state) {
    struct Fault {
        std::vector<std::string> Device;
        double Timeout;
        int Expected;
    };
    const std::vector<Fault> faults = {
        {{}, 0, 0},
        {{"--beyond", "2:1"}, 0, 0},      // one wrong reply: one resend
        {{"--beyond", "2:3"}, 0, 1},      // three: the block fails
        {{"--split-reply", "20"}, 0, 0},  // both halves within the quiet time
        {{"--stray-byte"}, 0.4, 1},       // never a reply the tool takes
        {{"--silent"}, 0.4, 1},           // nothing at all
        {{"--vanish-after", "2"}, 0.6, 1} // the device goes away mid-transfer
    };
    TempDir dir;
    const std::string package = MakePackage(dir, 64, 4);
    auto loaded = std::make_unique<FirmwarePackageData>();
    LoadPackage(package, *loaded);
    std::FILE* null = std::fopen("/dev/null", "w");
    flash::Reporter reporter({}, null, null);
    std::mt19937 random(2024);
    Resources first{}, last{};
    int runs = 0, unexpected = 0;
    for (auto _ : state) {
        for (int i = 0; i < 200; ++i) {
            const Fault& fault = faults[random() % faults.size()];
            Child device;
            std::vector<std::string> options = fault.Device;
            options.insert(options.end(), {"--working", "115200,none", "--loader", "115200,none"});
            session::PortTarget target;
            std::string error;
            session::ResolvePort(StartDevice(device, options), target, error);
            session::SessionSettings settings;
            settings.Working = settings.Loader = LineMode{115200, 0};
            settings.TimeoutSeconds = fault.Timeout;
            settings.PromptReplies = i % 2 == 1;
            const session::RunReport report =
                session::PortSession(target, settings, loaded.get(), reporter, nullptr)
                    .Flash(package, "");
            unexpected += session::StatusCode(report.Code) != fault.Expected;
            ++runs;
            if (i == 9) first = Now();
        }
        last = Now();
    }
    std::fclose(null);
    state.counters["runs"] = runs;
    state.counters["unexpected_status"] = unexpected;
    state.counters["fds_after_10"] = first.Fds;
    state.counters["fds_after_200"] = last.Fds;
    state.counters["threads_after_10"] = first.Threads;
    state.counters["threads_after_200"] = last.Threads;
    state.counters["rss_kb_after_10"] = double(first.RssKb);
    state.counters["rss_kb_after_200"] = double(last.RssKb);
    if (unexpected != 0) state.SkipWithError("an exit status was not the expected one");
}
BENCHMARK(BM_Soak)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
