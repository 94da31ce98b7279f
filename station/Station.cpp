#include "station/Station.h"

#include "station/LockedFile.h"
#include "station/Slot.h"

namespace station {

bool ParseSlot(const std::string& text, SlotSetup& out) {
    const size_t equals = text.find('=');
    // A device path may hold '=' itself: only a name before the first '/' counts.
    const bool named = equals != std::string::npos && text.find('/') > equals;
    out.Port = named ? text.substr(equals + 1) : text;
    out.Name = named ? text.substr(0, equals) : text;
    return !out.Port.empty() && !out.Name.empty();
}

Station::Station(StationSettings settings, std::vector<SlotSetup> slots,
                 const FirmwarePackageData& package, RecordLog& log, StationView& view)
    : Settings(std::move(settings)), Time(Steady), Package(package), Log(log), View(view),
      Host(HostName()) {
    const SlotPortMaker ports = SessionPorts(Settings, Package);
    for (SlotSetup& setup : slots)
        Slots.push_back(std::make_unique<Slot>(*this, std::move(setup), ports));
}

Station::Station(StationSettings settings, std::vector<SlotSetup> slots,
                 const FirmwarePackageData& package, RecordLog& log, StationView& view,
                 const SlotPortMaker& ports, const SlotClock& clock)
    : Settings(std::move(settings)), Time(clock), Package(package), Log(log), View(view),
      Host(HostName()) {
    for (SlotSetup& setup : slots)
        Slots.push_back(std::make_unique<Slot>(*this, std::move(setup), ports));
}

Station::~Station() {
    Abort();
    for (auto& slot : Slots)
        slot->Join();
}

StationSummary Station::Run() {
    for (auto& slot : Slots)
        slot->Start();
    for (auto& slot : Slots)
        slot->Join();
    StationSummary summary = Counts();
    if (Aborting) {
        summary.Code = session::ExitStatus::Interrupted;
    } else if (!summary.LogError.empty()) {
        summary.Code = session::ExitStatus::UpgradeFailed;
    } else if (Settings.Once) {
        for (auto& slot : Slots)
            if (slot->LastCode() != session::ExitStatus::Succeeded) {
                summary.Code = slot->LastCode();
                break;
            }
    }
    return summary;
}

void Station::Stop() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Stopping = true;
    }
    Woken.notify_all();
}

void Station::Abort() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Stopping = true;
        Aborting = true;
    }
    Woken.notify_all();
    for (auto& slot : Slots)
        slot->Interrupt();
}

StationSummary Station::Counts() const {
    std::lock_guard<std::mutex> guard(Lock);
    StationSummary summary;
    summary.Passed = Yield.Passed;
    summary.Failed = Yield.Failed;
    summary.Units = Yield.Units();
    summary.FirstPassYield = Yield.FirstPassYield();
    summary.LogError = LogError;
    return summary;
}

bool Station::TakesUnits() const {
    std::lock_guard<std::mutex> guard(Lock);
    return !Stopping && !LogBroken;
}

bool Station::Pause(std::chrono::milliseconds time) const {
    std::unique_lock<std::mutex> lock(Lock);
    Time.WaitUntil(lock, Woken, Time.Now() + time, [this] { return Stopping || LogBroken; });
    return !Stopping && !LogBroken;
}

bool Station::Record(UnitRecord& record, std::string& error) {
    const bool written = Log.Append(record, error);
    bool first = false;
    {
        std::lock_guard<std::mutex> guard(Lock);
        Yield.Add(record.Id.value_or(""), record.Ok);
        if (!written && !LogBroken) {
            LogBroken = first = true;
            LogError = error;
        }
    }
    if (first) {
        Woken.notify_all();
        View.LogFailed(error);
    }
    return written;
}

bool Station::RecordLine(const std::string& line, std::string& error) {
    if (Log.AppendLine(line, error)) return true;
    bool first = false;
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (!LogBroken) {
            LogBroken = first = true;
            LogError = error;
        }
    }
    if (first) {
        Woken.notify_all();
        View.LogFailed(error);
    }
    return false;
}

} // namespace station
