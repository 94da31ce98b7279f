#include "tools/flash/FlashRecords.h"

#include "station/LockedFile.h"
#include "station/RunRecord.h"

namespace flash {

RecordingEvents::RecordingEvents(session::SessionEvents& shown, station::RecordLog& log, Run run)
    : Shown(shown), Log(log), Settings(std::move(run)) {}

void RecordingEvents::Begin(const session::PortSession& session) {
    Session = &session;
    Started = std::chrono::system_clock::now();
}

void RecordingEvents::Result(const std::string& port, const session::RunReport& report) {
    station::UnitContext unit;
    unit.Started = Started;
    unit.Host = station::HostName();
    unit.Slot = port;
    unit.Port = port;
    unit.Package = Settings.Package;
    unit.Md5 = Settings.Md5;
    unit.Signer = Settings.Signer;
    if (!Settings.Trace.empty()) unit.Trace = Settings.Trace;
    std::string stage = session::RunStageName(session::RunStage::Probe);
    int reconnects = 0;
    if (Session) {
        unit.Device = Session->Device();
        stage = session::RunStageName(Session->Stage());
        reconnects = Session->Reconnects();
    }
    station::UnitRecord record = station::RecordOfRun(unit, report, stage, reconnects);
    Error_.clear();
    if (!Log.Append(record, Error_))
        Shown.Error("tolvane-flash: " + port + ": the record cannot be written: " + Error_);
    Shown.Result(port, report);
}

} // namespace flash
