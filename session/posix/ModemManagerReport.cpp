#include "session/ModemManagerReport.h"

namespace session {

std::vector<ModemGuardNote> NotesAtOpening(const ModemInhibition& guard) {
    using Kind = ModemGuardNote::Kind;
    switch (guard.Answer()) {
    case ModemInhibitionState::Inhibited: {
        std::vector<ModemGuardNote> notes{
            {Kind::Inhibited, guard.Device(), guard.Modem(), guard.PortName(), {}}};
        for (auto& ended : NotesAtClosing(guard)) notes.push_back(std::move(ended));
        return notes;
    }
    case ModemInhibitionState::Refused:
        return {{Kind::Refused, guard.Device().empty() ? guard.DevicePath() : guard.Device(),
                 guard.Modem(), guard.PortName(), guard.Error()}};
    case ModemInhibitionState::NoManager:
        // Not on the bus we reached (a sandbox, another bus): it may still take the port.
        if (ModemManagerRunning()) return {{Kind::Unasked, {}, {}, {}, {}}};
        return {};
    case ModemInhibitionState::None:
    case ModemInhibitionState::NotListed:
        break;
    }
    return {};
}

std::vector<ModemGuardNote> NotesAtClosing(const ModemInhibition& guard) {
    if (guard.Answer() == ModemInhibitionState::Inhibited &&
        guard.State() == ModemInhibitionState::None)
        return {{ModemGuardNote::Kind::Ended, guard.Device(), guard.Modem(), guard.PortName(), {}}};
    return {};
}

} // namespace session
