#pragma once
// The command line of tolvane-flash.
#include "serial/LineSettings.h"
#include "tools/flash/DatabaseCommand.h"
#include "tools/flash/HistoryCommand.h"
#include "tools/flash/StationCommand.h"

#include <optional>
#include <string>
#include <vector>

namespace flash {

enum class Command {
    Help,
    Version,
    Info,
    Ports,
    QueryVersion,
    Flash,
    Station,
    History,
    RecordsInit,
    RecordsPush
};

struct FlashOptions {
    Command Action = Command::Help;
    std::string HelpCommand; // with Help: the command whose help was asked; empty: the overview
    std::string Package;
    std::vector<std::string> Ports; // in command-line order
    std::optional<LineMode> Working;
    std::optional<LineMode> Loader;
    bool Json = false;
    bool Quiet = false;
    bool Verbose = false;
    std::string TracePath;
    double TimeoutSeconds = 0; // 0: none
    bool PromptReplies = false;
    std::vector<std::string> Trust; // --trust key files, in command-line order
    std::string LogPath;            // flash: empty, no records
    double ReconnectSeconds = 0;    // flash: 0, a port that vanishes is not awaited
    StationOptions Station;         // station: the slots and the rest (modes and --json apart)
    HistoryOptions History;         // history: the log, filters and form (--json apart)
    std::string Db;                 // flash: the database's connection string; empty: none
    RecordsOptions Records;         // records init and push
};

// Parses the arguments after the program name (UTF-8); false with a message naming the option or
// command at fault (an unknown option before anything else). --help and --version only set
// Action (and HelpCommand).
bool ParseFlashOptions(const std::vector<std::string>& args, FlashOptions& out, std::string& error);

// The help text, made from the option definitions: the overview of every command and option.
std::string FlashUsage();

// One command's usage and the options it takes; empty for a name that is no command.
std::string CommandUsage(const std::string& command);

// The line modes the window saved in Config.ini (item indices into its baud-rate and parity
// lists), for the flags left out; a mode the file does not give stays empty.
void TakeModesFromSettings(const std::string& iniPath, FlashOptions& options);

} // namespace flash
