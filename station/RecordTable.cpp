#include "station/RecordTable.h"

#include "station/Uuid.h"

#include <cctype>
#include <cstdio>

namespace station {

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// What each column holds, in the types each database calls them.
enum class Type { Key, Small, Time, Name, Text, Md5, Bool, Int, Real };

struct Column {
    const char* Name;
    Type Kind;
    bool Required;
};

// One column per record field, the key first.
const Column Columns[] = {
    {"uuid", Type::Key, true},
    {"schema", Type::Small, true},
    {"start", Type::Time, true},
    {"end", Type::Time, true},
    {"host", Type::Name, true},
    {"slot", Type::Name, true},
    {"port", Type::Text, true},
    {"device", Type::Text, true},
    {"id", Type::Name, false},
    {"version_before", Type::Text, false},
    {"version_after", Type::Text, false},
    {"package", Type::Text, true},
    {"md5", Type::Md5, true},
    {"lot", Type::Text, true},
    {"operator", Type::Text, true},
    {"ok", Type::Bool, true},
    {"code", Type::Int, true},
    {"stage", Type::Name, true},
    {"message", Type::Text, true},
    {"seconds", Type::Real, true},
    {"frames", Type::Int, true},
    {"resends", Type::Int, true},
    {"reconnects", Type::Int, true},
    {"repeat", Type::Bool, true},
    {"trace", Type::Text, false},
    {"signer", Type::Text, false},
};

const char* TypeName(SqlDialect d, Type t) {
    switch (d) {
    case SqlDialect::PostgreSql:
        switch (t) {
        case Type::Key:
            return "uuid";
        case Type::Small:
            return "smallint";
        case Type::Time:
            return "timestamp(3)";
        case Type::Name:
            return "varchar(255)";
        case Type::Text:
            return "text";
        case Type::Md5:
            return "char(32)";
        case Type::Bool:
            return "boolean";
        case Type::Int:
            return "integer";
        case Type::Real:
            return "double precision";
        }
        break;
    case SqlDialect::SqlServer:
        switch (t) {
        case Type::Key:
            return "uniqueidentifier";
        case Type::Small:
            return "smallint";
        case Type::Time:
            return "datetime2(3)";
        case Type::Name:
            return "nvarchar(255)";
        case Type::Text:
            return "nvarchar(max)";
        case Type::Md5:
            return "char(32)";
        case Type::Bool:
            return "bit";
        case Type::Int:
            return "int";
        case Type::Real:
            return "float";
        }
        break;
    case SqlDialect::MySql:
        switch (t) {
        case Type::Key:
            return "char(36)";
        case Type::Small:
            return "smallint";
        case Type::Time:
            return "datetime(3)";
        case Type::Name:
            return "varchar(255)";
        case Type::Text:
            return "text";
        case Type::Md5:
            return "char(32)";
        case Type::Bool:
            return "boolean";
        case Type::Int:
            return "int";
        case Type::Real:
            return "double";
        }
        break;
    case SqlDialect::Sqlite:
        switch (t) {
        case Type::Key:
        case Type::Time:
        case Type::Name:
        case Type::Text:
        case Type::Md5:
            return "text";
        case Type::Small:
        case Type::Bool:
        case Type::Int:
            return "integer";
        case Type::Real:
            return "real";
        }
        break;
    }
    return "text";
}

// Several column names are reserved words somewhere ("end", "repeat", "schema"): every name is
// quoted, as the database quotes names.
std::string Quoted(SqlDialect d, const std::string& name) {
    switch (d) {
    case SqlDialect::SqlServer:
        return "[" + name + "]";
    case SqlDialect::MySql:
        return "`" + name + "`";
    default:
        return "\"" + name + "\"";
    }
}

std::string ColumnList(SqlDialect d) {
    std::string list;
    for (const Column& c : Columns)
        list += (list.empty() ? "" : ", ") + Quoted(d, c.Name);
    return list;
}

std::string ColumnDefinitions(SqlDialect d) {
    std::string text;
    for (const Column& c : Columns) {
        text += "    " + Quoted(d, c.Name) + " " + TypeName(d, c.Kind);
        if (c.Kind == Type::Key)
            text += " PRIMARY KEY";
        else if (c.Required)
            text += " NOT NULL";
        text += ",\n";
    }
    return text;
}

// "2026-12-09 10:00:01.234" (or without the fraction) as the records write it.
std::string RecordTime(const std::optional<std::string>& text) {
    if (!text) return {};
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char fraction[16] = "";
    if (std::sscanf(text->c_str(), "%4d-%2d-%2d%*1[ T]%2d:%2d:%2d%15s", &y, &mo, &d, &h, &mi, &s,
                    fraction) < 6)
        return *text;
    int millis = 0;
    if (fraction[0] == '.') {
        std::string digits = std::string(fraction + 1).substr(0, 3);
        while (digits.size() < 3)
            digits += '0';
        millis = std::atoi(digits.c_str());
    }
    char out[40];
    std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", y, mo, d, h, mi, s,
                  millis);
    return out;
}

bool Truth(const std::optional<std::string>& text) {
    const std::string t = Lower(text.value_or(""));
    return t == "1" || t == "t" || t == "true" || t == "yes";
}

long long Integer(const std::optional<std::string>& text) {
    return text ? std::atoll(text->c_str()) : 0;
}

} // namespace

std::optional<SqlDialect> DialectOfDbms(const std::string& dbmsName) {
    const std::string name = Lower(dbmsName);
    if (name.find("postgres") != std::string::npos) return SqlDialect::PostgreSql;
    if (name.find("sql server") != std::string::npos) return SqlDialect::SqlServer;
    if (name.find("mysql") != std::string::npos || name.find("mariadb") != std::string::npos)
        return SqlDialect::MySql;
    if (name.find("sqlite") != std::string::npos) return SqlDialect::Sqlite;
    return std::nullopt;
}

std::optional<SqlDialect> DialectOfName(const std::string& name) {
    const std::string n = Lower(name);
    if (n == "postgresql" || n == "postgres") return SqlDialect::PostgreSql;
    if (n == "sqlserver" || n == "mssql") return SqlDialect::SqlServer;
    if (n == "mysql" || n == "mariadb") return SqlDialect::MySql;
    if (n == "sqlite") return SqlDialect::Sqlite;
    return std::nullopt;
}

std::vector<std::string> CreateTableStatements(SqlDialect d) {
    const std::string table = Quoted(d, RecordTableName);
    const std::string columns = ColumnDefinitions(d);
    const std::string idIndex = Quoted(d, std::string(RecordTableName) + "_id");
    const std::string startIndex = Quoted(d, std::string(RecordTableName) + "_start");
    switch (d) {
    case SqlDialect::PostgreSql:
    case SqlDialect::Sqlite:
        return {"CREATE TABLE IF NOT EXISTS " + table + " (\n" +
                    columns.substr(0, columns.size() - 2) + "\n)",
                "CREATE INDEX IF NOT EXISTS " + idIndex + " ON " + table + " (" + Quoted(d, "id") +
                    ")",
                "CREATE INDEX IF NOT EXISTS " + startIndex + " ON " + table + " (" +
                    Quoted(d, "start") + ")"};
    case SqlDialect::SqlServer:
        // No IF NOT EXISTS for tables there; the indexes go inside the one statement.
        return {"IF OBJECT_ID(N'" + std::string(RecordTableName) +
                "', N'U') IS NULL\nCREATE TABLE " + table + " (\n" + columns + "    INDEX " +
                idIndex + " (" + Quoted(d, "id") + "),\n    INDEX " + startIndex + " (" +
                Quoted(d, "start") + ")\n)"};
    case SqlDialect::MySql:
        // utf8mb4: the records' texts hold any character (Chinese included).
        return {"CREATE TABLE IF NOT EXISTS " + table + " (\n" + columns + "    INDEX " + idIndex +
                " (" + Quoted(d, "id") + "),\n    INDEX " + startIndex + " (" + Quoted(d, "start") +
                ")\n) CHARACTER SET utf8mb4"};
    }
    return {};
}

std::string InsertStatement(SqlDialect d) {
    std::string marks;
    for (size_t i = 0; i < std::size(Columns); ++i)
        marks += i ? ", ?" : "?";
    return "INSERT INTO " + Quoted(d, RecordTableName) + " (" + ColumnList(d) + ") VALUES (" +
           marks + ")";
}

std::vector<DbValue> InsertValues(const UnitRecord& r, const std::string& line) {
    const double seconds = double(static_cast<long long>(r.Seconds * 1000 + 0.5)) / 1000;
    return {DbValue::Of(StoredKey(r, line)),
            DbValue::Integral(r.Uuid.empty() ? RecordSchema : KeyedRecordSchema),
            DbValue::Of(r.Start, DbValue::Kind::Time),
            DbValue::Of(r.End, DbValue::Kind::Time),
            DbValue::Of(r.Host),
            DbValue::Of(r.Slot),
            DbValue::Of(r.Port),
            DbValue::Of(r.Device),
            DbValue::Maybe(r.Id),
            DbValue::Maybe(r.VersionBefore),
            DbValue::Maybe(r.VersionAfter),
            DbValue::Of(r.Package),
            DbValue::Of(r.Md5),
            DbValue::Of(r.Lot),
            DbValue::Of(r.Operator),
            DbValue::Bool(r.Ok),
            DbValue::Integral(r.Code),
            DbValue::Of(r.Stage),
            DbValue::Of(r.Message),
            DbValue::Decimal(seconds),
            DbValue::Integral(r.Frames),
            DbValue::Integral(r.Resends),
            DbValue::Integral(r.Reconnects),
            DbValue::Bool(r.Repeat),
            DbValue::Maybe(r.Trace),
            DbValue::Maybe(r.Signer)};
}

std::string SelectStatement(SqlDialect d, const HistoryFilter& filter,
                            std::vector<DbValue>& values) {
    values.clear();
    std::string where;
    const auto add = [&](const char* column, const char* op, DbValue value) {
        where += (where.empty() ? " WHERE " : " AND ") + Quoted(d, column) + " " + op + " ?";
        values.push_back(std::move(value));
    };
    if (!filter.Id.empty()) add("id", "=", DbValue::Of(filter.Id));
    if (!filter.Slot.empty()) add("slot", "=", DbValue::Of(filter.Slot));
    if (!filter.Host.empty()) add("host", "=", DbValue::Of(filter.Host));
    if (!filter.Since.empty()) add("start", ">=", DbValue::Of(filter.Since, DbValue::Kind::Time));
    if (filter.FailedOnly) add("ok", "=", DbValue::Bool(false));
    return "SELECT " + ColumnList(d) + " FROM " + Quoted(d, RecordTableName) + where +
           " ORDER BY " + Quoted(d, "start") + ", " + Quoted(d, "uuid");
}

std::string PassedStatement(SqlDialect d) {
    const std::string condition = " WHERE " + Quoted(d, "id") + " = ? AND " + Quoted(d, "md5") +
                                  " = ? AND " + Quoted(d, "ok") + " = ?";
    if (d == SqlDialect::SqlServer)
        return "SELECT TOP 1 1 FROM " + Quoted(d, RecordTableName) + condition;
    return "SELECT 1 FROM " + Quoted(d, RecordTableName) + condition + " LIMIT 1";
}

UnitRecord RecordOfRow(const DbRow& row) {
    const auto at = [&row](size_t i) { return i < row.size() ? row[i] : std::nullopt; };
    const auto text = [&](size_t i) { return at(i).value_or(""); };
    UnitRecord r;
    r.Uuid = Lower(text(0));
    r.Start = RecordTime(at(2));
    r.End = RecordTime(at(3));
    r.Host = text(4);
    r.Slot = text(5);
    r.Port = text(6);
    r.Device = text(7);
    r.Id = at(8);
    r.VersionBefore = at(9);
    r.VersionAfter = at(10);
    r.Package = text(11);
    r.Md5 = text(12);
    r.Lot = text(13);
    r.Operator = text(14);
    r.Ok = Truth(at(15));
    r.Code = int(Integer(at(16)));
    r.Stage = text(17);
    r.Message = text(18);
    r.Seconds = at(19) ? std::atof(at(19)->c_str()) : 0;
    r.Frames = int(Integer(at(20)));
    r.Resends = int(Integer(at(21)));
    r.Reconnects = int(Integer(at(22)));
    r.Repeat = Truth(at(23));
    r.Trace = at(24);
    r.Signer = at(25);
    return r;
}

std::string StoredKey(const UnitRecord& record, const std::string& line) {
    return record.Uuid.empty() ? NameUuid(line) : record.Uuid;
}

} // namespace station
