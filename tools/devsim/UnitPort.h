#pragma once
// The device's port as a tool finds it: a pseudo-terminal and, with a COM number, its entry in
// the port map. It can vanish (a unit taken away, a USB adapter's brief drop) and come back
// under the same name, on a new pseudo-terminal.

#include "tools/devsim/PortLink.h"
#include "tools/devsim/VirtualDevice.h"

#include <functional>
#include <mutex>
#include <string>

namespace devsim {

class UnitPort : public PortPresence {
  public:
    // comNumber 0: a pseudo-terminal only, no port-map entry.
    UnitPort(std::string portsFolder, int comNumber);
    // Opens a pseudo-terminal and makes the entry: the device's end (the caller's to close), or
    // -1 with a reason.
    int Open(std::string& error);
    void Vanished() override;
    int Arrive() override;
    // What a tool opens now; empty while the port is away.
    std::string DevicePath() const;

    // Told of every arrival after the first (main prints the new path), and why one failed. Set
    // them before the device starts.
    std::function<void(const std::string& devicePath, const std::string& linkPath)> OnArrive;
    std::function<void(const std::string& error)> OnError;

  private:
    const std::string folder_;
    const int number_;
    PortLink link_;
    mutable std::mutex mutex_;
    std::string device_;
};

} // namespace devsim
