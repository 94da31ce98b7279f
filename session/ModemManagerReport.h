#pragma once
// What ModemManager did about a port at its opening and closing, as values: the program words
// them (the flasher's -v lines and its warning). Windows has no such manager, and its build
// reports nothing.
#include "serial/ModemInhibition.h"

#include <string>
#include <vector>

namespace session {

struct ModemGuardNote {
    enum class Kind {
        Inhibited, // it leaves the device alone during the run
        Refused,   // it would not: it may use the port during the run
        Unasked,   // it runs, but not on the bus we reached: it may use the port
        Ended,     // the inhibition ended as the port closed
    };
    Kind What = Kind::Unasked;
    std::string Device;   // the inhibited (or refused) physical device
    std::string Modem;    // the modem's object path
    std::string PortName; // the port as the kernel names it, e.g. "ttyUSB2"
    std::string Error;    // why it refused
};

// After a port's opening, whether or not the device opened (an inhibition of a device that did
// not open ends at once, so it gives Inhibited and Ended).
std::vector<ModemGuardNote> NotesAtOpening(const ModemInhibition& guard);
// After the port was closed.
std::vector<ModemGuardNote> NotesAtClosing(const ModemInhibition& guard);

} // namespace session
