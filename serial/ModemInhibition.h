#pragma once
// Keeps the system's modem manager off the device behind a port while the port holds it. On
// Linux, ModemManager (when it is on the system bus and lists a modem owning the port) is asked
// to inhibit that modem: it closes the modem's ports and leaves the physical device alone, also
// when it comes back in its loader, until the inhibition ends or our bus connection goes. Windows
// has no such manager: there nothing is asked and the state stays NoManager.
//
// Used by the port core on the thread that opens and closes the port, never by its I/O threads.
#include <memory>
#include <string>

enum class ModemInhibitionState {
    None,      // nothing asked, or the inhibition ended
    NoManager, // no system bus, or no modem manager on it
    NotListed, // the modem manager lists no modem with this port
    Inhibited, // the modem manager leaves the device alone until Release
    Refused,   // the modem manager would not (not allowed, or no answer); it may use the port
};

class ModemInhibition {
  public:
    ModemInhibition();
    ~ModemInhibition(); // ends an inhibition
    ModemInhibition(const ModemInhibition&) = delete;
    ModemInhibition& operator=(const ModemInhibition&) = delete;

    // Asks for the modem owning the device at `devicePath` (links followed) to be inhibited,
    // ending any earlier inhibition first. Blocks until answered (2 s at most). A device that
    // the modem manager does not list is not asked about again while it stays (the same node):
    // a station probing its port every second would ask every second.
    ModemInhibitionState Inhibit(const std::string& devicePath);
    // Ends the inhibition (and closes the bus connection); the state becomes None. The answer
    // and what it names stay readable until the next Inhibit.
    void Release();

    ModemInhibitionState State() const { return Current; }
    // What the last Inhibit returned.
    ModemInhibitionState Answer() const { return LastAnswer; }
    // What the last Inhibit was asked for, as given.
    const std::string& DevicePath() const { return Path; }
    // The port's name as the kernel (and the modem manager) names it, e.g. "ttyUSB2".
    const std::string& PortName() const { return Name; }
    // The modem's object path and its physical device (the inhibited uid), once found.
    const std::string& Modem() const { return ModemPath; }
    const std::string& Device() const { return DeviceUid; }
    // Why the modem manager refused, when Refused.
    const std::string& Error() const { return Reason; }

  private:
    struct Bus;
    ModemInhibitionState Ask();

    ModemInhibitionState Current = ModemInhibitionState::None;
    ModemInhibitionState LastAnswer = ModemInhibitionState::None;
    std::string Path, Name, ModemPath, DeviceUid, Reason;
    // The device the modem manager last did not list, and that answer.
    std::string QuietDevice;
    ModemInhibitionState QuietAnswer = ModemInhibitionState::None;
    std::unique_ptr<Bus> Connection; // open only while Inhibited
};

// A modem manager runs on this machine, whether or not it can be asked (Linux: a process named
// ModemManager, any user's). Always false on Windows.
bool ModemManagerRunning();
