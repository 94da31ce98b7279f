#pragma once
// Reading a log of unit records back: filters, the closing counts and the CSV form.
#include "station/UnitRecord.h"
#include "station/Yield.h"

#include <istream>
#include <string>
#include <vector>

namespace station {

struct HistoryFilter {
    std::string Id;    // empty: any
    std::string Slot;  // empty: any
    std::string Since; // IsoUtc form, empty: any; records that started at or after it
    bool FailedOnly = false;
    std::string Host = {}; // empty: any
};

struct HistoryEntry {
    int LineNumber = 0;
    std::string Line; // as it stands in the log
    LineKind Kind = LineKind::Unit;
    UnitRecord Record;    // for a unit record
    nlohmann::json Other; // for another line of this program (out of service)
};

struct HistoryRead {
    std::vector<HistoryEntry> Entries; // the lines that pass the filter, in log order
    std::vector<int> SkippedLines;     // line numbers of lines that are no record
    YieldCount Counts;                 // over the unit records that pass the filter
};

bool Matches(const HistoryFilter& filter, const UnitRecord& record);
HistoryRead ReadHistory(std::istream& log, const HistoryFilter& filter);

// The CSV header (the record's field names) and one row per record, RFC 4180.
std::string CsvHeader();
std::string CsvRecord(const UnitRecord& record);

} // namespace station
