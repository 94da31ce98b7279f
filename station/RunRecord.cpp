#include "station/RunRecord.h"

namespace station {

UnitRecord RecordOfRun(const UnitContext& unit, const RunReport& report, const std::string& stage,
                       int reconnects) {
    UnitRecord record;
    record.Start = IsoUtc(unit.Started);
    record.End = IsoUtc(std::chrono::system_clock::now());
    record.Host = unit.Host;
    record.Slot = unit.Slot;
    record.Port = unit.Port;
    record.Device = unit.Device;
    record.Id = unit.Id;
    record.VersionBefore = unit.VersionBefore;
    record.Package = unit.Package;
    record.Md5 = unit.Md5;
    record.Lot = unit.Lot;
    record.Operator = unit.Operator;
    record.Trace = unit.Trace;
    record.Ok = report.Ok;
    record.Code = StatusCode(report.Code);
    record.Message = report.Message;
    record.Stage = stage;
    record.Seconds = report.Seconds;
    record.Frames = report.Frames;
    record.Resends = report.Resends;
    record.Reconnects = reconnects;
    return record;
}

} // namespace station
