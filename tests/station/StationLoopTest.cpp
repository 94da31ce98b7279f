// The station's slot loop against the virtual device, without the flasher's command line: a unit
// found, upgraded, verified and recorded; a unit in its loader; a version that does not come; the
// graceful stop of a station that waits.
#include "package/Md5.h"
#include "station/Station.h"
#include "tests/package/TempDir.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempPortMap.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

namespace station {
namespace {

using tolvane::test::Child;
using tolvane::test::RunProgram;
using tolvane::test::TempPortMap;

// The events a test looks at, in order, as "slot event".
class RecordingView : public StationView {
  public:
    void Waiting(const std::string& slot) override { Add(slot, "waiting"); }
    void Found(const std::string& slot, const FoundUnit& unit) override {
        Add(slot, unit.InLoader ? "found-loader" : "found");
    }
    void Verify(const std::string& slot) override { Add(slot, "verify"); }
    void Result(const std::string& slot, const UnitRecord& record,
                const std::string& logError) override {
        std::lock_guard<std::mutex> guard(Lock);
        Records.push_back(record);
        LogErrors.push_back(logError);
        Events.push_back(slot + " result");
        Changed.notify_all();
    }
    void Removed(const std::string& slot) override { Add(slot, "removed"); }
    void OutOfService(const std::string& slot, const std::string&) override {
        Add(slot, "out-of-service");
    }
    // Waits until an event was seen.
    bool WaitFor(const std::string& event, std::chrono::seconds time = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(Lock);
        return Changed.wait_for(lock, time, [&] {
            return std::find(Events.begin(), Events.end(), event) != Events.end();
        });
    }

    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<std::string> Events;
    std::vector<UnitRecord> Records;
    std::vector<std::string> LogErrors;

  private:
    void Add(const std::string& slot, const char* event) {
        std::lock_guard<std::mutex> guard(Lock);
        Events.push_back(slot + " " + event);
        Changed.notify_all();
    }
};

class StationLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        std::vector<uint8_t> image(8 * 256);
        std::mt19937 random(11);
        for (auto& b : image)
            b = uint8_t(random());
        const std::string raw = Dir.Write("image.bin", image);
        ASSERT_EQ(RunProgram({TOLVANE_PACK, "--block-size", "256", raw, PackagePath}), 0);
        ASSERT_EQ(LoadPackage(PackagePath, Package).Outcome, PackageLoadOutcome::Loaded);
        std::string error;
        ASSERT_TRUE(Log.Open(Dir.File("records.jsonl"), error)) << error;
        Settings.Working = {115200, 0};
        Settings.Loader = {115200, 2};
        Settings.PackagePath = PackagePath;
        Settings.Md5 = FileMd5Hex(PackagePath);
        Settings.BootTimeoutSeconds = 5;
    }

    // A virtual device as COM<com>; its device path.
    std::string StartDevice(Child& device, int com, std::vector<std::string> options = {}) {
        std::vector<std::string> args = {TOLVANE_DEVSIM, "--com", std::to_string(com), "--ports",
                                         Ports.Folder()};
        args.insert(args.end(), options.begin(), options.end());
        EXPECT_TRUE(device.Start(args));
        return device.ReadLine();
    }

    StationSummary RunStation(std::vector<SlotSetup> slots) {
        Station station(Settings, std::move(slots), Package, Log, View);
        return station.Run();
    }

    TempDir Dir;
    TempPortMap Ports;
    const std::string PackagePath = Dir.File("demo.enc2");
    FirmwarePackageData Package;
    RecordLog Log;
    RecordingView View;
    StationSettings Settings;
};

TEST_F(StationLoop, OnceUpgradesVerifiesAndRecordsEachSlot) {
    Child first, second;
    const std::string device = StartDevice(first, 5);
    StartDevice(second, 6, {"--version-text", "VERSION:3.0\\r\\n"});
    Settings.Once = true;
    Settings.Lot = "L7";
    const StationSummary summary = RunStation({{"left", "COM5"}, {"right", "COM6"}});
    EXPECT_EQ(summary.Code, session::ExitStatus::Succeeded);
    EXPECT_EQ(summary.Passed, 2);
    ASSERT_EQ(View.Records.size(), 2u);
    for (const UnitRecord& r : View.Records) {
        SCOPED_TRACE(r.Slot);
        EXPECT_TRUE(r.Ok);
        EXPECT_EQ(r.Stage, "done");
        EXPECT_EQ(r.Code, 0);
        EXPECT_EQ(r.Lot, "L7");
        EXPECT_EQ(r.Md5, Settings.Md5);
        EXPECT_EQ(r.Frames, 9);
        ASSERT_TRUE(r.Id.has_value()); // asked; this device knows no identity command
        const std::string version = r.Slot == "left" ? "VERSION:2.1" : "VERSION:3.0";
        EXPECT_EQ(r.VersionBefore.value_or("?"), version);
        EXPECT_EQ(r.VersionAfter.value_or("?"), version);
    }
    const UnitRecord& left = View.Records[0].Slot == "left" ? View.Records[0] : View.Records[1];
    EXPECT_EQ(left.Port, "COM5");
    EXPECT_EQ(left.Device, device);
}

TEST_F(StationLoop, AUnitInItsLoaderIsFoundAndUpgraded) {
    Child device;
    StartDevice(device, 7, {"--start-in-loader"});
    Settings.Once = true;
    const StationSummary summary = RunStation({{"s", "COM7"}});
    EXPECT_EQ(summary.Code, session::ExitStatus::Succeeded);
    ASSERT_EQ(View.Records.size(), 1u);
    const UnitRecord& r = View.Records[0];
    EXPECT_TRUE(r.Ok) << r.Message;
    EXPECT_FALSE(r.Id.has_value());
    EXPECT_FALSE(r.VersionBefore.has_value());
    EXPECT_EQ(r.VersionAfter.value_or("?"), "VERSION:2.1");
    EXPECT_EQ(View.Events.front(), "s found-loader");
}

TEST_F(StationLoop, AnExpectedVersionThatDoesNotComeFailsAtVerify) {
    Child device;
    StartDevice(device, 8);
    Settings.Once = true;
    Settings.ExpectVersion = "VERSION:9";
    const StationSummary summary = RunStation({{"s", "COM8"}});
    EXPECT_EQ(summary.Code, session::ExitStatus::UpgradeFailed);
    ASSERT_EQ(View.Records.size(), 1u);
    EXPECT_FALSE(View.Records[0].Ok);
    EXPECT_EQ(View.Records[0].Stage, "verify");
    EXPECT_NE(View.Records[0].Message.find("VERSION:9"), std::string::npos);
}

TEST_F(StationLoop, AStopWhileWaitingEndsAtOnceWithNothingRecorded) {
    Settings.ProbeInterval = std::chrono::milliseconds(200);
    Station station(Settings, {{"a", "COM9"}, {"b", Dir.File("no-such-device")}}, Package, Log,
                    View);
    std::thread stopper([&] {
        View.WaitFor("a waiting");
        View.WaitFor("b waiting");
        station.Stop();
    });
    const auto started = std::chrono::steady_clock::now();
    const StationSummary summary = station.Run();
    stopper.join();
    EXPECT_EQ(summary.Code, session::ExitStatus::Succeeded);
    EXPECT_EQ(summary.Units, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST_F(StationLoop, AnUnwritableLogStopsEverySlotAfterItsUnit) {
    RecordLog full;
    std::string error;
    ASSERT_TRUE(full.Open("/dev/full", error));
    Child device;
    StartDevice(device, 10);
    Station station(Settings, {{"s", "COM10"}}, Package, full, View);
    const StationSummary summary = station.Run(); // no Once: only the log ends it
    EXPECT_EQ(summary.Code, session::ExitStatus::UpgradeFailed);
    EXPECT_NE(summary.LogError.find("/dev/full"), std::string::npos) << summary.LogError;
    ASSERT_EQ(View.LogErrors.size(), 1u);
    EXPECT_FALSE(View.LogErrors[0].empty());
}

} // namespace
} // namespace station
