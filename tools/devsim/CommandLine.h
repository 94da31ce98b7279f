#pragma once
// Command line of tolvane-devsim.

#include "tools/devsim/VirtualDevice.h"

#include <string>
#include <vector>

namespace devsim {

struct CommandLine {
    DeviceOptions Device;
    int ComNumber = 0;       // 0: no entry in the port map
    std::string PortsFolder; // empty: DefaultPortsFolder()
    bool Verbose = false;
    bool Help = false;
    bool Version = false;
};

// Parses the arguments after the program name; false with a message naming the option on a
// bad one.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error);

// "115200,none", "9600,e", "57600,Odd".
bool ParseLineMode(const std::string& text, LineMode& out);

// The --help text, generated from the option definitions.
std::string UsageText();

} // namespace devsim
