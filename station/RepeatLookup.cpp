#include "station/RepeatLookup.h"

#include "station/RecordTable.h"

namespace station {

namespace {
// A quick question: a server that does not answer within this long is taken as away.
constexpr int LookupTimeoutSeconds = 2;
// After a failure the database is not asked again for this long (a connection attempt to a
// server that is away would cost every record its time-out).
constexpr auto QuietAfterFailure = std::chrono::seconds(30);
} // namespace

bool RepeatLookup::PassedElsewhere(const std::string& id, const std::string& md5) {
    std::lock_guard<std::mutex> guard(Lock);
    const auto now = std::chrono::steady_clock::now();
    if (now < QuietUntil) return false;
    DbError error;
    std::vector<DbRow> rows;
    if (!Db.IsConnected() && !Db.Connect(Connection, LookupTimeoutSeconds, error)) {
        QuietUntil = now + QuietAfterFailure;
        return false;
    }
    const std::optional<SqlDialect> dialect = DialectOfDbms(Db.DbmsName());
    if (!dialect ||
        !Db.Query(PassedStatement(*dialect),
                  {DbValue::Of(id), DbValue::Of(md5), DbValue::Bool(true)}, rows, error)) {
        Db.Disconnect();
        QuietUntil = now + QuietAfterFailure;
        return false;
    }
    return !rows.empty();
}

} // namespace station
