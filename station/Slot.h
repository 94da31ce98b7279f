#pragma once
// One slot of a station: its port and the loop that runs on the slot's thread.
#include "session/PortSession.h"
#include "session/Trace.h"
#include "station/SlotSeams.h"
#include "station/Station.h"
#include "station/UtcTime.h"

#include <memory>
#include <thread>

namespace station {

class Slot : session::SessionEvents {
  public:
    Slot(Station& station, SlotSetup setup, const SlotPortMaker& ports);
    ~Slot() override;
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;

    void Start();
    void Join();
    void Interrupt() { Port->Interrupt(); }
    // The exit status of the last unit (0 before any).
    session::ExitStatus LastCode() const { return LastUnitCode; }

  private:
    struct Unit {
        FoundUnit Found;
        SystemTime Started;
    };
    enum class VerifyOutcome { Answered, NoAnswer, Stopped };

    void Loop();
    // Probes the port once a second until a unit answers; false when the station stops first.
    bool WaitForUnit(Unit& unit);
    // Sends the version query, then one ping at the loader mode; the port is open.
    bool Probe(FoundUnit& unit);
    UnitRecord Process(const Unit& unit);
    VerifyOutcome Verify(std::string& version);
    void WaitForRemoval();
    // (Re)opens the session's port when it is closed or its device went away; false when it
    // cannot be opened now.
    bool EnsureOpen();
    std::unique_ptr<session::Trace> OpenTrace(const Unit& unit, std::string& path);

    // SessionEvents: the upgrade's events go to the station's view under the slot's name.
    void Start(const std::string&, const std::string& package, const std::string& md5,
               int blockSize, int blockCount) override;
    void Attempt(const std::string&, int number) override;
    void Status(const std::string&, const std::string& text) override;
    void Progress(const std::string&, int block, int blocks, int percent) override;
    void Resend(const std::string&, int block) override;
    void Reconnect(const std::string&, int block, bool ok) override;
    void ModemGuard(const std::string&, const session::ModemGuardNote& note) override;
    void Result(const std::string&, const session::RunReport&) override {}
    void Error(const std::string& text) override;

    Station& Owner;
    const SlotSetup Setup;
    std::unique_ptr<SlotPort> Port;
    std::thread Thread;
    session::ExitStatus LastUnitCode = session::ExitStatus::Succeeded;
};

} // namespace station
