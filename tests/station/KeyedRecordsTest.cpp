// Schema 2 records: a random key per record, both schemas read back, the device node resolved,
// keys made from an old line that stay the same, and the password never shown.
#include "station/Database.h"
#include "station/History.h"
#include "station/RunRecord.h"
#include "station/Uuid.h"
#include "tests/package/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace station {
namespace {

const std::regex UuidForm("[0-9a-f]{8}-[0-9a-f]{4}-[34][0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");

TEST(KeyedRecords, EveryRunGetsItsOwnKeyAndTheDeviceNode) {
    TempDir dir;
    const std::string node = dir.File("ttyUSB7");
    { std::ofstream(node) << ""; }
#ifdef _WIN32
    const std::string link = node; // wine makes no symbolic links, and Windows ports have none
#else
    const std::string link = dir.File("by-path-port0");
    std::filesystem::create_symlink(node, link);
#endif
    UnitContext unit;
    unit.Device = link;
    session::RunReport report;
    report.Ok = true;
    report.Code = session::ExitStatus::Succeeded;
    std::set<std::string> keys;
    for (int i = 0; i < 100; ++i) {
        const UnitRecord record = RecordOfRun(unit, report, "done", 0);
        ASSERT_TRUE(std::regex_match(record.Uuid, UuidForm)) << record.Uuid;
        keys.insert(record.Uuid);
        EXPECT_EQ(record.Device, std::filesystem::canonical(node).string());
    }
    EXPECT_EQ(keys.size(), 100u);
    unit.Device = "\\\\.\\COM3"; // no such path here: kept as given
    EXPECT_EQ(RecordOfRun(unit, report, "done", 0).Device, unit.Device);
}

TEST(KeyedRecords, BothSchemasReadBackAndHistoryTakesThemTogether) {
    UnitRecord keyed;
    keyed.Start = keyed.End = "2026-12-09T10:00:00.000Z";
    keyed.Id = "861";
    keyed.Ok = true;
    keyed.Message = "升级成功";
    keyed.Uuid = RandomUuid();
    const std::string line = RecordLine(keyed);
    EXPECT_EQ(line.rfind("{\"schema\":2,", 0), 0u);
    EXPECT_NE(line.find(",\"uuid\":\"" + keyed.Uuid + "\"}"), std::string::npos);
    UnitRecord back;
    ASSERT_EQ(ParseRecordLine(line, back, nullptr), LineKind::Unit);
    EXPECT_EQ(back.Uuid, keyed.Uuid);
    EXPECT_EQ(RecordLine(back), line);

    UnitRecord old = keyed;
    old.Uuid.clear();
    const std::string oldLine = RecordLine(old);
    EXPECT_EQ(oldLine.find("uuid"), std::string::npos);
    ASSERT_EQ(ParseRecordLine(oldLine, back, nullptr), LineKind::Unit);
    EXPECT_TRUE(back.Uuid.empty());
    // A schema 2 line without its key is no record.
    std::string keyless = line;
    keyless.replace(keyless.find(",\"uuid\""), 45, "");
    EXPECT_EQ(ParseRecordLine(keyless, back, nullptr), LineKind::NotARecord) << keyless;

    std::istringstream log(oldLine + "\n" + line + "\n");
    const HistoryRead read = ReadHistory(log, HistoryFilter{});
    ASSERT_EQ(read.Entries.size(), 2u);
    EXPECT_TRUE(read.SkippedLines.empty());
    EXPECT_EQ(read.Counts.Units(), 2);
    // The CSV has the key last, empty for the old record.
    EXPECT_EQ(CsvRecord(read.Entries[0].Record).find(keyed.Uuid), std::string::npos);
    EXPECT_NE(CsvRecord(read.Entries[1].Record).find("," + keyed.Uuid), std::string::npos);
}

TEST(KeyedRecords, AnOldLinesKeyStaysTheSame) {
    EXPECT_EQ(NameUuid("a line"), NameUuid("a line"));
    EXPECT_NE(NameUuid("a line"), NameUuid("a line "));
    EXPECT_TRUE(std::regex_match(NameUuid("x"), UuidForm));
}

TEST(Connection, ThePasswordIsNeverShown) {
    const struct {
        const char* text;
        const char* masked;
        const char* password;
    } cases[] = {
        {"DSN=factory", "DSN=factory", ""},
        {"Driver={PostgreSQL Unicode};Server=db1;Uid=station;Pwd=s3cret",
         "Driver={PostgreSQL Unicode};Server=db1;Uid=station;Pwd=***", "s3cret"},
        {"pwd={a;b}}c};Uid=x", "pwd=***;Uid=x", "a;b}c"},
        {"Password=p;DSN=f;", "Password=***;DSN=f;", "p"},
        {"UID=u; PWD =q", "UID=u; PWD =***", "q"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(MaskedConnection(c.text), c.masked);
        EXPECT_EQ(ConnectionPassword(c.text), c.password);
    }
}

TEST(Connection, ADriversMessageHidesThePasswordWhereItStandsAlone) {
    const struct {
        const char* message;
        const char* password;
        const char* shown;
    } cases[] = {
        {"login failed for s3cret", "s3cret", "login failed for ***"},
        {"Pwd=s3cret;Uid=x (s3cret)", "s3cret", "Pwd=***;Uid=x (***)"},
        // A one-letter password leaves the words around it whole.
        {"[unixODBC]a driver said a", "a", "[unixODBC]*** driver said ***"},
        // A password the mask is made of ends (it once looped for ever).
        {"bad * here", "*", "bad *** here"},
        {"no password here", "", "no password here"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(HidePassword(c.message, c.password), c.shown);
    }
}

} // namespace
} // namespace station
