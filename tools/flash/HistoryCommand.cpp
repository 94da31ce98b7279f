#include "tools/flash/HistoryCommand.h"

#include <fstream>

namespace flash {

namespace {

// Pads to a width counted in characters (UTF-8), for the table's columns.
std::string Pad(const std::string& text, size_t width) {
    size_t chars = 0;
    for (unsigned char c : text)
        chars += (c & 0xC0) != 0x80;
    return chars >= width ? text + " " : text + std::string(width - chars, ' ');
}

std::string TableRow(const station::UnitRecord& r) {
    std::string time = r.Start.substr(0, 19);
    if (time.size() > 10) time[10] = ' ';
    std::string versions = r.VersionBefore.value_or("-") + " -> " + r.VersionAfter.value_or("-");
    std::string result = r.Ok ? (r.Repeat ? "passed (repeat)" : "passed")
                              : "FAILED at " + r.Stage + ": " + r.Message;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%7.1f", r.Seconds);
    return Pad(time + "Z", 21) + Pad(r.Slot, 10) + Pad(r.Id && !r.Id->empty() ? *r.Id : "-", 18) +
           Pad(versions, 30) + seconds + "  " + result;
}

} // namespace

session::ExitStatus RunHistory(const HistoryOptions& options, std::FILE* out, std::FILE* err) {
    std::ifstream log(options.Log, std::ios::binary);
    if (!log) {
        std::fprintf(err, "tolvane-flash: cannot read the log %s\n", options.Log.c_str());
        return session::ExitStatus::UpgradeFailed;
    }
    const station::HistoryRead read = station::ReadHistory(log, options.Filter);
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
                 (Pad("time (UTC)", 21) + Pad("slot", 10) + Pad("identity", 18) +
                  Pad("version before -> after", 30))
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
        std::fprintf(out, "%s%s%s\n", Pad(time + "Z", 21).c_str(), Pad(text("slot"), 10).c_str(),
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
