#include "session/ModemManagerReport.h"

namespace session {

// No modem manager on Windows: nothing to report.
std::vector<ModemGuardNote> NotesAtOpening(const ModemInhibition&) {
    return {};
}
std::vector<ModemGuardNote> NotesAtClosing(const ModemInhibition&) {
    return {};
}

} // namespace session
