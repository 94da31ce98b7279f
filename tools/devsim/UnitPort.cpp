#include "tools/devsim/UnitPort.h"

#include "tools/devsim/PtyLine.h"

#include <unistd.h>

namespace devsim {

UnitPort::UnitPort(std::string portsFolder, int comNumber)
    : folder_(std::move(portsFolder)), number_(comNumber) {}

int UnitPort::Open(std::string& error) {
    PtyPair pty;
    if (!OpenPseudoTerminal(pty, error)) return -1;
    // The entry is made only once the terminal exists, so it never points at nothing.
    if (number_ != 0 && !link_.Create(folder_, number_, pty.SlavePath, error)) {
        ::close(pty.Master);
        return -1;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    device_ = pty.SlavePath;
    return pty.Master;
}

void UnitPort::Vanished() {
    link_.Remove();
    std::lock_guard<std::mutex> lock(mutex_);
    device_.clear();
}

int UnitPort::Arrive() {
    std::string error;
    const int master = Open(error);
    if (master < 0) {
        if (OnError) OnError(error);
    } else if (OnArrive) {
        OnArrive(DevicePath(), link_.Path());
    }
    return master;
}

std::string UnitPort::DevicePath() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return device_;
}

} // namespace devsim
