// The station's records: the identity kept of a reply, record times, the log's locked appends
// with their repeat mark, and history's reading, filters and CSV.
#include "station/History.h"
#include "station/RecordLog.h"
#include "station/IdentityQuery.h"
#include "station/UtcTime.h"
#include "tests/package/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace station {
namespace {

TEST(UnitIdentity, KeepsTheTextOfTheReply) {
    const struct {
        const char* reply;
        const char* id;
    } cases[] = {
        {"861234567890123\r\n\r\nOK\r\n", "861234567890123"},
        {"861234567890123\r\nOK", "861234567890123"},
        {"\r\n  SN-7 \r\n", "SN-7"},
        {"ERROR\r\n", ""},
        {"\r\n+CME ERROR: 10\r\nERROR\r\n", ""},
        {"OK\r\n", ""},
        {"", ""},
        {"OKAY", "OKAY"}, // only a trailing "OK" line goes, not letters of the identity
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        EXPECT_EQ(IdentityFromReply(c.reply), c.id);
    }
    EXPECT_EQ(CommandFromOption("AT+CGSN"), "AT+CGSN\r\n");
    EXPECT_EQ(CommandFromOption("AT+GSN\\r"), "AT+GSN\r");
    EXPECT_EQ(CommandFromOption("AT+X\\r\\n"), "AT+X\r\n");
}

TEST(UtcTime, RecordTimesAndSinceFilters) {
    using namespace std::chrono;
    const SystemTime t =
        sys_days(year(2026) / 12 / 9) + hours(16) + minutes(5) + seconds(7) + milliseconds(89);
    EXPECT_EQ(IsoUtc(t), "2026-12-09T16:05:07.089Z");
    EXPECT_EQ(CompactUtc(t), "20261209T160507.089Z");
    const struct {
        const char* text;
        const char* normal; // nullptr: refused
    } cases[] = {
        {"2026-12-09", "2026-12-09T00:00:00.000Z"},
        {"2026-12-09T16:05", "2026-12-09T16:05:00.000Z"},
        {"2026-12-09 16:05:07", "2026-12-09T16:05:07.000Z"},
        {"2026-12-09T16:05:07.5Z", "2026-12-09T16:05:07.500Z"},
        {"2999-01-01", "2999-01-01T00:00:00.000Z"}, // beyond the system clock's range
        {"2026-02-30", nullptr},
        {"2026-12-09T25:00", nullptr},
        {"yesterday", nullptr},
        {"2026-12-09T16", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string out;
        EXPECT_EQ(NormaliseIsoTime(c.text, out), c.normal != nullptr);
        if (c.normal) {
            EXPECT_EQ(out, c.normal);
        }
    }
}

UnitRecord Unit(const std::string& slot, const char* id, bool ok, const std::string& start) {
    UnitRecord r;
    r.Start = start;
    r.End = start;
    r.Slot = slot;
    r.Port = "COM" + slot;
    if (id) r.Id = id;
    r.VersionBefore = "VERSION:1.0";
    if (ok) r.VersionAfter = "VERSION:2.0";
    r.Md5 = "0123456789abcdef0123456789abcdef";
    r.Ok = ok;
    r.Code = ok ? 0 : 1;
    r.Stage = ok ? "done" : "transfer";
    r.Message = ok ? "升级成功" : "升级失败, \"block 3\"";
    r.Seconds = 12.3456;
    return r;
}

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(RecordLog, RecordsRoundTripAndReworkShowsAsRepeat) {
    TempDir dir;
    const std::string path = dir.File("records.jsonl");
    RecordLog log;
    std::string error;
    ASSERT_TRUE(log.Open(path, error)) << error;
    UnitRecord first = Unit("1", "861", true, "2026-12-09T10:00:00.000Z");
    UnitRecord failed = Unit("1", "862", false, "2026-12-09T10:01:00.000Z");
    UnitRecord again = Unit("2", "861", true, "2026-12-09T10:02:00.000Z");
    UnitRecord anonymous = Unit("2", "", true, "2026-12-09T10:03:00.000Z");
    UnitRecord anonymous2 = Unit("2", "", true, "2026-12-09T10:04:00.000Z");
    for (UnitRecord* r : {&first, &failed, &again, &anonymous, &anonymous2})
        ASSERT_TRUE(log.Append(*r, error)) << error;
    EXPECT_FALSE(first.Repeat);
    EXPECT_FALSE(failed.Repeat);
    EXPECT_TRUE(again.Repeat);       // 861 passed before with the same package
    EXPECT_FALSE(anonymous2.Repeat); // no identity, nothing to compare

    // A second log on the same file (another station) learns the passes already there.
    RecordLog other;
    ASSERT_TRUE(other.Open(path, error));
    UnitRecord third = Unit("3", "861", true, "2026-12-09T10:05:00.000Z");
    UnitRecord otherPackage = Unit("3", "861", true, "2026-12-09T10:06:00.000Z");
    otherPackage.Md5 = "ffffffffffffffffffffffffffffffff";
    ASSERT_TRUE(other.Append(third, error));
    ASSERT_TRUE(other.Append(otherPackage, error));
    EXPECT_TRUE(third.Repeat);
    EXPECT_FALSE(otherPackage.Repeat);
    UnitRecord fromFirst = Unit("1", "862", true, "2026-12-09T10:07:00.000Z");
    ASSERT_TRUE(log.Append(fromFirst, error));
    EXPECT_FALSE(fromFirst.Repeat); // 862 failed before: not a repeat

    const std::vector<std::string> lines = Lines(path);
    ASSERT_EQ(lines.size(), 8u);
    UnitRecord back;
    ASSERT_EQ(ParseRecordLine(lines[1], back, nullptr), LineKind::Unit);
    EXPECT_EQ(RecordLine(back), lines[1]);
    EXPECT_EQ(back.Message, failed.Message);
    EXPECT_FALSE(back.VersionAfter.has_value());
    EXPECT_DOUBLE_EQ(back.Seconds, 12.346);
    // The fields in their documented order, nulls written out.
    EXPECT_EQ(lines[0].rfind("{\"schema\":1,\"start\":\"2026-12-09T10:00:00.000Z\",\"end\":", 0),
              0u);
    EXPECT_NE(lines[1].find("\"version_after\":null"), std::string::npos);
    EXPECT_NE(lines[1].find("\"trace\":null}"), std::string::npos);
}

TEST(RecordLog, DeviceTextThatIsNotUtf8StillMakesALine) {
    TempDir dir;
    RecordLog log;
    std::string error;
    ASSERT_TRUE(log.Open(dir.File("r.jsonl"), error));
    UnitRecord r = Unit("1", "\xff\xfe", true, "2026-12-09T10:00:00.000Z");
    ASSERT_TRUE(log.Append(r, error)) << error;
    const auto lines = Lines(dir.File("r.jsonl"));
    ASSERT_EQ(lines.size(), 1u);
    UnitRecord back;
    EXPECT_EQ(ParseRecordLine(lines[0], back, nullptr), LineKind::Unit);
}

TEST(RecordLog, ConcurrentWritersNeverInterleave) {
    TempDir dir;
    const std::string path = dir.File("shared.jsonl");
    constexpr int Writers = 4, Each = 50;
    std::vector<std::thread> threads;
    for (int w = 0; w < Writers; ++w)
        threads.emplace_back([&, w] {
            RecordLog log; // one open file per writer, as separate stations have
            std::string error;
            ASSERT_TRUE(log.Open(path, error));
            for (int i = 0; i < Each; ++i) {
                UnitRecord r = Unit(std::to_string(w), nullptr, true, "2026-12-09T10:00:00.000Z");
                r.Message = std::string(size_t(500 + i * 37), char('a' + w)); // long lines
                ASSERT_TRUE(log.Append(r, error)) << error;
            }
        });
    for (auto& t : threads)
        t.join();
    const auto lines = Lines(path);
    ASSERT_EQ(lines.size(), size_t(Writers * Each));
    for (const std::string& line : lines) {
        UnitRecord r;
        ASSERT_EQ(ParseRecordLine(line, r, nullptr), LineKind::Unit) << line.substr(0, 80);
        EXPECT_EQ(r.Message.find_first_not_of(r.Message[0]), std::string::npos);
    }
}

TEST(RecordLog, AFullDiskOrAMissingFolderIsReportedNotIgnored) {
    RecordLog missing;
    std::string error;
    EXPECT_FALSE(missing.Open("/nonexistent-folder/records.jsonl", error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;

#ifndef _WIN32
    RecordLog full; // every write fails with "no space left on device"
    ASSERT_TRUE(full.Open("/dev/full", error)) << error;
    UnitRecord r = Unit("1", "861", true, "2026-12-09T10:00:00.000Z");
    error.clear();
    EXPECT_FALSE(full.Append(r, error));
    EXPECT_NE(error.find("/dev/full"), std::string::npos) << error;
#endif
}

TEST(History, FiltersCountsAndTornLines) {
    std::ostringstream log;
    log << RecordLine(Unit("A", "861", false, "2026-12-08T23:59:59.999Z")) << "\n"
        << RecordLine(Unit("A", "861", true, "2026-12-09T08:00:00.000Z")) << "\n"
        << "not json at all\n"
        << RecordLine(Unit("B", "862", true, "2026-12-09T09:00:00.000Z")) << "\n"
        << "{\"schema\":1,\"event\":\"out-of-service\",\"time\":\"2026-12-09T09:30:00.000Z\","
           "\"slot\":\"B\",\"message\":\"3 failed units in a row\"}\n"
        << RecordLine(Unit("B", nullptr, false, "2026-12-09T10:00:00.000Z")) << "\n"
        << "{\"schema\":1,\"start\":\"2026-12-09T1"; // torn by a crash
    const struct {
        const char* name;
        HistoryFilter filter;
        size_t entries;
        int passed, failed;
        double yield;
    } cases[] = {
        {"all", {}, 5, 2, 2, 1.0 / 3},
        {"identity", {"861", "", "", false}, 2, 1, 1, 0},
        {"slot", {"", "B", "", false}, 3, 1, 1, 0.5},
        {"since", {"", "", "2026-12-09T00:00:00.000Z", false}, 4, 2, 1, 2.0 / 3},
        {"failed", {"", "", "", true}, 2, 0, 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream in(log.str());
        const HistoryRead read = ReadHistory(in, c.filter);
        EXPECT_EQ(read.Entries.size(), c.entries);
        EXPECT_EQ(read.Counts.Passed, c.passed);
        EXPECT_EQ(read.Counts.Failed, c.failed);
        EXPECT_NEAR(read.Counts.FirstPassYield(), c.yield, 1e-9);
        EXPECT_EQ(read.SkippedLines, (std::vector<int>{3, 7}));
    }
}

TEST(History, CsvQuotesWhatNeedsIt) {
    UnitRecord r = Unit("A", "861", false, "2026-12-09T08:00:00.000Z");
    r.Message = "line one\r\nsaid \"no\", then stopped";
    r.Lot = "L,7";
    const std::string row = CsvRecord(r);
    EXPECT_NE(row.find(",\"line one\r\nsaid \"\"no\"\", then stopped\","), std::string::npos)
        << row;
    EXPECT_NE(row.find(",\"L,7\","), std::string::npos);
    EXPECT_EQ(row.substr(row.size() - 2), "\r\n");
    EXPECT_EQ(CsvHeader().rfind("schema,start,end,host,slot,port,device,id,", 0), 0u);
}

} // namespace
} // namespace station
