#include "tools/flash/ModemGuardText.h"

#include <atomic>

namespace flash {

using Kind = session::ModemGuardNote::Kind;

std::string ModemGuardDetail(const std::string& port, const session::ModemGuardNote& note) {
    switch (note.What) {
    case Kind::Inhibited:
        return port + ": ModemManager inhibited " + note.Device + " (modem " + note.Modem +
               ", port " + note.PortName + ")";
    case Kind::Refused:
        return port + ": ModemManager refused to inhibit " + note.Device + ": " + note.Error;
    case Kind::Ended:
        return port + ": ModemManager inhibition of " + note.Device + " ended";
    case Kind::Unasked:
        break;
    }
    return {};
}

std::string ModemGuardWarningOnce(const session::ModemGuardNote& note) {
    static std::atomic<bool> warned{false};
    if (note.What != Kind::Refused && note.What != Kind::Unasked) return {};
    if (warned.exchange(true)) return {};
    return "tolvane-flash: warning: ModemManager is running and may probe the port with AT "
           "commands of its own during the upgrade; see the README on how to keep it away from "
           "the port";
}

} // namespace flash
