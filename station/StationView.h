#pragma once
// What a station shows: every event of every slot, from the slot's own thread. The flasher's
// terminal screen and its JSON Lines are views; a station window can be another. Every call may
// come from any slot's thread at once, so a view keeps its own lock.
#include "session/ModemManagerReport.h"
#include "station/UnitRecord.h"

#include <optional>
#include <string>

namespace station {

struct FoundUnit {
    std::optional<std::string> Id;      // null: not asked (a unit in its loader, no id command)
    std::optional<std::string> Version; // the version before; null for a unit in its loader
    bool InLoader = false;
    std::string Device; // what was opened
};

class StationView {
  public:
    virtual ~StationView() = default;
    // No unit in the slot: its port is missing or nothing answers there.
    virtual void Waiting(const std::string& /*slot*/) {}
    // The port exists but another program holds it.
    virtual void Busy(const std::string& /*slot*/, const std::string& /*device*/) {}
    virtual void Found(const std::string& /*slot*/, const FoundUnit& /*unit*/) {}
    // The upgrade, as the flasher reports it.
    virtual void Start(const std::string& /*slot*/, const std::string& /*package*/,
                       const std::string& /*md5*/, int /*blockSize*/, int /*blocks*/) {}
    virtual void Attempt(const std::string& /*slot*/, int /*number*/) {}
    virtual void Status(const std::string& /*slot*/, const std::string& /*text*/) {}
    virtual void Progress(const std::string& /*slot*/, int /*block*/, int /*blocks*/,
                          int /*percent*/) {}
    virtual void Resend(const std::string& /*slot*/, int /*block*/) {}
    virtual void Reconnect(const std::string& /*slot*/, int /*block*/, bool /*ok*/) {}
    // The transfer is done; the slot asks for the new firmware's version.
    virtual void Verify(const std::string& /*slot*/) {}
    // The unit's record, written to the log before this call (logError says why it was not).
    virtual void Result(const std::string& /*slot*/, const UnitRecord& /*record*/,
                        const std::string& /*logError*/) {}
    // The slot waits for the unit to be taken away, and it was.
    virtual void RemoveUnit(const std::string& /*slot*/) {}
    virtual void Removed(const std::string& /*slot*/) {}
    virtual void OutOfService(const std::string& /*slot*/, const std::string& /*reason*/) {}
    // The log cannot be written: no slot takes a further unit.
    virtual void LogFailed(const std::string& /*reason*/) {}
    // A message for a person (a port that could not be reopened, ...).
    virtual void Message(const std::string& /*text*/) {}
    // What ModemManager did about the slot's port at an opening or closing.
    virtual void ModemGuard(const std::string& /*slot*/, const session::ModemGuardNote& /*note*/) {}
};

} // namespace station
