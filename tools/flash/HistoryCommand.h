#pragma once
// tolvane-flash history: a log of unit records as a table, JSON Lines or CSV.
#include "session/ExitStatus.h"
#include "station/History.h"

#include <cstdio>
#include <string>

namespace flash {

enum class HistoryForm { Table, Json, Csv };

struct HistoryOptions {
    std::string Log;
    std::string Db; // read the database instead of the log
    station::HistoryFilter Filter;
    HistoryForm Form = HistoryForm::Table;
};

// The records on out, warnings on err; the exit status.
session::ExitStatus RunHistory(const HistoryOptions& options, std::FILE* out, std::FILE* err);

} // namespace flash
