#pragma once
// The table of unit records in the factory's database: its CREATE statements for each kind of
// database, the insert of one record and the reading of a row back. Every value is bound; the
// only text put into SQL is this file's own (names and types).
#include "station/Database.h"
#include "station/History.h"
#include "station/UnitRecord.h"

#include <optional>
#include <string>
#include <vector>

namespace station {

inline constexpr const char* RecordTableName = "tolvane_units";

enum class SqlDialect { PostgreSql, SqlServer, MySql, Sqlite };

// The dialect of the product the driver names ("PostgreSQL", "Microsoft SQL Server", "MySQL",
// "MariaDB", "SQLite"); nullopt for any other.
std::optional<SqlDialect> DialectOfDbms(const std::string& dbmsName);
// The dialect of a name as a user writes it: postgresql, sqlserver, mysql, mariadb, sqlite.
std::optional<SqlDialect> DialectOfName(const std::string& name);

// The statements that create the table and its indexes where they do not exist yet, one per
// element, each without a closing ';'.
std::vector<std::string> CreateTableStatements(SqlDialect dialect);

// The insert of one record, its values in the order of the placeholders.
std::string InsertStatement(SqlDialect dialect);
// The record as its line stands in the log (a schema 1 record's key is made from its line).
std::vector<DbValue> InsertValues(const UnitRecord& record, const std::string& line);

// A query of the records that pass the filter (every value bound), oldest first, with the
// columns RecordOfRow reads.
std::string SelectStatement(SqlDialect dialect, const HistoryFilter& filter,
                            std::vector<DbValue>& values);
// Whether a passing record of the identity and MD5 exists: a query with two bound values.
std::string PassedStatement(SqlDialect dialect);
UnitRecord RecordOfRow(const DbRow& row);

// The key a record is stored under: its uuid, or for a schema 1 record one made from its line.
std::string StoredKey(const UnitRecord& record, const std::string& line);

} // namespace station
