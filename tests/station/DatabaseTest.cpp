// The database connection through the driver manager, against SQLite's ODBC driver: values of
// every kind bound and read back (Chinese text and times included), a duplicate key told apart,
// and the faults of the string or the installation named without the password.
#include "station/Database.h"
#include "tests/package/TempDir.h"
#include "tests/support/PostgresServer.h"

#include <gtest/gtest.h>

namespace station {
namespace {

std::string SqliteConnection(const TempDir& dir) {
    return "Driver=SQLite3;Database=" + dir.File("units.db");
}

TEST(Database, ValuesOfEveryKindGoInAndComeBack) {
    TempDir dir;
    Database db;
    DbError error;
    ASSERT_TRUE(db.Connect(SqliteConnection(dir), 5, error)) << error.Message;
    EXPECT_EQ(db.DbmsName(), "SQLite");
    ASSERT_TRUE(db.Execute("CREATE TABLE t (k TEXT PRIMARY KEY, m TEXT, n INTEGER, r REAL, "
                           "b INTEGER, s TEXT, o TEXT)",
                           error))
        << error.Message;
    ASSERT_TRUE(db.Prepare("INSERT INTO t VALUES (?, ?, ?, ?, ?, ?, ?)", error)) << error.Message;
    const std::string message = "升级成功 \"quoted\" 'x' 𝄞";
    long long rows = 0;
    ASSERT_TRUE(db.Run({DbValue::Of("a"), DbValue::Of(message), DbValue::Integral(17),
                        DbValue::Decimal(12.346), DbValue::Bool(true),
                        DbValue::Of("2026-12-09T10:00:01.234Z", DbValue::Kind::Time), DbValue()},
                       rows, error))
        << error.Message;
    EXPECT_EQ(rows, 1);
    // The same key again: the database refuses it, and says it is a duplicate.
    EXPECT_FALSE(db.Run({DbValue::Of("a"), DbValue(), DbValue::Integral(1), DbValue::Decimal(0),
                         DbValue::Bool(false), DbValue(), DbValue()},
                        rows, error));
    EXPECT_TRUE(error.Duplicate()) << error.State << " " << error.Message;

    std::vector<DbRow> read;
    ASSERT_TRUE(db.Query("SELECT k, m, n, r, b, s, o FROM t WHERE m = ?", {DbValue::Of(message)},
                         read, error))
        << error.Message;
    ASSERT_EQ(read.size(), 1u);
    const DbRow& row = read[0];
    EXPECT_EQ(row[1].value_or("?"), message);
    EXPECT_EQ(row[2].value_or("?"), "17");
    EXPECT_DOUBLE_EQ(std::stod(row[3].value_or("0")), 12.346);
    EXPECT_EQ(row[4].value_or("?"), "1");
    EXPECT_EQ(row[5].value_or("?").substr(0, 23), "2026-12-09 10:00:01.234");
    EXPECT_FALSE(row[6].has_value());
    // A value that looks like SQL stays a value.
    ASSERT_TRUE(
        db.Query("SELECT k FROM t WHERE k = ?", {DbValue::Of("x' OR '1'='1")}, read, error));
    EXPECT_TRUE(read.empty());
}

TEST(Database, FaultsOfTheStringAreNamedAndThePasswordIsNot) {
    const struct {
        const char* name;
        std::string connection;
    } cases[] = {
        {"unknown driver", "Driver={No Such Driver 9};Server=db1;Uid=u;Pwd=hunter2secret"},
        {"unknown DSN", "DSN=no-such-dsn-here;Pwd=hunter2secret"},
        {"no key at all", "hunter2secret"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Database db;
        DbError error;
        EXPECT_FALSE(db.Connect(c.connection, 2, error));
        EXPECT_FALSE(db.IsConnected());
        EXPECT_TRUE(error.Setup()) << error.State << " " << error.Message;
        EXPECT_FALSE(error.Message.empty());
        EXPECT_EQ(error.Message.find("hunter2secret"), std::string::npos) << error.Message;
    }
}

} // namespace
} // namespace station

namespace tolvane::test {
namespace {

using station::Database;
using station::DbError;
using station::DbValue;

TEST(PostgresDatabase, KeysCommitsAndARefusedLogin) {
    PostgresServer server;
    std::string why;
    ASSERT_TRUE(server.Start(why)) << why;
    Database db;
    DbError error;
    ASSERT_TRUE(db.Connect(server.Connection(), 10, error)) << error.Message;
    EXPECT_EQ(db.DbmsName(), "PostgreSQL");
    ASSERT_TRUE(db.Execute("CREATE TABLE t (k uuid PRIMARY KEY, m text, ok boolean, "
                           "s timestamp(3))",
                           error))
        << error.Message;
    ASSERT_TRUE(db.Prepare("INSERT INTO t VALUES (?, ?, ?, ?)", error)) << error.Message;
    const std::vector<DbValue> row = {DbValue::Of("0b8a3c1e-1111-4222-8333-444455556666"),
                                      DbValue::Of("读/写超时！"), DbValue::Bool(false),
                                      DbValue::Of("2026-12-09T10:00:01.234Z", DbValue::Kind::Time)};
    long long rows = 0;
    ASSERT_TRUE(db.Run(row, rows, error)) << error.Message;
    EXPECT_FALSE(db.Run(row, rows, error));
    EXPECT_TRUE(error.Duplicate()) << error.State;
    std::vector<station::DbRow> read;
    ASSERT_TRUE(db.Query("SELECT m, ok, s FROM t WHERE s >= ?",
                         {DbValue::Of("2026-12-09T10:00:00.000Z", DbValue::Kind::Time)}, read,
                         error))
        << error.Message;
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0][0].value_or("?"), "读/写超时！");
    EXPECT_EQ(read[0][1].value_or("?"), "0");
    EXPECT_EQ(read[0][2].value_or("?"), "2026-12-09 10:00:01.234");

    Database refused;
    EXPECT_FALSE(refused.Connect(server.Connection("Wrong-pass-99"), 10, error));
    EXPECT_NE(error.Message.find("password authentication failed"), std::string::npos)
        << error.State << " " << error.Message;
    EXPECT_EQ(error.Message.find("Wrong-pass-99"), std::string::npos) << error.Message;
}

} // namespace
} // namespace tolvane::test
