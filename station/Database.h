#pragma once
// A connection to the factory's database: the few calls the unit records need. Over ODBC
// (unixODBC on Linux, the system's ODBC on Windows); only station/OdbcDatabase.cpp sees ODBC's
// headers. One thread at a time per connection.
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace station {

// The connection string as it may be shown anywhere: the password's value as ***.
std::string MaskedConnection(const std::string& connection);
// Whether the string is one a driver manager can read: KEY=VALUE pairs split by ';', braces
// closed, a DSN, FILEDSN or DRIVER named. False with the reason (which never quotes a value).
bool WellFormedConnection(const std::string& connection, std::string& why);
// The password's value in the string (PWD= or PASSWORD=), empty when none.
std::string ConnectionPassword(const std::string& connection);
// A driver's message with the password shown as ***: wherever it stands on its own (not inside
// a longer word), so that a short password does not garble the words around it.
std::string HidePassword(std::string message, const std::string& password);

struct DbError {
    std::string State;   // SQLSTATE ("IM002", "08001", ...); empty for a fault found here
    std::string Message; // the driver manager's or the driver's words, never the password
    // A fault of the string or of the installation (no such driver or DSN, a malformed string,
    // a refused login), which trying again does not mend.
    bool Setup() const;
    // The database refused a row whose key it already holds.
    bool Duplicate() const { return KeyTaken; }
    bool KeyTaken = false; // SQLSTATE 23..., or SQLite's constraint code, which comes as HY000
};

struct DbValue {
    enum class Kind { Null, Text, Integer, Real, Bool, Time };
    Kind Type = Kind::Null;
    std::string Text; // Text (UTF-8); Time in the records' form, "2026-12-09T10:00:00.123Z"
    long long Integer = 0;
    double Number = 0;

    static DbValue Of(std::string text, Kind kind = Kind::Text) {
        DbValue v;
        v.Type = kind;
        v.Text = std::move(text);
        return v;
    }
    static DbValue Maybe(const std::optional<std::string>& text) {
        return text ? Of(*text) : DbValue();
    }
    static DbValue Integral(long long value) {
        DbValue v;
        v.Type = Kind::Integer;
        v.Integer = value;
        return v;
    }
    static DbValue Decimal(double value) {
        DbValue v;
        v.Type = Kind::Real;
        v.Number = value;
        return v;
    }
    static DbValue Bool(bool value) {
        DbValue v;
        v.Type = Kind::Bool;
        v.Integer = value ? 1 : 0;
        return v;
    }
};

// A row's columns as text; nullopt for SQL NULL.
using DbRow = std::vector<std::optional<std::string>>;

class Database {
  public:
    Database();
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Connects, waiting at most timeoutSeconds for the server; false with the reason.
    bool Connect(const std::string& connection, int timeoutSeconds, DbError& error);
    void Disconnect();
    bool IsConnected() const;
    // The product's name as the driver gives it: "PostgreSQL", "SQLite", "MySQL" ...
    const std::string& DbmsName() const;

    bool SetAutoCommit(bool on, DbError& error);
    bool Commit(DbError& error);
    void Rollback();
    // One statement without values.
    bool Execute(const std::string& sql, DbError& error);
    // Prepares the statement that Run runs, again and again.
    bool Prepare(const std::string& sql, DbError& error);
    // Runs the prepared statement with the values bound; rows: how many rows it changed.
    bool Run(const std::vector<DbValue>& values, long long& rows, DbError& error);
    // A query with the values bound: every row, every column as text.
    bool Query(const std::string& sql, const std::vector<DbValue>& values, std::vector<DbRow>& rows,
               DbError& error);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace station
