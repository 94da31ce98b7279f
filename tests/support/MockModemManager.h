#pragma once
// ModemManager on a private system bus, for tests of what the port does with it: a dbus-daemon of
// the test's own (DBUS_SYSTEM_BUS_ADDRESS points at it while the object lives, so this process
// and the programs it starts use it) and python3-dbusmock playing ModemManager with the modems
// the test names (tests/support/modemmanager_mock.py). The mock logs every call it gets.
#include "tests/support/ChildProcess.h"

#include <chrono>
#include <string>
#include <vector>

namespace tolvane::test {

class MockModemManager {
  public:
    struct Modem {
        std::string Device;             // the modem's physical device (its uid)
        std::vector<std::string> Ports; // device paths; listed by their kernel names
        std::string Hold;               // a port the mock holds until the modem is inhibited
    };

    // Points the system bus address at a socket where no bus runs (yet).
    MockModemManager();
    ~MockModemManager(); // stops the mock and the bus, restores the address
    MockModemManager(const MockModemManager&) = delete;
    MockModemManager& operator=(const MockModemManager&) = delete;

    // dbus-daemon is installed (the tests that need a bus skip without it).
    static bool BusInstalled();
    // The private system bus, without ModemManager on it.
    bool StartBus();
    // ModemManager on the bus with these modems; `refuse`: InhibitDevice fails as when polkit
    // says no. Returns once the mock answers.
    bool StartManager(const std::vector<Modem>& modems, bool refuse = false);

    // The InhibitDevice calls so far, oldest first, as "<uid> True" / "<uid> False".
    std::vector<std::string> InhibitCalls() const;
    // How often the modems were listed (GetManagedObjects).
    int ListCalls() const;
    // What went wrong in StartBus or StartManager.
    const std::string& Error() const { return Problem; }

  private:
    std::vector<std::string> LogLines(const std::string& method) const;

    std::string Dir, Socket, LogPath, Previous, Problem;
    bool HadPrevious = false;
    Child Daemon, Manager;
};

} // namespace tolvane::test
