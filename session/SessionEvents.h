#pragma once
// What one port session tells the outside while it upgrades a device: the flasher's reporter
// and a station slot both listen. Calls come from the session's own thread.
#include "session/ExitStatus.h"
#include "session/ModemManagerReport.h"

#include <string>

namespace session {

struct RunReport {
    bool Ok = false;
    ExitStatus Code = ExitStatus::UpgradeFailed; // what this port asks the program to exit with
    std::string Message;
    double Seconds = 0;
    int Frames = 0;
    int Resends = 0;
};

class SessionEvents {
  public:
    virtual ~SessionEvents() = default;
    virtual void Start(const std::string& port, const std::string& package, const std::string& md5,
                       int blockSize, int blockCount) = 0;
    virtual void Attempt(const std::string& port, int number) = 0;
    virtual void Status(const std::string& port, const std::string& text) = 0;
    virtual void Progress(const std::string& port, int block, int blocks, int percent) = 0;
    virtual void Resend(const std::string& port, int block) = 0;
    // The port vanished during the transfer and came back (ok) or not within the time allowed.
    virtual void Reconnect(const std::string& /*port*/, int /*block*/, bool /*ok*/) {}
    virtual void Result(const std::string& port, const RunReport& report) = 0;
    // An error or warning line for a person.
    virtual void Error(const std::string& text) = 0;
    // A line for a person who asked for details (the flasher's -v).
    virtual void Verbose(const std::string& /*text*/) {}
    // What ModemManager did about the port at an opening or closing.
    virtual void ModemGuard(const std::string& /*port*/, const ModemGuardNote& /*note*/) {}
};

} // namespace session
