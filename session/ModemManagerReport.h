#pragma once
// What a port session says about the modem manager at a port's opening and closing: a warning
// when it may use the port during the run (once a run, however many ports), and with -v what
// was inhibited and when that ended.
#include "serial/ModemInhibition.h"
#include "session/SessionEvents.h"

#include <string>

namespace session {

// After the port's first opening of a run, whether or not the device opened.
void ReportModemGuard(const std::string& port, const ModemInhibition& guard, SessionEvents& reporter);
// After the port was closed.
void ReportModemGuardEnded(const std::string& port, const ModemInhibition& guard,
                           SessionEvents& reporter);

} // namespace session
