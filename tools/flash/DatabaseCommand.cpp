#include "tools/flash/DatabaseCommand.h"

#include "station/RecordTable.h"
#include "tools/flash/TextFormat.h"

namespace flash {

namespace {

using session::ExitStatus;

// How long a start or a command waits for the server's login.
constexpr int LoginSeconds = 10;

ExitStatus Connect(const std::string& connection, station::Database& db, std::FILE* err) {
    station::DbError error;
    if (db.Connect(connection, LoginSeconds, error)) return ExitStatus::Succeeded;
    std::fprintf(err, "tolvane-flash: --db %s: %s\n", station::MaskedConnection(connection).c_str(),
                 error.Message.c_str());
    return error.Setup() ? ExitStatus::BadCommandLine : ExitStatus::UpgradeFailed;
}

} // namespace

std::string DatabaseText(const station::ForwardStatus& status) {
    return "database: " + std::to_string(status.Pending) + " pending" +
           (status.Reason.empty() ? std::string() : ": " + status.Reason);
}

ExitStatus OpenAtStart(const std::string& connection, std::unique_ptr<station::Database>& db,
                       std::FILE* err) {
    db = std::make_unique<station::Database>();
    station::DbError error;
    if (db->Connect(connection, LoginSeconds, error)) {
        if (station::DialectOfDbms(db->DbmsName())) return ExitStatus::Succeeded;
        std::fprintf(err, "tolvane-flash: --db %s: the database %s is not one this program knows\n",
                     station::MaskedConnection(connection).c_str(), db->DbmsName().c_str());
        return ExitStatus::BadCommandLine;
    }
    std::fprintf(err, "tolvane-flash: --db %s: %s\n", station::MaskedConnection(connection).c_str(),
                 error.Message.c_str());
    if (error.Setup()) return ExitStatus::BadCommandLine;
    std::fprintf(err, "tolvane-flash: the records wait in the log until the database answers\n");
    return ExitStatus::Succeeded;
}

void FinishForwarding(station::RecordForwarder& forwarder, std::FILE* err) {
    const station::ForwardStatus status = forwarder.Stop(std::chrono::seconds(10));
    if (status.Pending == 0) return;
    std::fprintf(err,
                 "tolvane-flash: database: %lld pending%s%s (they go at the next start, or with "
                 "\"tolvane-flash records push\")\n",
                 status.Pending, status.Reason.empty() ? "" : ": ", status.Reason.c_str());
}

ExitStatus RunRecordsInit(const RecordsOptions& options, std::FILE* out, std::FILE* err) {
    std::optional<station::SqlDialect> dialect;
    station::Database db;
    if (!options.Dbms.empty()) {
        dialect = station::DialectOfName(options.Dbms);
    } else {
        const ExitStatus connected = Connect(options.Db, db, err);
        if (connected != ExitStatus::Succeeded) return connected;
        dialect = station::DialectOfDbms(db.DbmsName());
        if (!dialect) {
            std::fprintf(err,
                         "tolvane-flash: the database %s is not one this program knows "
                         "(PostgreSQL, SQL Server, MySQL, MariaDB, SQLite)\n",
                         db.DbmsName().c_str());
            return ExitStatus::UpgradeFailed;
        }
    }
    const std::vector<std::string> statements = station::CreateTableStatements(*dialect);
    if (options.Print) {
        for (const std::string& statement : statements)
            std::fprintf(out, "%s;\n", statement.c_str());
        return ExitStatus::Succeeded;
    }
    for (const std::string& statement : statements) {
        station::DbError error;
        if (!db.Execute(statement, error)) {
            std::fprintf(err, "tolvane-flash: the table %s cannot be made: %s\n",
                         station::RecordTableName, error.Message.c_str());
            return ExitStatus::UpgradeFailed;
        }
    }
    std::fprintf(out, "the table %s is ready in %s\n", station::RecordTableName,
                 db.DbmsName().c_str());
    return ExitStatus::Succeeded;
}

ExitStatus RunRecordsPush(const RecordsOptions& options, std::FILE* out, std::FILE* err,
                          bool terminal) {
    station::Database db;
    const ExitStatus connected = Connect(options.Db, db, err);
    if (connected != ExitStatus::Succeeded) return connected;
    station::ForwardStatus status;
    std::string error;
    int shown = -1;
    const bool ok =
        station::PushLog(db, options.Log, status, error, [&](long long done, long long total) {
            if (!terminal) return;
            const int percent = total ? int(done * 100 / total) : 100;
            if (percent == shown) return;
            shown = percent;
            std::fprintf(err, "\r%s %3d%%  %lld of %lld", Bar(percent, 30).c_str(), percent, done,
                         total);
            std::fflush(err);
        });
    if (shown >= 0) std::fprintf(err, "\n");
    std::fprintf(out, "%lld sent, %lld already there, %lld pending\n", status.Sent,
                 status.AlreadyThere, status.Pending);
    if (ok) return ExitStatus::Succeeded;
    std::fprintf(err, "tolvane-flash: %s: %s\n", options.Log.c_str(), error.c_str());
    return ExitStatus::UpgradeFailed;
}

} // namespace flash
