#include "station/RunRecord.h"

#include "station/Uuid.h"

#include <filesystem>

namespace station {

namespace {

// The device node itself: a link such as /dev/serial/by-path/... names the socket, not the adapter
// that served the unit. A name that does not resolve (\\.\COM3) stays as it is.
std::string DeviceNode(const std::string& device) {
    if (device.empty()) return device;
    std::error_code error;
    const std::filesystem::path node = std::filesystem::canonical(device, error);
    return error ? device : node.string();
}

} // namespace

UnitRecord RecordOfRun(const UnitContext& unit, const session::RunReport& report, const std::string& stage,
                       int reconnects) {
    UnitRecord record;
    record.Uuid = RandomUuid();
    record.Start = IsoUtc(unit.Started);
    record.End = IsoUtc(std::chrono::system_clock::now());
    record.Host = unit.Host;
    record.Slot = unit.Slot;
    record.Port = unit.Port;
    record.Device = DeviceNode(unit.Device);
    record.Id = unit.Id;
    record.VersionBefore = unit.VersionBefore;
    record.Package = unit.Package;
    record.Md5 = unit.Md5;
    record.Lot = unit.Lot;
    record.Operator = unit.Operator;
    record.Signer = unit.Signer;
    record.Trace = unit.Trace;
    record.Ok = report.Ok;
    record.Code = session::StatusCode(report.Code);
    record.Message = report.Message;
    record.Stage = stage;
    record.Seconds = report.Seconds;
    record.Frames = report.Frames;
    record.Resends = report.Resends;
    record.Reconnects = reconnects;
    return record;
}

} // namespace station
