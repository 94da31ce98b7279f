#pragma once
// The factory's database from the command line: the check of --db at start, records init and
// records push, and the forwarder's closing words.
#include "session/ExitStatus.h"
#include "station/Database.h"
#include "station/RecordForwarder.h"

#include <cstdio>
#include <memory>
#include <string>

namespace flash {

struct RecordsOptions {
    std::string Action; // init or push
    std::string Db;
    std::string Log;
    std::string Dbms; // init --print without a connection: the dialect named
    bool Print = false;
};

// "database: 3 pending: could not connect ..." (the reason only when there is one).
std::string DatabaseText(const station::ForwardStatus& status);

// Connects once at start: a string, driver or login that cannot work is a command-line error
// (exit 2, nothing else opened); a server that does not answer now is only a note, the records
// then wait in the log. Succeeded with the connection (connected or not) in db.
session::ExitStatus OpenAtStart(const std::string& connection,
                                std::unique_ptr<station::Database>& db, std::FILE* err);

// The graceful end: up to 10 s for what is pending, then how many still wait.
void FinishForwarding(station::RecordForwarder& forwarder, std::FILE* err);

session::ExitStatus RunRecordsInit(const RecordsOptions& options, std::FILE* out, std::FILE* err);
// A progress bar when err is a terminal.
session::ExitStatus RunRecordsPush(const RecordsOptions& options, std::FILE* out, std::FILE* err,
                                   bool terminal);

} // namespace flash
