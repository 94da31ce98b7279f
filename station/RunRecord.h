#pragma once
// The record of one run of a port session: the one mapping from a run's report to a unit record,
// for flash --log and for the station.
#include "session/SessionEvents.h"
#include "station/UnitRecord.h"
#include "station/UtcTime.h"

#include <optional>
#include <string>

namespace station {

// What is known of a unit before its run.
struct UnitContext {
    SystemTime Started;
    std::string Host, Slot, Port, Device;
    std::optional<std::string> Id, VersionBefore;
    std::string Package, Md5, Lot, Operator;
    std::optional<std::string> Signer; // the signing key's fingerprint, when keys are trusted
    std::optional<std::string> Trace;
};

// The record of a run that ended now with the report, at the stage (its name), after the
// reconnects given.
UnitRecord RecordOfRun(const UnitContext& unit, const session::RunReport& report, const std::string& stage,
                       int reconnects);

} // namespace station
