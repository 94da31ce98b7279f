#pragma once
// The flasher's words for what ModemManager did about a port: a line for -v, and a warning,
// once a run however many ports, when it may use a port during the upgrade.
#include "session/ModemManagerReport.h"

#include <string>

namespace flash {

// The -v line; empty when there is none.
std::string ModemGuardDetail(const std::string& port, const session::ModemGuardNote& note);
// The warning when the note calls for one and none was given yet in this run; else empty.
std::string ModemGuardWarningOnce(const session::ModemGuardNote& note);

} // namespace flash
