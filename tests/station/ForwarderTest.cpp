// The unit records' table and their way from the log to the database: the CREATE statements of
// each dialect, the forwarder against a private PostgreSQL server (resuming, the server away and
// back, a record already there) and records push over SQLite and PostgreSQL.
#include "station/RecordForwarder.h"
#include "station/RecordLog.h"
#include "station/RecordTable.h"
#include "station/Uuid.h"
#include "tests/package/TempDir.h"
#include "tests/support/PostgresServer.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tolvane::test {
namespace {

using namespace station;

UnitRecord Unit(int n, bool ok = true) {
    UnitRecord r;
    r.Start = "2026-12-09T10:00:0" + std::to_string(n % 10) + ".250Z";
    r.End = "2026-12-09T10:01:0" + std::to_string(n % 10) + ".000Z";
    r.Host = "line1-pc";
    r.Slot = "A" + std::to_string(n % 2);
    r.Port = "/dev/ttyUSB" + std::to_string(n % 2);
    r.Device = r.Port;
    r.Id = "86000000000000" + std::to_string(n);
    r.VersionBefore = "V1.0";
    r.VersionAfter = ok ? std::optional<std::string>("V2.0") : std::nullopt;
    r.Package = "/pkg/fw.enc2";
    r.Md5 = "0123456789abcdef0123456789abcdef";
    r.Ok = ok;
    r.Code = ok ? 0 : 5;
    r.Stage = ok ? "done" : "handshake";
    r.Message = ok ? "升级成功" : "读/写超时！ 'x' OR '1'='1";
    r.Seconds = 42.125;
    r.Frames = 300 + n;
    r.Uuid = RandomUuid();
    return r;
}

// Writes n records (and one out-of-service line) to the log; their keys in order.
std::vector<std::string> WriteLog(const std::string& path, int n, int first = 0) {
    RecordLog log;
    std::string error;
    EXPECT_TRUE(log.Open(path, error)) << error;
    std::vector<std::string> keys;
    for (int i = first; i < first + n; ++i) {
        UnitRecord r = Unit(i, i % 3 != 2);
        EXPECT_TRUE(log.Append(r, error)) << error;
        keys.push_back(r.Uuid);
        if (i == first) {
            EXPECT_TRUE(log.AppendLine(OutOfServiceLine({"t", "h", "B", "p", 3, "x"}), error));
        }
    }
    return keys;
}

long long CountRows(Database& db) {
    std::vector<DbRow> rows;
    DbError error;
    EXPECT_TRUE(
        db.Query("SELECT count(*), count(DISTINCT uuid) FROM tolvane_units", {}, rows, error))
        << error.Message;
    if (rows.empty()) return -1;
    EXPECT_EQ(rows[0][0], rows[0][1]); // never one key twice
    return std::atoll(rows[0][0].value_or("-1").c_str());
}

bool MakeTable(Database& db, SqlDialect dialect) {
    DbError error;
    for (const std::string& statement : CreateTableStatements(dialect))
        if (!db.Execute(statement, error)) {
            ADD_FAILURE() << error.Message << "\n" << statement;
            return false;
        }
    return true;
}

// Waits (on a condition variable) for the forwarder's status to satisfy a condition; the long
// limit only keeps a broken test from hanging.
class StatusWatch {
  public:
    RecordForwarder::Listener Listener() {
        return [this](const ForwardStatus& status) {
            std::lock_guard<std::mutex> guard(Lock);
            Last = status;
            Changed.notify_all();
        };
    }
    bool WaitFor(const std::function<bool(const ForwardStatus&)>& condition) {
        std::unique_lock<std::mutex> lock(Lock);
        return Changed.wait_for(lock, std::chrono::seconds(60), [&] { return condition(Last); });
    }

  private:
    std::mutex Lock;
    std::condition_variable Changed;
    ForwardStatus Last;
};

// The test's clock: every pause is noted and lasts until the test lets it go.
class ManualPause : public RetryPause {
  public:
    void Wait(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
              std::chrono::milliseconds delay, const std::function<bool()>& done) override {
        {
            std::lock_guard<std::mutex> guard(Lock);
            Delays.push_back(delay);
            Noted.notify_all();
        }
        cv.wait(lock, [&] { return done() || Released.exchange(false); });
    }
    // Lets the current pause end (the forwarder is nudged to look).
    void Release(RecordForwarder& forwarder) {
        Released = true;
        forwarder.Notify();
    }
    bool WaitForPauses(size_t count) {
        std::unique_lock<std::mutex> lock(Lock);
        return Noted.wait_for(lock, std::chrono::seconds(60),
                              [&] { return Delays.size() >= count; });
    }
    std::vector<std::chrono::milliseconds> Seen() {
        std::lock_guard<std::mutex> guard(Lock);
        return Delays;
    }

  private:
    std::mutex Lock;
    std::condition_variable Noted;
    std::vector<std::chrono::milliseconds> Delays;
    std::atomic<bool> Released{false};
};

TEST(RecordTable, EachDialectNamesItsTypesKeyAndIndexes) {
    const struct {
        SqlDialect dialect;
        const char* dbms;
        std::vector<const char*> parts;
    } cases[] = {
        {SqlDialect::PostgreSql,
         "PostgreSQL",
         {"CREATE TABLE IF NOT EXISTS \"tolvane_units\"", "\"uuid\" uuid PRIMARY KEY",
          "\"start\" timestamp(3) NOT NULL", "\"ok\" boolean", "\"id\" varchar(255),",
          "CREATE INDEX IF NOT EXISTS \"tolvane_units_id\" ON \"tolvane_units\" (\"id\")",
          "\"tolvane_units_start\" ON \"tolvane_units\" (\"start\")"}},
        {SqlDialect::SqlServer,
         "Microsoft SQL Server",
         {"IF OBJECT_ID(N'tolvane_units', N'U') IS NULL", "[uuid] uniqueidentifier PRIMARY KEY",
          "[start] datetime2(3) NOT NULL", "[message] nvarchar(max) NOT NULL", "[ok] bit",
          "INDEX [tolvane_units_id] ([id])", "INDEX [tolvane_units_start] ([start])"}},
        {SqlDialect::MySql,
         "MySQL",
         {"CREATE TABLE IF NOT EXISTS `tolvane_units`", "`uuid` char(36) PRIMARY KEY",
          "`start` datetime(3) NOT NULL", "`repeat` boolean NOT NULL",
          "INDEX `tolvane_units_id` (`id`)", "CHARACTER SET utf8mb4"}},
        {SqlDialect::Sqlite,
         "SQLite",
         {"\"uuid\" text PRIMARY KEY", "\"seconds\" real NOT NULL",
          "CREATE INDEX IF NOT EXISTS \"tolvane_units_start\""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dbms);
        EXPECT_EQ(DialectOfDbms(c.dbms), c.dialect);
        std::string all;
        for (const std::string& statement : CreateTableStatements(c.dialect))
            all += statement + ";\n";
        for (const char* part : c.parts)
            EXPECT_NE(all.find(part), std::string::npos) << part << "\n" << all;
        // One column per field of the record, the signer included.
        for (const std::string& field : RecordFieldNames())
            EXPECT_NE(InsertStatement(c.dialect).find(field), std::string::npos) << field;
        EXPECT_NE(InsertStatement(c.dialect).find("signer"), std::string::npos);
    }
    EXPECT_EQ(DialectOfDbms("MariaDB"), SqlDialect::MySql);
    EXPECT_FALSE(DialectOfDbms("Oracle"));
}

TEST(RecordTable, RetriesWaitLongerUpToHalfAMinute) {
    const int expected[] = {1, 2, 4, 8, 16, 30, 30, 30};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(RetryDelay(i + 1), std::chrono::seconds(expected[i])) << i + 1;
}

TEST(RecordTable, ConnectionStringsAreCheckedBeforeUse) {
    const struct {
        const char* text;
        bool good;
    } cases[] = {
        {"DSN=factory", true},
        {"Driver={PostgreSQL Unicode};Server=db1;Port=5432;Uid=s;Pwd={a;b}}c}", true},
        {"FILEDSN=/etc/f.dsn;", true},
        {"Server=db1;Uid=s", false},                 // no driver or DSN
        {"Driver={PostgreSQL Unicode;Pwd=x", false}, // braces not closed
        {"Driver={x}y;Pwd=z", false},
        {"DSN=f;=value", false},
        {"secret-only", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string why;
        EXPECT_EQ(WellFormedConnection(c.text, why), c.good) << why;
    }
    std::string why;
    EXPECT_FALSE(WellFormedConnection("DSN=f;Pwd={hunter2", why));
    EXPECT_EQ(why.find("hunter2"), std::string::npos);
}

TEST(RecordTable, PushTwiceOverSqliteStoresEachOnce) {
    TempDir dir;
    const std::string log = dir.File("units.jsonl");
    WriteLog(log, 5);
    // A schema 1 record (no key) gets the same made key every time.
    {
        std::ofstream(log, std::ios::app) << RecordLine([] {
            UnitRecord r = Unit(9);
            r.Uuid.clear();
            return r;
        }()) << "\n";
    }
    Database db;
    DbError error;
    ASSERT_TRUE(db.Connect("Driver=SQLite3;Database=" + dir.File("u.db"), 5, error));
    ASSERT_TRUE(MakeTable(db, SqlDialect::Sqlite));
    ForwardStatus status;
    std::string why;
    ASSERT_TRUE(PushLog(db, log, status, why, nullptr)) << why;
    EXPECT_EQ(status.Sent, 6);
    ASSERT_TRUE(PushLog(db, log, status, why, nullptr)) << why;
    EXPECT_EQ(status.Sent, 0);
    EXPECT_EQ(status.AlreadyThere, 6);
    EXPECT_EQ(CountRows(db), 6);
}

class PostgresForwarding : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(Server.Start(why)) << why;
        DbError error;
        ASSERT_TRUE(Reader.Connect(Server.Connection(), 10, error)) << error.Message;
        ASSERT_TRUE(MakeTable(Reader, SqlDialect::PostgreSql));
    }
    ForwarderSettings Settings(const std::string& log) {
        ForwarderSettings s;
        s.LogPath = log;
        s.Connection = Server.Connection();
        s.Pause = Pause;
        return s;
    }
    PostgresServer Server;
    Database Reader;
    TempDir Dir;
    std::shared_ptr<ManualPause> Pause = std::make_shared<ManualPause>();
};

TEST_F(PostgresForwarding, EveryRecordArrivesWithEveryField) {
    const std::string log = Dir.File("units.jsonl");
    const std::vector<std::string> keys = WriteLog(log, 6);
    StatusWatch watch;
    RecordForwarder forwarder(Settings(log), watch.Listener());
    forwarder.Start();
    ASSERT_TRUE(watch.WaitFor([](const ForwardStatus& s) { return s.Sent == 6; }));
    const ForwardStatus end = forwarder.Stop(std::chrono::seconds(10));
    EXPECT_EQ(end.Pending, 0);
    EXPECT_EQ(CountRows(Reader), 6);

    std::vector<DbValue> values;
    HistoryFilter failed;
    failed.FailedOnly = true;
    std::vector<DbRow> rows;
    DbError error;
    ASSERT_TRUE(
        Reader.Query(SelectStatement(SqlDialect::PostgreSql, failed, values), values, rows, error))
        << error.Message;
    ASSERT_EQ(rows.size(), 2u); // units 2 and 5
    UnitRecord expected = Unit(2, false);
    expected.Uuid = keys[2];
    UnitRecord got = RecordOfRow(rows[0]);
    expected.Seconds = got.Seconds;
    EXPECT_DOUBLE_EQ(got.Seconds, 42.125);
    EXPECT_EQ(RecordLine(got), RecordLine(expected));

    // Each filter a bound value; a value that looks like SQL finds nothing.
    const struct {
        const char* name;
        HistoryFilter filter;
        size_t count;
    } cases[] = {
        {"id", {"860000000000004", "", "", false, ""}, 1},
        {"slot", {"", "A1", "", false, ""}, 3},
        {"host", {"", "", "", false, "line1-pc"}, 6},
        {"other host", {"", "", "", false, "line2-pc"}, 0},
        {"since", {"", "", "2026-12-09T10:00:04.000Z", false, ""}, 2},
        {"injection", {"x' OR '1'='1", "", "", false, ""}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Reader.Query(SelectStatement(SqlDialect::PostgreSql, c.filter, values), values,
                                 rows, error))
            << error.Message;
        EXPECT_EQ(rows.size(), c.count);
    }
}

TEST_F(PostgresForwarding, ARestartResumesWithoutLossOrTwice) {
    const std::string log = Dir.File("units.jsonl");
    WriteLog(log, 4);
    {
        StatusWatch watch;
        RecordForwarder forwarder(Settings(log), watch.Listener());
        forwarder.Start();
        ASSERT_TRUE(watch.WaitFor([](const ForwardStatus& s) { return s.Sent == 4; }));
        forwarder.Stop(std::chrono::seconds(10));
    }
    std::string progress;
    {
        std::ifstream in(RecordForwarder::ProgressPath(log));
        std::getline(in, progress);
    }
    WriteLog(log, 3, 10);
    {
        StatusWatch watch;
        RecordForwarder forwarder(Settings(log), watch.Listener());
        forwarder.Start();
        ASSERT_TRUE(watch.WaitFor([](const ForwardStatus& s) { return s.Sent == 3; }));
        const ForwardStatus end = forwarder.Stop(std::chrono::seconds(10));
        EXPECT_EQ(end.AlreadyThere, 0); // resumed where it was, nothing sent again
    }
    EXPECT_EQ(CountRows(Reader), 7);
    // A crash between a commit and its note: the progress file is behind (or torn, or belongs
    // to another log). The records then go again and are counted as there, none twice.
    const char* notes[] = {"", "0 ", "12", "99999999 x", nullptr};
    notes[4] = progress.c_str();
    for (const char* note : notes) {
        SCOPED_TRACE(note);
        { std::ofstream(RecordForwarder::ProgressPath(log)) << note; }
        StatusWatch watch;
        RecordForwarder forwarder(Settings(log), watch.Listener());
        forwarder.Start();
        const long long again = note == progress ? 3 : 7;
        ASSERT_TRUE(watch.WaitFor(
            [&](const ForwardStatus& s) { return s.AlreadyThere == again && s.Pending == 0; }));
        EXPECT_EQ(forwarder.Stop(std::chrono::seconds(10)).Sent, 0);
        EXPECT_EQ(CountRows(Reader), 7);
    }
}

TEST_F(PostgresForwarding, TheServerAwayAndBackLosesNothing) {
    const std::string log = Dir.File("units.jsonl");
    Server.Kill(); // SIGKILL of the postmaster
    Reader.Disconnect();
    WriteLog(log, 3);
    StatusWatch watch;
    RecordForwarder forwarder(Settings(log), watch.Listener());
    forwarder.Start();
    // Away: the records wait, with the reason, and the pauses grow.
    ASSERT_TRUE(Pause->WaitForPauses(1));
    for (int i = 0; i < 2; ++i) {
        Pause->Release(forwarder);
        ASSERT_TRUE(Pause->WaitForPauses(size_t(i) + 2));
    }
    EXPECT_EQ(Pause->Seen()[0], std::chrono::seconds(1));
    EXPECT_EQ(Pause->Seen()[2], std::chrono::seconds(4));
    ASSERT_TRUE(
        watch.WaitFor([](const ForwardStatus& s) { return s.Pending == 3 && !s.Reason.empty(); }));
    EXPECT_EQ(forwarder.Status().Reason.find(PostgresServer::Password), std::string::npos);

    std::string why;
    ASSERT_TRUE(Server.Start(why)) << why;
    Pause->Release(forwarder);
    ASSERT_TRUE(watch.WaitFor([](const ForwardStatus& s) { return s.Sent == 3; }));
    // Killed again while more records come: they wait, then go once it is back.
    Server.Kill();
    WriteLog(log, 2, 20);
    forwarder.Notify();
    ASSERT_TRUE(
        watch.WaitFor([](const ForwardStatus& s) { return s.Pending == 2 && !s.Connected; }));
    ASSERT_TRUE(Server.Start(why)) << why;
    Pause->Release(forwarder);
    ASSERT_TRUE(watch.WaitFor([](const ForwardStatus& s) { return s.Sent == 5; }));
    EXPECT_EQ(forwarder.Stop(std::chrono::seconds(10)).Pending, 0);
    DbError error;
    ASSERT_TRUE(Reader.Connect(Server.Connection(), 10, error)) << error.Message;
    EXPECT_EQ(CountRows(Reader), 5);
}

TEST_F(PostgresForwarding, TwoLogsIntoOneTableAndAPushAfterwards) {
    const std::string a = Dir.File("a.jsonl"), b = Dir.File("b.jsonl");
    WriteLog(a, 4);
    WriteLog(b, 4, 100);
    StatusWatch watchA, watchB;
    RecordForwarder one(Settings(a), watchA.Listener()), two(Settings(b), watchB.Listener());
    one.Start();
    two.Start();
    ASSERT_TRUE(watchA.WaitFor([](const ForwardStatus& s) { return s.Sent == 4; }));
    ASSERT_TRUE(watchB.WaitFor([](const ForwardStatus& s) { return s.Sent == 4; }));
    one.Stop(std::chrono::seconds(10));
    two.Stop(std::chrono::seconds(10));
    EXPECT_EQ(CountRows(Reader), 8);
    // The same log pushed as well: everything already there.
    Database db;
    DbError error;
    ASSERT_TRUE(db.Connect(Server.Connection(), 10, error));
    ForwardStatus status;
    std::string why;
    ASSERT_TRUE(PushLog(db, a, status, why, nullptr)) << why;
    EXPECT_EQ(status.AlreadyThere, 4);
    EXPECT_EQ(status.Sent, 0);
    EXPECT_EQ(CountRows(Reader), 8);
}

TEST_F(PostgresForwarding, AStopWithTheServerAwaySaysWhatIsPending) {
    const std::string log = Dir.File("units.jsonl");
    Server.Stop();
    WriteLog(log, 2);
    StatusWatch watch;
    RecordForwarder forwarder(Settings(log), watch.Listener());
    forwarder.Start();
    ASSERT_TRUE(Pause->WaitForPauses(1));
    const ForwardStatus end = forwarder.Stop(std::chrono::milliseconds(0));
    EXPECT_EQ(end.Pending, 2);
    EXPECT_FALSE(end.Reason.empty());
}

} // namespace
} // namespace tolvane::test
