#include "session/ModemManagerReport.h"

#include <atomic>

namespace session {

namespace {

void WarnOnce(SessionEvents& reporter) {
    static std::atomic<bool> warned{false};
    if (warned.exchange(true)) return;
    reporter.Error("tolvane-flash: warning: ModemManager is running and may probe the port with "
                   "AT commands of its own during the upgrade; see the README on how to keep it "
                   "away from the port");
}

} // namespace

void ReportModemGuard(const std::string& port, const ModemInhibition& guard, SessionEvents& reporter) {
    switch (guard.Answer()) {
    case ModemInhibitionState::Inhibited:
        reporter.Verbose(port + ": ModemManager inhibited " + guard.Device() + " (modem " +
                         guard.Modem() + ", port " + guard.PortName() + ")");
        ReportModemGuardEnded(port, guard, reporter); // the device did not open
        break;
    case ModemInhibitionState::Refused:
        reporter.Verbose(port + ": ModemManager refused to inhibit " +
                         (guard.Device().empty() ? guard.DevicePath() : guard.Device()) + ": " +
                         guard.Error());
        WarnOnce(reporter);
        break;
    case ModemInhibitionState::NoManager:
        // Not on the bus we reached (a sandbox, another bus): it may still take the port.
        if (ModemManagerRunning()) WarnOnce(reporter);
        break;
    case ModemInhibitionState::None:
    case ModemInhibitionState::NotListed:
        break;
    }
}

void ReportModemGuardEnded(const std::string& port, const ModemInhibition& guard,
                           SessionEvents& reporter) {
    if (guard.Answer() == ModemInhibitionState::Inhibited &&
        guard.State() == ModemInhibitionState::None)
        reporter.Verbose(port + ": ModemManager inhibition of " + guard.Device() + " ended");
}

} // namespace session
