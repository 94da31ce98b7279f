#pragma once
// The exit statuses of tolvane-flash, as its help, manual and README give them. A port's run
// reports the one it asks for; with several ports the first failing port's in command-line
// order wins.

namespace session {

enum class ExitStatus : int {
    Succeeded = 0,      // every port succeeded (or the command did what it was asked)
    UpgradeFailed = 1,  // a block failed three times, a limit was reached, no version in the reply
    BadCommandLine = 2, // including a mode given neither as a flag nor in Config.ini
    PackageRefused = 3,
    PortNotOpened = 4,
    NoAnswer = 5,      // the device never answered block 0, or the version query
    Interrupted = 130, // Ctrl-C or SIGTERM
};

constexpr int StatusCode(ExitStatus status) {
    return static_cast<int>(status);
}

} // namespace session
