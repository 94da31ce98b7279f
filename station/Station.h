#pragma once
// A production station: several slots, each a port where one unit after another is found,
// identified, upgraded as the flasher does it, verified, recorded and taken away. One thread per
// slot; every wait sleeps on a condition variable.
#include "package/FirmwarePackage.h"
#include "serial/LineSettings.h"
#include "session/ExitStatus.h"
#include "station/IdentityQuery.h"
#include "station/RecordLog.h"
#include "station/SlotSeams.h"
#include "station/StationView.h"
#include "station/Yield.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace station {

struct SlotSetup {
    std::string Name; // on the screen and in the records
    std::string Port; // COM<n> or a device path, resolved anew at every opening
};

// "[NAME=]PORT": the slot's name defaults to the port as written. False for an empty port.
bool ParseSlot(const std::string& text, SlotSetup& out);

struct StationSettings {
    LineMode Working, Loader;
    bool PromptReplies = true;                // false: the window's timing
    std::string IdCommand = DefaultIdCommand; // empty: the identity is not asked
    std::string ExpectVersion;                // empty: any version passes
    int MaxSlotFailures = 3;                  // failed units in a row before a slot stops; 0: never
    double BootTimeoutSeconds = 60;
    double ReconnectSeconds = 10;
    bool Once = false; // each slot upgrades one unit, then the station ends
    std::string PackagePath, Md5;
    std::optional<std::string> Signer; // for the records; unset when no key is trusted
    std::string TraceDir;              // empty: no traces
    std::string Lot, Operator;
    std::chrono::milliseconds ProbeInterval{1000};
    std::chrono::milliseconds RemovalSilence{2000};
};

struct StationSummary {
    int Passed = 0, Failed = 0, Units = 0;
    double FirstPassYield = 0;
    // The exit status: with Once the first failing unit's code (in slot order), 130 after
    // Abort, 1 when the log could not be written, else 0.
    session::ExitStatus Code = session::ExitStatus::Succeeded;
    std::string LogError;
};

class Slot;

// Each slot's port as a station has it: a port session on the slot's port.
SlotPortMaker SessionPorts(const StationSettings& settings, const FirmwarePackageData& package);

class Station {
  public:
    Station(StationSettings settings, std::vector<SlotSetup> slots,
            const FirmwarePackageData& package, RecordLog& log, StationView& view);
    // With other ports and another clock (the loop's tests); clock outlives the station.
    Station(StationSettings settings, std::vector<SlotSetup> slots,
            const FirmwarePackageData& package, RecordLog& log, StationView& view,
            const SlotPortMaker& ports, const SlotClock& clock);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Runs every slot until all have ended.
    StationSummary Run();
    // Takes no new unit; upgrades under way finish and are recorded. Any thread.
    void Stop();
    // Ends everything at once: nothing further is sent. Any thread.
    void Abort();
    // Counts so far, for a footer. Any thread.
    StationSummary Counts() const;

  private:
    friend class Slot;
    // Whether a slot may take a new unit now.
    bool TakesUnits() const;
    // Sleeps up to the time given; false when the station stops meanwhile.
    bool Pause(std::chrono::milliseconds time) const;
    // Writes the record and counts the unit; false with the reason when it cannot be written,
    // after which no slot takes a unit.
    bool Record(UnitRecord& record, std::string& error);
    bool RecordLine(const std::string& line, std::string& error);

    const StationSettings Settings;
    const SteadyClock Steady;
    const SlotClock& Time;
    const FirmwarePackageData& Package;
    RecordLog& Log;
    StationView& View;
    const std::string Host;
    std::vector<std::unique_ptr<Slot>> Slots;

    mutable std::mutex Lock;
    mutable std::condition_variable Woken;
    std::atomic<bool> Stopping{false};
    std::atomic<bool> Aborting{false};
    bool LogBroken = false;
    std::string LogError;
    YieldCount Yield;
};

} // namespace station
