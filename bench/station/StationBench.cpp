// The station against paced virtual devices (processes of their own, so CPU figures are the
// station's alone): 32 slots with one unit each against one slot alone, 32 slots waiting with no
// unit, and a soak of 500 units through 4 slots in this one process.
#include "bench/ProcessResources.h"
#include "package/FirmwarePackage.h"
#include "package/Md5.h"
#include "serial/PortMap.h"
#include "station/RecordForwarder.h"
#include "station/RecordTable.h"
#include "station/Station.h"
#include "station/Uuid.h"
#include "tests/package/TempDir.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PostgresServer.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using tolvane::test::Child;
using tolvane::test::RunProgram;
using Clock = std::chrono::steady_clock;
using namespace session;
using namespace station;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string MakePackage(const TempDir& dir, int blockSize, int blockCount) {
    std::vector<uint8_t> area(size_t(blockSize) * size_t(blockCount));
    std::mt19937 random(uint32_t(blockSize + blockCount));
    for (auto& b : area)
        b = uint8_t(random());
    const std::string image = dir.Write("area.bin", area);
    const std::string package = dir.File("bench.enc2");
    RunProgram({TOLVANE_PACK, "--block-size", std::to_string(blockSize), image, package});
    return package;
}

// A device path per slot, each a virtual device of its own.
std::vector<SlotSetup> StartDevices(std::vector<std::unique_ptr<Child>>& devices, int count,
                                   std::vector<std::string> options) {
    std::vector<SlotSetup> slots;
    for (int i = 0; i < count; ++i) {
        devices.push_back(std::make_unique<Child>());
        std::vector<std::string> args = {TOLVANE_DEVSIM, "--working", "115200,none", "--loader",
                                         "115200,none"};
        args.insert(args.end(), options.begin(), options.end());
        devices.back()->Start(args);
        slots.push_back({"s" + std::to_string(i), devices.back()->ReadLine()});
    }
    return slots;
}

class CountingView : public StationView {
  public:
    void Result(const std::string&, const UnitRecord& record, const std::string&) override {
        std::lock_guard<std::mutex> guard(Lock);
        ++Results;
        Bad += !record.Ok;
    }
    std::mutex Lock;
    int Results = 0, Bad = 0;
};

struct Run {
    double Wall = 0, Cpu = 0;
    int Passed = 0;
    long long Sent = 0; // to the database, after the run
};

// With a connection string the records also go to that database, as with --db.
Run RunOnce(const std::string& package, std::vector<SlotSetup> slots, const TempDir& dir,
            const std::string& db = {}) {
    FirmwarePackageData data;
    LoadPackage(package, data);
    StationSettings settings;
    settings.Working = settings.Loader = LineMode{115200, 0};
    settings.Once = true;
    settings.PackagePath = package;
    settings.Md5 = FileMd5Hex(package);
    RecordLog log;
    std::string error;
    log.Open(dir.File("bench-" + std::to_string(slots.size()) + ".jsonl"), error);
    CountingView view;
    std::unique_ptr<RecordForwarder> forwarder;
    if (!db.empty()) {
        ForwarderSettings forwarding;
        forwarding.LogPath = log.Path();
        forwarding.Connection = db;
        forwarder = std::make_unique<RecordForwarder>(forwarding, [](const ForwardStatus&) {});
        log.OnAppended([f = forwarder.get()] { f->Notify(); });
        forwarder->Start();
    }
    Station station(settings, std::move(slots), data, log, view);
    const double cpu = CpuSeconds();
    const auto start = Clock::now();
    const StationSummary summary = station.Run();
    Run run;
    run.Wall = std::chrono::duration<double>(Clock::now() - start).count();
    run.Cpu = CpuSeconds() - cpu;
    run.Passed = summary.Passed;
    if (forwarder) run.Sent = forwarder->Stop(std::chrono::seconds(10)).Sent;
    return run;
}

// 32 slots with one paced unit each (16 blocks of 4080 bytes) against one slot alone.
void BM_ThirtyTwoSlots(benchmark::State& state) {
    TempDir dir;
    const std::string package = MakePackage(dir, 4080, 16);
    Run one, all;
    for (auto _ : state) {
        std::vector<std::unique_ptr<Child>> single, many;
        one = RunOnce(package, StartDevices(single, 1, {"--pace"}), dir);
        all = RunOnce(package, StartDevices(many, 32, {"--pace"}), dir);
    }
    state.counters["one_slot_s"] = one.Wall;
    state.counters["32_slots_s"] = all.Wall;
    state.counters["wall_ratio"] = all.Wall / one.Wall;
    state.counters["passed"] = all.Passed;
    state.counters["cpu_pct_of_wall_per_slot"] = all.Cpu / all.Wall / 32 * 100;
}
BENCHMARK(BM_ThirtyTwoSlots)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// 32 slots probing every second for 60 s with nothing answering: the station's CPU.
void BM_WaitingSlots(benchmark::State& state) {
    TempDir dir;
    const std::string package = MakePackage(dir, 256, 4);
    FirmwarePackageData data;
    LoadPackage(package, data);
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        std::vector<std::unique_ptr<Child>> devices;
        std::vector<SlotSetup> slots = StartDevices(devices, 32, {"--silent"});
        StationSettings settings;
        settings.Working = settings.Loader = LineMode{115200, 0};
        settings.PackagePath = package;
        RecordLog log;
        std::string error;
        log.Open(dir.File("waiting.jsonl"), error);
        StationView view;
        Station station(settings, slots, data, log, view);
        const double before = CpuSeconds();
        const auto start = Clock::now();
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::seconds(60));
            station.Stop();
        });
        station.Run();
        stopper.join();
        cpu = CpuSeconds() - before;
        wall = std::chrono::duration<double>(Clock::now() - start).count();
    }
    state.counters["cpu_pct_of_one_core"] = cpu / wall * 100;
}
BENCHMARK(BM_WaitingSlots)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// 500 units through 4 slots, each slot a series of 125 units on one port; records and
// resources after the first 20 units and at the end.
void BM_Soak(benchmark::State& state) {
    constexpr int Slots = 4, UnitsPerSlot = 125;
    TempDir dir;
    const std::string package = MakePackage(dir, 256, 8);
    FirmwarePackageData data;
    LoadPackage(package, data);
    Resources early{}, late{};
    int records = 0, wrong = 0, distinct = 0;
    for (auto _ : state) {
        // Each unit comes back on a new pseudo-terminal: the slots follow COM names.
        SetPortMapFolder(dir.File("ports"));
        std::vector<std::unique_ptr<Child>> devices;
        std::vector<SlotSetup> slots;
        for (int i = 0; i < Slots; ++i) {
            devices.push_back(std::make_unique<Child>());
            devices.back()->Start({TOLVANE_DEVSIM, "--working", "115200,none", "--loader",
                                   "115200,none", "--com", std::to_string(200 + i), "--ports",
                                   dir.File("ports"), "--units", std::to_string(UnitsPerSlot),
                                   "--id-pattern", "U####", "--absent", "50", "--version-after",
                                   "VERSION:3.0\\r\\n"});
            devices.back()->ReadLine();
            slots.push_back({"s" + std::to_string(i), "COM" + std::to_string(200 + i)});
        }
        StationSettings settings;
        settings.Working = settings.Loader = LineMode{115200, 0};
        settings.PackagePath = package;
        settings.Md5 = FileMd5Hex(package);
        settings.ExpectVersion = "VERSION:3.0";
        settings.ProbeInterval = std::chrono::milliseconds(200);
        RecordLog log;
        std::string error;
        const std::string path = dir.File("soak.jsonl");
        log.Open(path, error);
        class SoakView : public CountingView {
          public:
            std::function<void(int)> OnResult;
            void Result(const std::string& slot, const UnitRecord& record,
                        const std::string& error) override {
                CountingView::Result(slot, record, error);
                OnResult(Results);
            }
        } view;
        Station* running = nullptr;
        view.OnResult = [&](int results) {
            if (results == 20) early = Now();
            if (results == Slots * UnitsPerSlot) {
                late = Now();
                running->Stop();
            }
        };
        Station station(settings, slots, data, log, view);
        running = &station;
        station.Run();
        std::ifstream in(path);
        std::set<std::string> ids;
        for (std::string line; std::getline(in, line);) {
            UnitRecord r;
            ++records;
            wrong += ParseRecordLine(line, r, nullptr) != LineKind::Unit || !r.Ok ||
                     r.VersionAfter.value_or("") != "VERSION:3.0";
            ids.insert(r.Slot + "/" + r.Id.value_or(""));
        }
        distinct = int(ids.size());
    }
    state.counters["records"] = records;
    state.counters["wrong"] = wrong;
    state.counters["distinct_units"] = distinct;
    state.counters["fds_early"] = early.Fds;
    state.counters["fds_late"] = late.Fds;
    state.counters["threads_early"] = early.Threads;
    state.counters["threads_late"] = late.Threads;
    state.counters["rss_kb_early"] = double(early.RssKb);
    state.counters["rss_kb_late"] = double(late.RssKb);
}
BENCHMARK(BM_Soak)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A private PostgreSQL server with the records' table made; false (the benchmark skipped with the
// reason) when it cannot start.
bool StartDatabase(benchmark::State& state, tolvane::test::PostgresServer& server, Database& db) {
    std::string why;
    DbError error;
    if (!server.Start(why)) {
        state.SkipWithError(why.c_str());
        return false;
    }
    if (!db.Connect(server.Connection(), 10, error)) {
        state.SkipWithError(error.Message.c_str());
        return false;
    }
    for (const std::string& statement : CreateTableStatements(SqlDialect::PostgreSql))
        db.Execute(statement, error);
    return true;
}

// records push of a log of 10,000 records into a private PostgreSQL server: records per second.
void BM_PushTenThousand(benchmark::State& state) {
    constexpr int Records = 10000;
    TempDir dir;
    const std::string logPath = dir.File("push.jsonl");
    {
        std::ofstream log(logPath);
        UnitRecord r;
        r.Start = "2026-12-11T10:00:00.000Z";
        r.End = "2026-12-11T10:00:06.500Z";
        r.Host = "bench";
        r.Slot = r.Port = "COM7";
        r.Device = "/dev/ttyUSB0";
        r.Package = "fw.enc2";
        r.Md5 = "F46D525C00B01EA210C179203F4DDE6B";
        r.Ok = true;
        r.Code = 0;
        r.Stage = "done";
        r.Message = "升级成功";
        for (int i = 0; i < Records; ++i) {
            r.Id = "8600000000" + std::to_string(10000 + i);
            r.Uuid = RandomUuid();
            log << RecordLine(r) << '\n';
        }
    }
    tolvane::test::PostgresServer server;
    Database db;
    if (!StartDatabase(state, server, db)) return;
    double seconds = 0;
    ForwardStatus status;
    std::string why;
    for (auto _ : state) {
        const auto start = Clock::now();
        PushLog(db, logPath, status, why, [](long long, long long) {});
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    state.counters["sent"] = double(status.Sent);
    state.counters["records_per_s"] = double(status.Sent) / seconds;
}
BENCHMARK(BM_PushTenThousand)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// 8 paced slots with a database that takes 500 ms per insert (a trigger that sleeps) against
// no database: units per hour, since forwarding must never stand in an upgrade's way.
void BM_SlowDatabase(benchmark::State& state) {
    TempDir dir;
    const std::string package = MakePackage(dir, 4080, 16);
    tolvane::test::PostgresServer server;
    Database db;
    if (!StartDatabase(state, server, db)) return;
    DbError error;
    db.Execute("CREATE FUNCTION tolvane_slow() RETURNS trigger AS $$ BEGIN PERFORM pg_sleep(0.5); "
               "RETURN NEW; END $$ LANGUAGE plpgsql",
               error);
    db.Execute("CREATE TRIGGER tolvane_slow BEFORE INSERT ON tolvane_units FOR EACH ROW "
               "EXECUTE FUNCTION tolvane_slow()",
               error);
    Run without, with;
    for (auto _ : state) {
        std::vector<std::unique_ptr<Child>> plain, slowed;
        without = RunOnce(package, StartDevices(plain, 8, {"--pace"}), dir);
        with = RunOnce(package, StartDevices(slowed, 8, {"--pace"}), dir, server.Connection());
    }
    state.counters["units_per_h_without_db"] = 8 / without.Wall * 3600;
    state.counters["units_per_h_slow_db"] = 8 / with.Wall * 3600;
    state.counters["change_pct"] = (without.Wall / with.Wall - 1) * 100;
    state.counters["sent_to_db"] = double(with.Sent);
}
BENCHMARK(BM_SlowDatabase)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
