#include "session/ModemManagerReport.h"

#include <chrono>
#include <mutex>

namespace session {

namespace {

// Whether a ModemManager process runs, read at most once in a while: the answer takes a file
// opened per process, and a station opens each of its ports every second.
bool ManagerProcessSeen() {
    constexpr auto Fresh = std::chrono::seconds(10);
    static std::mutex lock;
    static std::chrono::steady_clock::time_point readAt;
    static bool seen = false, known = false;
    std::lock_guard<std::mutex> guard(lock);
    const auto now = std::chrono::steady_clock::now();
    if (!known || now - readAt >= Fresh) {
        seen = ModemManagerRunning();
        readAt = now;
        known = true;
    }
    return seen;
}

} // namespace

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
        if (ManagerProcessSeen()) return {{Kind::Unasked, {}, {}, {}, {}}};
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
