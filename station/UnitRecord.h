#pragma once
// One unit through a station (or one port through the flasher): the record kept in the log as
// one JSON object per line.
#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace station {

// Unit records with a key (uuid) are schema 2; a record without one is written as schema 1, as
// records were before they had keys. The log's other lines stay schema 1.
inline constexpr int RecordSchema = 1;
inline constexpr int KeyedRecordSchema = 2;

struct UnitRecord {
    std::string Start, End; // UTC, ISO 8601 with milliseconds
    std::string Host, Slot, Port, Device;
    // Not known: a unit found in its loader, an identity not asked.
    std::optional<std::string> Id, VersionBefore, VersionAfter;
    std::string Package, Md5, Lot, Operator;
    bool Ok = false;
    int Code = 1;                // the flasher's exit status for this unit
    std::string Stage = "probe"; // probe, reset, handshake, transfer, verify, done
    std::string Message;
    double Seconds = 0;
    int Frames = 0, Resends = 0, Reconnects = 0;
    bool Repeat = false;              // a passing record with the same id and MD5 came earlier
    std::optional<std::string> Trace; // the unit's trace file
    // The fingerprint of the key that signed the package; unset (and not written) when no key
    // is trusted, so such a log stays as it was.
    std::optional<std::string> Signer;
    std::string Uuid;                 // the record's key; empty in a schema 1 record
};

// The field names in their order (the CSV header, the database's columns).
const std::vector<std::string>& RecordFieldNames();

// The fields in the order of RecordFieldNames (a schema 1 record has no uuid).
nlohmann::ordered_json RecordToJson(const UnitRecord& record);
// The record as one line of the log, without the line end. Bytes that are not UTF-8 become
// U+FFFD, so a device's odd reply never makes a record unwritable.
std::string RecordLine(const UnitRecord& record);

// A slot going out of service: a line of the log that is no unit's record.
struct OutOfServiceEvent {
    std::string Time, Host, Slot, Port;
    int Failures = 0;
    std::string Message;
};
std::string OutOfServiceLine(const OutOfServiceEvent& event);

enum class LineKind { Unit, SlotEvent, NotARecord };
// Reads one line of a log: a unit record (into record), another line this program writes (an
// out-of-service line), or something else (a torn line after a crash, a stranger's text).
LineKind ParseRecordLine(const std::string& line, UnitRecord& record, nlohmann::json* object);

} // namespace station
