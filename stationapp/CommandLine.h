#pragma once
// The command line of tolvane-station: what it gives overrides the saved settings for one run.
#include "stationapp/StationWindow.h"

#include <string>
#include <vector>

namespace stationapp {

struct CommandLine {
    RunOverrides Overrides;
    std::string SettingsFile; // empty: Station.ini beside Config.ini
    bool Help = false, Version = false;
};

// The arguments after the program's name (UTF-8); false with a message naming the option at
// fault.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error);
std::string Usage();

} // namespace stationapp
