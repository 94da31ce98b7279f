#include "stationapp/StationRun.h"

namespace stationapp {

bool CanStart(bool packageValid, size_t slots, bool running) {
    return packageValid && slots > 0 && !running;
}

CloseStep DecideClose(bool running, bool upgradesUnderWay) {
    if (!running) return CloseStep::Close;
    return upgradesUnderWay ? CloseStep::Ask : CloseStep::StopThenClose;
}

StationRun::StationRun(station::StationView& view, std::function<void()> ended)
    : View(view), Ended(std::move(ended)) {}

StationRun::~StationRun() {
    for (auto& lane : Lanes)
        if (lane->Station) lane->Station->Abort();
    for (auto& lane : Lanes)
        if (lane->Thread.joinable()) lane->Thread.join();
}

bool StationRun::Start(const station::StationSettings& settings,
                       std::vector<station::SlotSetup> slots, const std::string& logPath,
                       std::unique_ptr<FirmwarePackageData> package, std::string& error) {
    if (Running()) {
        error = "the station runs already";
        return false;
    }
    Finish();
    // Never upgrade a unit that cannot be recorded.
    if (!Log.Open(logPath, error)) return false;
    Settings = settings;
    Package = std::move(package);
    StopAsked = false;
    Lanes.clear();
    for (station::SlotSetup& setup : slots) {
        auto lane = std::make_unique<Lane>();
        lane->Setup = std::move(setup);
        Lanes.push_back(std::move(lane));
    }
    for (auto& lane : Lanes)
        Launch(*lane);
    return true;
}

void StationRun::Launch(Lane& lane) {
    if (lane.Thread.joinable()) lane.Thread.join();
    lane.Station.reset();
    lane.Station =
        std::make_unique<station::Station>(Settings, std::vector{lane.Setup}, *Package, Log, View);
    lane.Ended = false;
    lane.Thread = std::thread([this, &lane] {
        lane.Station->Run();
        lane.Ended = true;
        if (Ended) Ended();
    });
}

void StationRun::Stop() {
    StopAsked = true;
    for (auto& lane : Lanes)
        if (lane->Station) lane->Station->Stop();
}

bool StationRun::Revive(const std::string& slot) {
    if (StopAsked) return false;
    for (auto& lane : Lanes)
        if (lane->Setup.Name == slot) {
            if (!lane->Ended) return false;
            Launch(*lane);
            return true;
        }
    return false;
}

bool StationRun::Running() const {
    for (const auto& lane : Lanes)
        if (lane->Station && !lane->Ended) return true;
    return false;
}

void StationRun::Finish() {
    for (auto& lane : Lanes) {
        if (lane->Thread.joinable()) lane->Thread.join();
        lane->Station.reset();
    }
}

} // namespace stationapp
