#include "tools/flash/HistoryCommand.h"

#include "station/RecordTable.h"
#include "tools/flash/TextFormat.h"

#include <fstream>

namespace flash {

namespace {

std::string TableRow(const station::UnitRecord& r) {
    std::string time = r.Start.substr(0, 19);
    if (time.size() > 10) time[10] = ' ';
    std::string versions = r.VersionBefore.value_or("-") + " -> " + r.VersionAfter.value_or("-");
    std::string result = r.Ok ? (r.Repeat ? "passed (repeat)" : "passed")
                              : "FAILED at " + r.Stage + ": " + r.Message;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%7.1f", r.Seconds);
    return PadColumns(time + "Z", 21) + PadColumns(r.Slot, 10) +
           PadColumns(r.Id && !r.Id->empty() ? *r.Id : "-", 18) + PadColumns(versions, 30) +
           seconds + "  " + result;
}

// The records of every station from the database, oldest first; false with the reason told.
bool ReadDatabase(const HistoryOptions& options, station::HistoryRead& read, std::FILE* err,
                  session::ExitStatus& status) {
    station::Database db;
    station::DbError error;
    const std::string shown = station::MaskedConnection(options.Db);
    if (!db.Connect(options.Db, 10, error)) {
        std::fprintf(err, "tolvane-flash: --db %s: %s\n", shown.c_str(), error.Message.c_str());
        status = error.Setup() ? session::ExitStatus::BadCommandLine
                               : session::ExitStatus::UpgradeFailed;
        return false;
    }
    const std::optional<station::SqlDialect> dialect = station::DialectOfDbms(db.DbmsName());
    std::vector<station::DbValue> values;
    std::vector<station::DbRow> rows;
    if (!dialect || !db.Query(station::SelectStatement(*dialect, options.Filter, values), values,
                              rows, error)) {
        std::fprintf(err, "tolvane-flash: --db %s: %s\n", shown.c_str(),
                     dialect ? error.Message.c_str() : "a database this program does not know");
        status = session::ExitStatus::UpgradeFailed;
        return false;
    }
    int number = 0;
    for (const station::DbRow& row : rows) {
        station::HistoryEntry entry;
        entry.LineNumber = ++number;
        entry.Record = station::RecordOfRow(row);
        entry.Line = station::RecordLine(entry.Record);
        read.Counts.Add(entry.Record.Id.value_or(""), entry.Record.Ok);
        read.Entries.push_back(std::move(entry));
    }
    return true;
}

} // namespace

session::ExitStatus RunHistory(const HistoryOptions& options, std::FILE* out, std::FILE* err) {
    station::HistoryRead read;
    if (!options.Db.empty()) {
        session::ExitStatus status = session::ExitStatus::Succeeded;
        if (!ReadDatabase(options, read, err, status)) return status;
    } else {
        std::ifstream log(options.Log, std::ios::binary);
        if (!log) {
            std::fprintf(err, "tolvane-flash: cannot read the log %s\n", options.Log.c_str());
            return session::ExitStatus::UpgradeFailed;
        }
        read = station::ReadHistory(log, options.Filter);
    }
    for (int line : read.SkippedLines)
        std::fprintf(err, "tolvane-flash: %s: line %d is not a record, skipped\n",
                     options.Log.c_str(), line);

    if (options.Form == HistoryForm::Csv) {
        std::fputs(station::CsvHeader().c_str(), out);
        for (const station::HistoryEntry& entry : read.Entries)
            if (entry.Kind == station::LineKind::Unit)
                std::fputs(station::CsvRecord(entry.Record).c_str(), out);
        return session::ExitStatus::Succeeded;
    }
    if (options.Form == HistoryForm::Json) {
        for (const station::HistoryEntry& entry : read.Entries)
            std::fprintf(out, "%s\n", entry.Line.c_str());
        return session::ExitStatus::Succeeded;
    }
    std::fprintf(out, "%s%s\n",
                 (PadColumns("time (UTC)", 21) + PadColumns("slot", 10) +
                  PadColumns("identity", 18) + PadColumns("version before -> after", 30))
                     .c_str(),
                 "seconds  result");
    for (const station::HistoryEntry& entry : read.Entries) {
        if (entry.Kind == station::LineKind::Unit) {
            std::fprintf(out, "%s\n", TableRow(entry.Record).c_str());
            continue;
        }
        const auto text = [&](const char* key) {
            const auto it = entry.Other.find(key);
            return it != entry.Other.end() && it->is_string() ? it->get<std::string>()
                                                              : std::string();
        };
        std::string time = text("time").substr(0, 19);
        if (time.size() > 10) time[10] = ' ';
        std::fprintf(out, "%s%s%s\n", PadColumns(time + "Z", 21).c_str(),
                     PadColumns(text("slot"), 10).c_str(),
                     ("OUT OF SERVICE: " + text("message")).c_str());
    }
    const station::YieldCount& c = read.Counts;
    char yield[32] = "-";
    if (c.DistinctUnits()) std::snprintf(yield, sizeof yield, "%.1f %%", c.FirstPassYield() * 100);
    std::fprintf(out, "%d units, %d passed, %d failed, first-pass yield %s\n", c.Units(), c.Passed,
                 c.Failed, yield);
    return session::ExitStatus::Succeeded;
}

} // namespace flash
