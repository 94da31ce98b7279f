#pragma once
// Station.ini: the slots, package, expected version, lot, operator and the record log of the
// station window, in the folder of Config.ini. Written in one step (the old file or the new one,
// never a mix), lines the window does not know kept.
#include "station/Station.h"

#include <string>
#include <vector>

namespace stationapp {

struct StationConfig {
    std::vector<station::SlotSetup> Slots;
    std::string Package, ExpectVersion, Lot, Operator, LogPath;
};

// The defaults for what the file does not give; a missing file gives them all.
StationConfig ReadStationIni(const std::string& path, const StationConfig& defaults);
// Throws IniWriteError when the file cannot be replaced; it is then left as it was.
void WriteStationIni(const std::string& path, const StationConfig& config);

// Station.ini beside Config.ini, for a program whose executable lies in exeFolder.
std::string StationIniFile(const std::string& exeFolder);

} // namespace stationapp
