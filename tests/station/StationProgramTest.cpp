// tolvane-flash station and history as a production line runs them, against tolvane-devsim: the
// records, the JSON events, the stops, --once's exit statuses, a log that cannot be written, two
// stations on one log, and history's filters with its CSV read back by a CSV parser.
#include "tests/package/TempDir.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

namespace tolvane::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every line of a text as JSON; a line that is not JSON fails the test.
std::vector<json> JsonLines(const std::string& text) {
    std::vector<json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(json::parse(line, nullptr, false));
        EXPECT_TRUE(lines.back().is_object()) << line;
    }
    return lines;
}

class StationProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(Bin);
        fs::copy_file(TOLVANE_FLASH, Flash);
        std::vector<uint8_t> image(16 * 256);
        std::mt19937 random(5);
        for (auto& b : image)
            b = uint8_t(random());
        const std::string raw = Dir.Write("image.bin", image);
        ASSERT_EQ(RunProgram({TOLVANE_PACK, "--block-size", "256", raw, Package}), 0);
    }

    std::string StartDevice(Child& device, int com, std::vector<std::string> options = {}) {
        std::vector<std::string> args = {TOLVANE_DEVSIM, "--com",   std::to_string(com), "--ports",
                                         Bin + "/ports", "--image", Received(com)};
        args.insert(args.end(), options.begin(), options.end());
        EXPECT_TRUE(device.Start(args));
        return device.ReadLine();
    }
    std::string Received(int com) const { return Dir.File("received" + std::to_string(com)); }

    std::vector<std::string> StationArgs(std::vector<std::string> slots,
                                         std::vector<std::string> more = {}) const {
        std::vector<std::string> args = {Flash,      "station",  Package, "--working", "115200,n",
                                         "--loader", "115200,e", "--log", Log};
        for (const std::string& slot : slots) {
            args.push_back("--slot");
            args.push_back(slot);
        }
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    std::vector<json> Records() const { return JsonLines(Slurp(Log)); }

    TempDir Dir;
    const std::string Bin = Dir.File("bin");
    const std::string Flash = Bin + "/tolvane-flash";
    const std::string Package = Dir.File("demo.enc2");
    const std::string Log = Dir.File("records.jsonl");
};

TEST_F(StationProgram, OnceRecordsEverySlotAndTellsItInJson) {
    Child left, right;
    const std::string leftDevice = StartDevice(left, 11);
    StartDevice(right, 12, {"--start-in-loader"});
    std::string out;
    ASSERT_EQ(
        RunProgram(StationArgs({"L=COM11", "R=COM12"}, {"--once", "--json", "--lot", "7"}), &out),
        0)
        << out;
    const std::vector<json> events = JsonLines(out);
    ASSERT_FALSE(events.empty());
    for (const json& e : events) {
        EXPECT_TRUE(e.contains("slot") && e.contains("event") && e["t"].is_number()) << e;
    }
    EXPECT_EQ(events.back()["event"], "summary");
    EXPECT_EQ(events.back()["passed"], 2);
    EXPECT_EQ(events.back()["units"], 2);

    const std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 2u);
    for (const json& r : records) {
        SCOPED_TRACE(r.dump());
        EXPECT_EQ(r["schema"], 2); // every unit record now carries its key
        EXPECT_EQ(r["uuid"].get<std::string>().size(), 36u);
        EXPECT_EQ(r["ok"], true);
        EXPECT_EQ(r["stage"], "done");
        EXPECT_EQ(r["lot"], "7");
        EXPECT_EQ(r["frames"], 17);
        EXPECT_EQ(r["version_after"], "VERSION:2.1");
        // The result event carries every field of the record.
        bool shown = false;
        for (const json& e : events)
            if (e["event"] == "result" && e["slot"] == r["slot"]) {
                shown = true;
                for (const auto& [name, value] : r.items())
                    EXPECT_EQ(e[name], value) << name;
            }
        EXPECT_TRUE(shown);
    }
    const json& l = records[0]["slot"] == "L" ? records[0] : records[1];
    const json& r = records[0]["slot"] == "L" ? records[1] : records[0];
    EXPECT_EQ(l["device"], leftDevice);
    EXPECT_EQ(l["port"], "COM11");
    EXPECT_EQ(l["version_before"], "VERSION:2.1");
    EXPECT_TRUE(r["version_before"].is_null()); // found in its loader
    EXPECT_TRUE(r["id"].is_null());
    EXPECT_EQ(Slurp(Received(11)), Slurp(Dir.File("image.bin")));
}

TEST_F(StationProgram, OnceEndsWithTheFlashersExitStatuses) {
    const struct {
        const char* name;
        std::vector<std::string> device;
        std::vector<std::string> station;
        int status;
        const char* stage;
    } cases[] = {
        {"passes", {}, {}, 0, "done"},
        {"block fails", {"--beyond", "3:0"}, {}, 1, "transfer"},
        {"version not expected", {}, {"--expect-version", "VERSION:3"}, 1, "verify"},
    };
    int com = 20;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(Log);
        Child device;
        StartDevice(device, ++com, c.device);
        std::vector<std::string> more = {"--once"};
        more.insert(more.end(), c.station.begin(), c.station.end());
        std::string out;
        EXPECT_EQ(RunProgram(StationArgs({"COM" + std::to_string(com)}, more), &out), c.status)
            << out;
        const std::vector<json> records = Records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0]["code"], c.status);
        EXPECT_EQ(records[0]["stage"], c.stage);
        EXPECT_EQ(records[0]["slot"], "COM" + std::to_string(com)); // the port names the slot
    }
}

TEST_F(StationProgram, QuietShowsOnlyTheResultAndTheSummary) {
    Child device;
    StartDevice(device, 29);
    std::string out;
    ASSERT_EQ(RunProgram(StationArgs({"bench=COM29"}, {"--once", "--quiet"}), &out), 0) << out;
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.find("bench: ") != std::string::npos) lines.push_back(line);
    ASSERT_EQ(lines.size(), 1u) << out; // no waiting, progress or verifying lines
    EXPECT_NE(lines[0].find("passed"), std::string::npos) << out;
    EXPECT_NE(out.find("passed 1  failed 0"), std::string::npos) << out;
}

TEST_F(StationProgram, FirstInterruptFinishesTheUnitSecondEndsAtOnce) {
    // A paced device: the upgrade takes about a second, long enough to interrupt it.
    Child device;
    StartDevice(device, 31, {"--pace"});
    Child station;
    ASSERT_TRUE(station.Start(StationArgs({"S=COM31"}, {"--json"})));
    for (std::string line;;) {
        line = station.ReadLine();
        ASSERT_FALSE(line.empty()) << "the station ended before the transfer";
        if (json::parse(line, nullptr, false).value("event", "") == "progress") break;
    }
    station.Signal(SIGINT);
    EXPECT_EQ(station.Wait(20000), 0);
    const std::vector<json> rest = JsonLines(station.ReadAll());
    ASSERT_GE(rest.size(), 2u);
    EXPECT_EQ(rest.back()["event"], "summary");
    EXPECT_EQ(rest.back()["passed"], 1); // the unit under way was finished
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0]["ok"], true);

    // Again, with a second Ctrl-C during the transfer: nothing more is sent, status 130.
    Child again;
    ASSERT_TRUE(again.Start(StationArgs({"S=COM31"}, {"--json"})));
    for (std::string line;;) {
        line = again.ReadLine();
        ASSERT_FALSE(line.empty());
        if (json::parse(line, nullptr, false).value("event", "") == "progress") break;
    }
    again.Signal(SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // two signals at once are one
    again.Signal(SIGINT);
    EXPECT_EQ(again.Wait(5000), 130);
    const std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1]["code"], 130);
    EXPECT_EQ(records[1]["ok"], false);
}

TEST_F(StationProgram, AStopWhileWaitingEndsWithTheSummary) {
    Child station;
    ASSERT_TRUE(station.Start(StationArgs({"COM39"}, {"--json"})));
    EXPECT_EQ(json::parse(station.ReadLine(), nullptr, false).value("event", ""), "waiting");
    station.Signal(SIGTERM);
    EXPECT_EQ(station.Wait(5000), 0);
    const std::vector<json> rest = JsonLines(station.ReadAll());
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.back()["event"], "summary");
    EXPECT_EQ(rest.back()["units"], 0);
}

TEST_F(StationProgram, ALogThatCannotBeWrittenTakesNoUnit) {
    Child device;
    StartDevice(device, 33);
    std::string out, err;
    // The folder is missing: nothing is sent to any slot.
    std::vector<std::string> args = StationArgs({"COM33"}, {"--once"});
    args[8] = Dir.File("missing/records.jsonl");
    EXPECT_EQ(RunProgram(args, &out, &err), 1);
    EXPECT_NE(err.find("cannot be written"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(Received(33)));
    // The disk is full: the unit under way cannot be recorded, so no further unit is taken and
    // the station ends, saying why.
    args[8] = "/dev/full";
    args.pop_back(); // without --once only the log ends it
    EXPECT_EQ(RunProgram(args, &out, &err), 1);
    EXPECT_NE(err.find("No space left on device"), std::string::npos) << err;
    EXPECT_NE(out.find("NOT RECORDED"), std::string::npos) << out;
}

TEST_F(StationProgram, TwoStationsShareOneLog) {
    Child a, b;
    StartDevice(a, 34);
    StartDevice(b, 35);
    Child first, second;
    ASSERT_TRUE(first.Start(StationArgs({"A=COM34"}, {"--once"})));
    ASSERT_TRUE(second.Start(StationArgs({"B=COM35"}, {"--once"})));
    EXPECT_EQ(first.Wait(20000), 0);
    EXPECT_EQ(second.Wait(20000), 0);
    const std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[0]["slot"], records[1]["slot"]);
}

// Parses RFC 4180 text with Python's csv module and prints the rows as JSON.
std::vector<std::vector<std::string>> ParseCsv(const std::string& csvPath) {
    std::string out;
    EXPECT_EQ(RunProgram({"/usr/bin/python3", "-c",
                          "import csv,json,sys\n"
                          "rows=list(csv.reader(open(sys.argv[1],newline='',encoding='utf-8')))\n"
                          "print(json.dumps(rows))",
                          csvPath},
                         &out),
              0);
    return json::parse(out).get<std::vector<std::vector<std::string>>>();
}

TEST_F(StationProgram, HistoryFiltersAndItsCsvReadsBack) {
    // Three runs on two slots: one passes, one fails, one passes with an awkward lot.
    Child ok, bad;
    StartDevice(ok, 36);
    StartDevice(bad, 37, {"--beyond", "2:0"});
    ASSERT_EQ(RunProgram(StationArgs({"good=COM36", "bad=COM37"}, {"--once"})), 1);
    ASSERT_EQ(RunProgram(StationArgs({"good=COM36"}, {"--once", "--lot", "a,\"b\"\nc"})), 0);
    const std::vector<json> records = Records();
    std::ofstream(Log, std::ios::app) << "{\"schema\":1,\"start\":"; // torn by a crash

    std::string out, err;
    ASSERT_EQ(RunProgram({Flash, "history", "--log", Log}, &out, &err), 0);
    EXPECT_NE(err.find("line 4 is not a record"), std::string::npos) << err;
    EXPECT_NE(out.find("3 units, 2 passed, 1 failed"), std::string::npos) << out;
    ASSERT_EQ(RunProgram({Flash, "history", "--log", Log, "--failed", "--json"}, &out), 0);
    ASSERT_EQ(JsonLines(out).size(), 1u);
    EXPECT_EQ(JsonLines(out)[0]["slot"], "bad");
    ASSERT_EQ(RunProgram({Flash, "history", "--log", Log, "--slot", "good", "--json"}, &out), 0);
    EXPECT_EQ(JsonLines(out).size(), 2u);
    ASSERT_EQ(RunProgram({Flash, "history", "--log", Log, "--since", "2999-01-01", "--json"}, &out),
              0);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(RunProgram({Flash, "history", "--log", Log, "--since", "soon"}), 2);
    EXPECT_EQ(RunProgram({Flash, "history", "--log", Log, "--json", "--csv"}), 2);

    ASSERT_EQ(RunProgram({Flash, "history", "--log", Log, "--csv"}, &out), 0);
    const std::string csvPath = Dir.File("history.csv");
    std::ofstream(csvPath, std::ios::binary) << out;
    const auto rows = ParseCsv(csvPath);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].size(), 25u); // the fields and the key, uuid
    EXPECT_EQ(rows[0][0], "schema");
    for (size_t i = 1; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(rows[i].size(), rows[0].size());
        for (size_t f = 0; f < rows[0].size(); ++f) {
            const json& value = records[i - 1][rows[0][f]];
            const std::string expected = value.is_null()     ? ""
                                         : value.is_string() ? value.get<std::string>()
                                                             : value.dump();
            EXPECT_EQ(rows[i][f], expected) << rows[0][f];
        }
    }
}

} // namespace
} // namespace tolvane::test

namespace tolvane::test {
namespace {

// Reads a station's JSON events until `count` results came; all events so far.
std::vector<json> ResultsOf(Child& station, int count) {
    std::vector<json> events;
    for (int results = 0; results < count;) {
        const std::string line = station.ReadLine();
        if (line.empty()) break; // the station ended
        events.push_back(json::parse(line, nullptr, false));
        results += events.back().value("event", "") == "result";
    }
    return events;
}

TEST_F(StationProgram, TwoSlotsTakeThreeUnitsEach) {
    Child a, b;
    StartDevice(a, 51,
                {"--units", "3", "--id-pattern", "8600000000####", "--version-after",
                 "VERSION:3.0\\r\\n", "--boot-delay", "1200", "--absent", "300"});
    StartDevice(b, 52,
                {"--units", "3", "--id-pattern", "8700000000####", "--version-after",
                 "VERSION:3.0\\r\\n", "--absent", "300"});
    Child station;
    ASSERT_TRUE(
        station.Start(StationArgs({"A=COM51", "B=COM52"}, {"--json", "--expect-version", "3.0"})));
    const std::vector<json> events = ResultsOf(station, 6);
    station.Signal(SIGINT);
    EXPECT_EQ(station.Wait(10000), 0);

    const std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 6u);
    std::set<std::string> ids;
    for (const json& r : records) {
        SCOPED_TRACE(r.dump());
        EXPECT_EQ(r["ok"], true);
        EXPECT_EQ(r["version_before"], "VERSION:2.1");
        EXPECT_EQ(r["version_after"], "VERSION:3.0");
        EXPECT_EQ(r["repeat"], false);
        const std::string id = r["id"];
        EXPECT_EQ(id.substr(0, 2), r["slot"] == "A" ? "86" : "87");
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 6u); // no unit twice
    int removed = 0;
    for (const json& e : events)
        removed += e["event"] == "removed";
    EXPECT_GE(removed, 4);
}

TEST_F(StationProgram, ASlotGoesOutOfServiceWhileTheOtherGoesOn) {
    Child broken, good;
    // Every unit on the broken slot keeps its old version: each fails at the verify stage.
    StartDevice(broken, 53, {"--units", "0", "--id-pattern", "X###", "--absent", "200"});
    StartDevice(good, 54,
                {"--units", "0", "--id-pattern", "U###", "--absent", "200", "--version-after",
                 "VERSION:3.0\\r\\n"});
    Child station;
    ASSERT_TRUE(station.Start(
        StationArgs({"bad=COM53", "good=COM54"}, {"--json", "--expect-version", "3.0"})));
    std::vector<json> events;
    int goodAfter = 0;
    bool outOfService = false;
    while (goodAfter < 2) {
        const std::string line = station.ReadLine();
        ASSERT_FALSE(line.empty()) << "the station ended";
        events.push_back(json::parse(line));
        const json& e = events.back();
        if (e["event"] == "out-of-service") {
            EXPECT_EQ(e["slot"], "bad");
            outOfService = true;
        }
        if (outOfService && e["event"] == "result" && e["slot"] == "good") ++goodAfter;
    }
    station.Signal(SIGTERM);
    EXPECT_EQ(station.Wait(10000), 0);
    int badResults = 0;
    for (const json& e : events)
        if (e["event"] == "result" && e["slot"] == "bad") {
            ++badResults;
            EXPECT_EQ(e["stage"], "verify");
        }
    EXPECT_EQ(badResults, 3);
    // The log says why, and history shows it.
    std::string out;
    ASSERT_EQ(RunProgram({Flash, "history", "--log", Log, "--slot", "bad"}, &out), 0);
    EXPECT_NE(out.find("OUT OF SERVICE: 3 failed units in a row"), std::string::npos) << out;
}

TEST_F(StationProgram, APortThatDropsMidTransferComesBackAndTheUnitPasses) {
    Child device;
    StartDevice(device, 55, {"--drop-at", "6:600"});
    std::string out;
    ASSERT_EQ(RunProgram(StationArgs({"COM55"}, {"--once", "--json"}), &out), 0) << out;
    const std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["ok"], true);
    EXPECT_EQ(records[0]["reconnects"], 1);
    EXPECT_GE(records[0]["resends"], 1);
    EXPECT_EQ(Slurp(Received(55)), Slurp(Dir.File("image.bin")));
    // Without a reconnect time the drop fails the unit, as the flasher's run does today.
    Child again;
    StartDevice(again, 56, {"--drop-at", "6:600"});
    EXPECT_EQ(RunProgram(StationArgs({"COM56"}, {"--once", "--reconnect", "0"}), &out), 1);
}

TEST_F(StationProgram, AKilledStationLeavesOnlyWholeLines) {
    Child a, b;
    StartDevice(a, 57, {"--units", "0", "--id-pattern", "A####", "--absent", "100"});
    StartDevice(b, 58, {"--units", "0", "--id-pattern", "B####", "--absent", "100"});
    Child station;
    ASSERT_TRUE(station.Start(StationArgs({"COM57", "COM58"}, {"--json"})));
    ResultsOf(station, 5);
    station.Signal(SIGKILL);
    EXPECT_EQ(station.Wait(5000), 128 + SIGKILL);
    const std::string text = Slurp(Log);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_GE(Records().size(), 5u); // every line parses
}

TEST_F(StationProgram, FlashWritesTheSameRecordForEachPort) {
    Child good, bad;
    StartDevice(good, 61);
    StartDevice(bad, 62, {"--beyond", "2:0"});
    const std::string trace = Dir.File("flash.trace");
    EXPECT_EQ(RunProgram({Flash, "flash", Package, "--working", "115200,n", "--loader", "115200,e",
                          "--port", "COM61", "--port", "COM62", "--log", Log, "--trace", trace}),
              1);
    std::vector<json> records = Records();
    ASSERT_EQ(records.size(), 2u);
    std::sort(records.begin(), records.end(),
              [](const json& a, const json& b) { return a["port"] < b["port"]; });
    EXPECT_EQ(records[0]["port"], "COM61");
    EXPECT_EQ(records[0]["ok"], true);
    EXPECT_EQ(records[0]["stage"], "done");
    EXPECT_EQ(records[0]["trace"], trace);
    EXPECT_TRUE(records[0]["id"].is_null());
    EXPECT_EQ(records[1]["ok"], false);
    EXPECT_EQ(records[1]["code"], 1);
    EXPECT_EQ(records[1]["stage"], "transfer");
    EXPECT_EQ(records[0].size(), 25u); // the fields and the key, uuid
}

} // namespace
} // namespace tolvane::test
