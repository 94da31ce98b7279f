#include "serial/ModemInhibition.h"

// Windows has no service that takes the ports of modems on its own: nothing to keep away.

struct ModemInhibition::Bus {};

ModemInhibition::ModemInhibition() = default;

ModemInhibition::~ModemInhibition() = default;

ModemInhibitionState ModemInhibition::Inhibit(const std::string& devicePath) {
    Path = devicePath;
    LastAnswer = Current = Ask();
    return Current;
}

ModemInhibitionState ModemInhibition::Ask() {
    return ModemInhibitionState::NoManager;
}

void ModemInhibition::Release() {
    Current = ModemInhibitionState::None;
}

bool ModemManagerRunning() {
    return false;
}
