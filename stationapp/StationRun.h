#pragma once
// The station as the window runs it: one station of the library per slot, each on a thread of
// its own, sharing one record log, so that a slot out of service can be brought back alone while
// the others go on. No screen: the events go to the view given.
#include "package/FirmwarePackage.h"
#include "station/RecordLog.h"
#include "station/Station.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace stationapp {

// Whether "开始" may be pressed.
bool CanStart(bool packageValid, size_t slots, bool running);

enum class CloseStep { Close, StopThenClose, Ask };
// Closing the window: at once when nothing runs, after a stop when slots wait for units, and
// only when the person confirms while units are being upgraded.
CloseStep DecideClose(bool running, bool upgradesUnderWay);

class StationRun {
  public:
    // ended: runs on a slot's thread when that slot's station has ended; must not wait for the
    // user-interface thread.
    StationRun(station::StationView& view, std::function<void()> ended);
    ~StationRun(); // ends everything at once
    StationRun(const StationRun&) = delete;
    StationRun& operator=(const StationRun&) = delete;

    // Opens the log and starts every slot; false with the reason (nothing started).
    bool Start(const station::StationSettings& settings, std::vector<station::SlotSetup> slots,
               const std::string& logPath, std::unique_ptr<FirmwarePackageData> package,
               std::string& error);
    // No slot takes a new unit; upgrades under way finish and are recorded.
    void Stop();
    // Starts a slot whose station ended (out of service) again; false when it still runs or
    // the station is stopping.
    bool Revive(const std::string& slot);
    // Some slot's station still runs.
    bool Running() const;
    bool Stopping() const { return StopAsked; }
    // Once nothing runs: joins the slots' threads and lets go of the log and package.
    void Finish();
    const std::string& LogPath() const { return Log.Path(); }

  private:
    struct Lane {
        station::SlotSetup Setup;
        std::unique_ptr<station::Station> Station;
        std::thread Thread;
        std::atomic<bool> Ended{false};
    };
    void Launch(Lane& lane);

    station::StationView& View;
    const std::function<void()> Ended;
    station::StationSettings Settings;
    std::unique_ptr<FirmwarePackageData> Package;
    station::RecordLog Log;
    std::vector<std::unique_ptr<Lane>> Lanes;
    std::atomic<bool> StopAsked{false};
};

} // namespace stationapp
