#include "station/History.h"

#include "station/CsvText.h"

namespace station {

namespace {
std::string TextOf(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}
} // namespace

bool Matches(const HistoryFilter& filter, const UnitRecord& record) {
    if (!filter.Id.empty() && (!record.Id || *record.Id != filter.Id)) return false;
    if (!filter.Slot.empty() && record.Slot != filter.Slot) return false;
    if (!filter.Host.empty() && record.Host != filter.Host) return false;
    if (!filter.Since.empty() && record.Start < filter.Since) return false;
    return !filter.FailedOnly || !record.Ok;
}

HistoryRead ReadHistory(std::istream& log, const HistoryFilter& filter) {
    HistoryRead read;
    std::string line;
    for (int number = 1; std::getline(log, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        HistoryEntry entry;
        entry.LineNumber = number;
        entry.Kind = ParseRecordLine(line, entry.Record, &entry.Other);
        if (entry.Kind == LineKind::NotARecord) {
            read.SkippedLines.push_back(number);
            continue;
        }
        if (entry.Kind == LineKind::Unit) {
            if (!Matches(filter, entry.Record)) continue;
            read.Counts.Add(entry.Record.Id.value_or(""), entry.Record.Ok);
        } else {
            // Slot events belong to a slot and a time, not to a unit.
            const std::string slot = TextOf(entry.Other, "slot");
            const std::string time = TextOf(entry.Other, "time");
            if (!filter.Id.empty() || filter.FailedOnly) continue;
            if (!filter.Slot.empty() && slot != filter.Slot) continue;
            if (!filter.Since.empty() && time < filter.Since) continue;
        }
        entry.Line = std::move(line);
        read.Entries.push_back(std::move(entry));
    }
    return read;
}

std::string CsvHeader() {
    return CsvRow(RecordFieldNames());
}

std::string CsvRecord(const UnitRecord& record) {
    const nlohmann::ordered_json object = RecordToJson(record);
    std::vector<std::string> fields;
    for (const std::string& name : RecordFieldNames()) {
        const auto it = object.find(name);
        if (it == object.end() || it->is_null())
            fields.emplace_back();
        else if (it->is_string())
            fields.push_back(it->get<std::string>());
        else
            fields.push_back(it->dump());
    }
    return CsvRow(fields);
}

} // namespace station
