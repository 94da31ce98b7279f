#pragma once
// tolvane-flash station: the station library with the flasher's screen, log and Ctrl-C.
#include "package/Signature.h"
#include "serial/LineSettings.h"
#include "station/Station.h"

#include <string>
#include <vector>

namespace flash {

struct StationOptions {
    std::string Package;
    std::vector<station::SlotSetup> Slots;
    LineMode Working, Loader;
    bool WindowTiming = false; // the window's reply timing instead of prompt replies
    std::string ExpectVersion;
    std::string IdCommand = "AT+CGSN"; // as written; "none" skips the identity
    std::string LogPath = "tolvane-records.jsonl";
    std::string TraceDir;
    std::string Lot, Operator;
    int MaxSlotFailures = 3;
    double BootTimeoutSeconds = 60;
    double ReconnectSeconds = 10;
    bool Once = false;
    bool Json = false;
    bool Quiet = false; // the result lines and the summary only
    bool Verbose = false;
    std::string Db; // the database's connection string; empty: records stay in the log only
};

// Runs the station to its end; the exit status. A package needs a signature by one of `trust`
// when any key is configured there.
session::ExitStatus RunStation(const StationOptions& options, const TrustedKeys& trust);

// Ctrl-C and SIGTERM while a station runs: the first takes no new unit, the second ends
// everything. False when no station runs (the caller then handles the signal).
bool InterruptStation();

} // namespace flash
