#include "tools/flash/FlashRecords.h"

#include "station/LockedFile.h"

namespace flash {

RecordingEvents::RecordingEvents(session::SessionEvents& shown, station::RecordLog& log, Run run)
    : Shown(shown), Log(log), Settings(std::move(run)) {}

void RecordingEvents::Begin(const session::PortSession& session) {
    Session = &session;
    Started = std::chrono::system_clock::now();
}

void RecordingEvents::Result(const std::string& port, const session::RunReport& report) {
    station::UnitRecord record;
    record.Start = station::IsoUtc(Started);
    record.End = station::IsoUtc(std::chrono::system_clock::now());
    record.Host = station::HostName();
    record.Slot = port;
    record.Port = port;
    if (Session) {
        record.Device = Session->Device();
        record.Stage = session::RunStageName(Session->Stage());
        record.Reconnects = Session->Reconnects();
    }
    record.Package = Settings.Package;
    record.Md5 = Settings.Md5;
    record.Signer = Settings.Signer;
    record.Ok = report.Ok;
    record.Code = session::StatusCode(report.Code);
    record.Message = report.Message;
    record.Seconds = report.Seconds;
    record.Frames = report.Frames;
    record.Resends = report.Resends;
    if (!Settings.Trace.empty()) record.Trace = Settings.Trace;
    Error_.clear();
    if (!Log.Append(record, Error_))
        Shown.Error("tolvane-flash: " + port + ": the record cannot be written: " + Error_);
    Shown.Result(port, report);
}

} // namespace flash
