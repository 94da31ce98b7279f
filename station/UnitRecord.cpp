#include "station/UnitRecord.h"

namespace station {

namespace {

using nlohmann::json;

nlohmann::ordered_json Optional(const std::optional<std::string>& text) {
    return text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr);
}

bool ReadText(const json& object, const char* key, std::string& out) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return false;
    out = it->get<std::string>();
    return true;
}

bool ReadOptional(const json& object, const char* key, std::optional<std::string>& out) {
    const auto it = object.find(key);
    if (it == object.end()) return false;
    if (it->is_null()) {
        out.reset();
        return true;
    }
    if (!it->is_string()) return false;
    out = it->get<std::string>();
    return true;
}

template <typename T> bool ReadNumber(const json& object, const char* key, T& out) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number()) return false;
    out = it->get<T>();
    return true;
}

bool ReadBool(const json& object, const char* key, bool& out) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_boolean()) return false;
    out = it->get<bool>();
    return true;
}

// Every line of the log is written here: one object, no line end, odd bytes as U+FFFD.
template <typename Json> std::string LogText(const Json& object) {
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace

const std::vector<std::string>& RecordFieldNames() {
    static const std::vector<std::string> names = {
        "schema",     "start",          "end",           "host",    "slot",    "port",   "device",
        "id",         "version_before", "version_after", "package", "md5",     "lot",    "operator",
        "ok",         "code",           "stage",         "message", "seconds", "frames", "resends",
        "reconnects", "repeat",         "trace",         "uuid"};
    return names;
}

nlohmann::ordered_json RecordToJson(const UnitRecord& r) {
    // Whole milliseconds are enough and keep the lines short.
    const double seconds = double(static_cast<long long>(r.Seconds * 1000 + 0.5)) / 1000;
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["schema"] = r.Uuid.empty() ? RecordSchema : KeyedRecordSchema;
    object["start"] = r.Start;
    object["end"] = r.End;
    object["host"] = r.Host;
    object["slot"] = r.Slot;
    object["port"] = r.Port;
    object["device"] = r.Device;
    object["id"] = Optional(r.Id);
    object["version_before"] = Optional(r.VersionBefore);
    object["version_after"] = Optional(r.VersionAfter);
    object["package"] = r.Package;
    object["md5"] = r.Md5;
    object["lot"] = r.Lot;
    object["operator"] = r.Operator;
    object["ok"] = r.Ok;
    object["code"] = r.Code;
    object["stage"] = r.Stage;
    object["message"] = r.Message;
    object["seconds"] = seconds;
    object["frames"] = r.Frames;
    object["resends"] = r.Resends;
    object["reconnects"] = r.Reconnects;
    object["repeat"] = r.Repeat;
    object["trace"] = Optional(r.Trace);
    if (r.Signer) object["signer"] = *r.Signer;
    if (!r.Uuid.empty()) object["uuid"] = r.Uuid;
    return object;
}

std::string RecordLine(const UnitRecord& record) {
    return LogText(RecordToJson(record));
}

std::string OutOfServiceLine(const OutOfServiceEvent& e) {
    // Its keys stay in name order, as such lines always were.
    const json object = {{"schema", RecordSchema}, {"event", "out-of-service"},
                         {"time", e.Time},         {"host", e.Host},
                         {"slot", e.Slot},         {"port", e.Port},
                         {"failures", e.Failures}, {"message", e.Message}};
    return LogText(object);
}

LineKind ParseRecordLine(const std::string& line, UnitRecord& r, json* out) {
    const json object = json::parse(line, nullptr, false);
    if (!object.is_object()) return LineKind::NotARecord;
    int schema = 0;
    if (!ReadNumber(object, "schema", schema) ||
        (schema != RecordSchema && schema != KeyedRecordSchema))
        return LineKind::NotARecord;
    if (out) *out = object;
    if (object.contains("event")) return LineKind::SlotEvent;
    r = UnitRecord{};
    const bool whole =
        ReadText(object, "start", r.Start) && ReadText(object, "end", r.End) &&
        ReadText(object, "host", r.Host) && ReadText(object, "slot", r.Slot) &&
        ReadText(object, "port", r.Port) && ReadText(object, "device", r.Device) &&
        ReadOptional(object, "id", r.Id) &&
        ReadOptional(object, "version_before", r.VersionBefore) &&
        ReadOptional(object, "version_after", r.VersionAfter) &&
        ReadText(object, "package", r.Package) && ReadText(object, "md5", r.Md5) &&
        ReadText(object, "lot", r.Lot) && ReadText(object, "operator", r.Operator) &&
        ReadBool(object, "ok", r.Ok) && ReadNumber(object, "code", r.Code) &&
        ReadText(object, "stage", r.Stage) && ReadText(object, "message", r.Message) &&
        ReadNumber(object, "seconds", r.Seconds) && ReadNumber(object, "frames", r.Frames) &&
        ReadNumber(object, "resends", r.Resends) &&
        ReadNumber(object, "reconnects", r.Reconnects) && ReadBool(object, "repeat", r.Repeat) &&
        ReadOptional(object, "trace", r.Trace) &&
        (schema == RecordSchema || (ReadText(object, "uuid", r.Uuid) && !r.Uuid.empty())) &&
        (!object.contains("signer") || ReadOptional(object, "signer", r.Signer));
    return whole ? LineKind::Unit : LineKind::NotARecord;
}

} // namespace station
