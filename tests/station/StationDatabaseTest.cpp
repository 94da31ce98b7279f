// tolvane-flash with --db against a private PostgreSQL server: a station's records arrive in
// the table and history --db reads them back as the log has them; records init and push twice;
// the database away at start; strings, drivers and logins that cannot work refused at start
// without the password ever shown.
#include "tests/package/TempDir.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PostgresServer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

namespace tolvane::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class StationDatabase : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(Bin);
        fs::copy_file(TOLVANE_FLASH, Flash);
        std::vector<uint8_t> image(8 * 256);
        std::mt19937 random(7);
        for (auto& b : image)
            b = uint8_t(random());
        ASSERT_EQ(RunProgram({TOLVANE_PACK, "--block-size", "256", Dir.Write("image.bin", image),
                              Package}),
                  0);
        std::string why;
        ASSERT_TRUE(Server.Start(why)) << why;
    }
    void StartDevice(Child& device, int com, std::vector<std::string> more = {}) {
        std::vector<std::string> args = {TOLVANE_DEVSIM, "--com",   std::to_string(com),
                                         "--ports",      Bin + "/ports", "--image",
                                         Dir.File("rx" + std::to_string(com))};
        args.insert(args.end(), more.begin(), more.end());
        ASSERT_TRUE(device.Start(args));
        device.ReadLine();
    }
    std::vector<std::string> Station(const std::string& db, std::vector<std::string> more) {
        std::vector<std::string> args = {Flash,      "station",  Package,    "--working",
                                         "115200,n", "--loader", "115200,e", "--log",
                                         Log,        "--db",     db};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    int Records(const std::string& action, std::vector<std::string> more, std::string* out,
                std::string* err) {
        std::vector<std::string> args = {Flash, "records", action, "--db", Server.Connection()};
        args.insert(args.end(), more.begin(), more.end());
        return RunProgram(args, out, err);
    }

    TempDir Dir;
    PostgresServer Server;
    const std::string Bin = Dir.File("bin");
    const std::string Flash = Bin + "/tolvane-flash";
    const std::string Package = Dir.File("demo.enc2");
    const std::string Log = Dir.File("records.jsonl");
};

TEST_F(StationDatabase, RecordsArriveAndHistoryReadsThemBack) {
    std::string out, err;
    ASSERT_EQ(Records("init", {}, &out, &err), 0) << err;
    ASSERT_EQ(Records("init", {}, &out, &err), 0) << err; // again: nothing to do
    Child left, right;
    StartDevice(left, 31);
    StartDevice(right, 32);
    ASSERT_EQ(RunProgram(Station(Server.Connection(), {"--slot", "L=COM31", "--slot", "R=COM32",
                                                       "--once", "--json", "--lot", "批次7"}),
                         &out, &err),
              0)
        << out << err;
    EXPECT_EQ(out.find(PostgresServer::Password), std::string::npos);
    EXPECT_EQ(err.find(PostgresServer::Password), std::string::npos);
    bool told = false;
    for (const std::string& line : Lines(out)) {
        const json event = json::parse(line, nullptr, false);
        if (event.value("event", "") == "db") told = true;
    }
    EXPECT_TRUE(told) << out;

    // history --db gives the log's own lines (another station's would be there too).
    ASSERT_EQ(RunProgram({Flash, "history", "--db", Server.Connection(), "--json"}, &out, &err), 0)
        << err;
    std::multiset<std::string> fromDb, fromLog;
    for (const std::string& line : Lines(out))
        fromDb.insert(json::parse(line).dump());
    for (const std::string& line : Lines(Slurp(Log)))
        fromLog.insert(json::parse(line).dump());
    EXPECT_EQ(fromDb, fromLog);
    ASSERT_EQ(fromLog.size(), 2u);
    // The filters, the new host filter and a value that looks like SQL.
    const struct {
        std::vector<std::string> filter;
        size_t rows;
    } cases[] = {{{"--slot", "L"}, 1},
                 {{"--host", "no-such-host"}, 0},
                 {{"--failed"}, 0},
                 {{"--since", "2000-01-01"}, 2},
                 {{"--id", "x' OR '1'='1"}, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter[0]);
        std::vector<std::string> args = {Flash, "history", "--db", Server.Connection(), "--json"};
        args.insert(args.end(), c.filter.begin(), c.filter.end());
        ASSERT_EQ(RunProgram(args, &out, &err), 0) << err;
        EXPECT_EQ(Lines(out).size(), c.rows) << out;
    }
    // A push of the same log stores nothing twice.
    ASSERT_EQ(Records("push", {"--log", Log}, &out, &err), 0) << err;
    EXPECT_EQ(out, "0 sent, 2 already there, 0 pending\n");
}

// A unit reworked on another station (its own log, its own machine) counts as a repeat there.
TEST_F(StationDatabase, ARepeatIsSeenAcrossStations) {
    std::string out, err;
    ASSERT_EQ(Records("init", {}, &out, &err), 0) << err;
    const std::vector<std::string> unit = {"--id-pattern", "86123456789012#"};
    for (const int com : {34, 35}) {
        SCOPED_TRACE(com);
        Child device;
        StartDevice(device, com, unit);
        const std::string slot = "COM" + std::to_string(com);
        std::vector<std::string> args = Station(Server.Connection(), {"--slot", slot, "--once"});
        args[8] = com == 34 ? Log : Dir.File("second.jsonl"); // after --log
        ASSERT_EQ(RunProgram(args, &out, &err), 0) << out << err;
    }
    const json first = json::parse(Lines(Slurp(Log)).at(0));
    const json second = json::parse(Lines(Slurp(Dir.File("second.jsonl"))).at(0));
    // Each device's first unit: the same identity on both stations.
    EXPECT_EQ(first["id"], "861234567890121");
    EXPECT_FALSE(first["repeat"].get<bool>());
    EXPECT_EQ(second["id"], first["id"]);
    EXPECT_TRUE(second["repeat"].get<bool>()) << second.dump();
}

TEST_F(StationDatabase, TheDatabaseAwayAtStartThenPushed) {
    std::string out, err;
    ASSERT_EQ(Records("init", {}, &out, &err), 0) << err;
    const std::string connection = Server.Connection();
    Server.Stop();
    Child device;
    StartDevice(device, 33);
    // The line goes on: the unit is upgraded and recorded, the record waits.
    ASSERT_EQ(RunProgram(Station(connection, {"--slot", "COM33", "--once"}), &out, &err), 0)
        << out << err;
    EXPECT_NE(err.find("database: 1 pending"), std::string::npos) << err;
    EXPECT_EQ(err.find(PostgresServer::Password), std::string::npos) << err;
    std::string why;
    ASSERT_TRUE(Server.Start(why)) << why;
    ASSERT_EQ(Records("push", {"--log", Log}, &out, &err), 0) << err;
    EXPECT_EQ(out, "1 sent, 0 already there, 0 pending\n");
    ASSERT_EQ(Records("push", {"--log", Log}, &out, &err), 0) << err;
    EXPECT_EQ(out, "0 sent, 1 already there, 0 pending\n");
}

TEST_F(StationDatabase, ConnectionsThatCannotWorkAreRefusedAtStart) {
    const struct {
        const char* name;
        std::string connection;
    } cases[] = {
        {"wrong password", Server.Connection("Wrong-pass-99")},
        {"unknown driver", "Driver={No Such Driver 9};Server=db1;Uid=u;Pwd=Wrong-pass-99"},
        {"malformed", "Driver={PostgreSQL Unicode;Pwd=Wrong-pass-99"},
        {"no driver named", "Server=db1;Pwd=Wrong-pass-99"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(Log);
        std::string out, err;
        EXPECT_EQ(RunProgram(Station(c.connection, {"--slot", "COM34", "--once"}), &out, &err), 2);
        EXPECT_FALSE(fs::exists(Log)); // nothing opened
        EXPECT_FALSE(err.empty());
        EXPECT_EQ((out + err).find("Wrong-pass-99"), std::string::npos) << err;
        EXPECT_EQ(RunProgram({Flash, "history", "--db", c.connection}, &out, &err), 2);
        EXPECT_EQ((out + err).find("Wrong-pass-99"), std::string::npos) << err;
    }
    std::string out, err;
    EXPECT_EQ(RunProgram({Flash, "flash", Package, "--port", "COM34", "--working", "115200,n",
                          "--loader", "115200,e", "--db", Server.Connection()},
                         &out, &err),
              2); // --db needs --log
    EXPECT_EQ(RunProgram({Flash, "records", "init", "--print", "--dbms", "sqlserver"}, &out, &err),
              0);
    EXPECT_NE(out.find("[uuid] uniqueidentifier PRIMARY KEY"), std::string::npos) << out;
}

} // namespace
} // namespace tolvane::test
