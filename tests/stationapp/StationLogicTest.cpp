// The station window's logic without a screen: tiles from the station's events, the footer,
// Station.ini, when "开始" may be pressed, what closing does, and the slots as "工位设置" edits
// them.
#include <gtest/gtest.h>

#include "settings/IniProfile.h"
#include "stationapp/Board.h"
#include "stationapp/SlotEditor.h"
#include "stationapp/StationIni.h"
#include "stationapp/StationRun.h"
#include "tests/package/TempDir.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

using stationapp::Board;
using stationapp::TileState;

struct Rgb {
    int R, G, B;
};

station::UnitRecord Record(bool ok, const std::string& id, const std::string& message = "") {
    station::UnitRecord record;
    record.Ok = ok;
    if (!id.empty()) record.Id = id;
    record.Message = message;
    record.Seconds = 12.4;
    return record;
}

TEST(Tiles, EveryEventGivesItsStateWordsColourAndName) {
    station::FoundUnit found;
    found.Id = "86000000000001";
    struct Case {
        const char* What;
        std::function<void(Board&)> Events;
        TileState State;
        std::string Words;
        Rgb Colour;
        std::string Name;
    } cases[] = {
        {"start", [](Board&) {}, TileState::Waiting, "等待", {160, 160, 160}, "工位 A：等待"},
        {"busy",
         [](Board& b) { b.Busy("A", "/dev/x"); },
         TileState::Busy,
         "占用",
         {240, 140, 20},
         "工位 A：占用"},
        {"found and progress",
         [&](Board& b) {
             b.Found("A", found);
             b.Start("A", "p", "m", 4080, 16);
             b.Progress("A", 7, 16, 42);
         },
         TileState::Upgrading,
         "升级中 42 %",
         {40, 100, 220},
         "工位 A：升级中 42 % 86000000000001"},
        {"verify",
         [&](Board& b) {
             b.Found("A", found);
             b.Verify("A");
         },
         TileState::Verifying,
         "校验中",
         {40, 100, 220},
         "工位 A：校验中 86000000000001"},
        {"passed",
         [](Board& b) { b.Result("A", Record(true, "86000000000001"), ""); },
         TileState::Passed,
         "通过",
         {0, 150, 60},
         "工位 A：通过 86000000000001"},
        {"failed",
         [](Board& b) { b.Result("A", Record(false, "", "读/写超时！"), ""); },
         TileState::Failed,
         "失败：读/写超时！",
         {220, 30, 30},
         "工位 A：失败：读/写超时！"},
        {"take away after a pass",
         [](Board& b) {
             b.Result("A", Record(true, "7"), "");
             b.RemoveUnit("A");
         },
         TileState::TakeAway,
         "请取走",
         {0, 150, 60},
         "工位 A：请取走 7"},
        {"take away after a failure",
         [](Board& b) {
             b.Result("A", Record(false, "7", "x"), "");
             b.RemoveUnit("A");
         },
         TileState::TakeAway,
         "请取走",
         {220, 30, 30},
         "工位 A：请取走 7"},
        {"removed: waiting again, identity gone",
         [](Board& b) {
             b.Result("A", Record(true, "7"), "");
             b.RemoveUnit("A");
             b.Waiting("A");
         },
         TileState::Waiting,
         "等待",
         {160, 160, 160},
         "工位 A：等待"},
        {"out of service",
         [](Board& b) { b.OutOfService("A", "3 failed units"); },
         TileState::OutOfService,
         "停用：3 failed units",
         {60, 60, 60},
         "工位 A：停用：3 failed units"},
        {"brought back",
         [](Board& b) {
             b.OutOfService("A", "3 failed units");
             b.Revived("A");
         },
         TileState::Waiting,
         "等待",
         {160, 160, 160},
         "工位 A：等待"},
        {"stopped",
         [](Board& b) { b.AllStopped(); },
         TileState::Stopped,
         "已停止",
         {160, 160, 160},
         "工位 A：已停止"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        Board board;
        board.Reset({{"A", "COM3"}, {"B", "COM4"}});
        board.TakeChanges();
        c.Events(board);
        const auto changes = board.TakeChanges();
        const stationapp::Tile tile = board.Tiles()[0];
        EXPECT_EQ(tile.State, c.State);
        EXPECT_EQ(stationapp::StateWords(tile), c.Words);
        const tk::Colour colour = stationapp::StateColour(tile);
        EXPECT_EQ(colour.Red, c.Colour.R);
        EXPECT_EQ(colour.Green, c.Colour.G);
        EXPECT_EQ(colour.Blue, c.Colour.B);
        EXPECT_EQ(stationapp::AccessibleName(tile), c.Name);
        // Only the slot that had events is handed over to be drawn (all of them after a stop).
        for (const auto& change : changes)
            EXPECT_TRUE(change.Index == 0 || c.State == TileState::Stopped);
        EXPECT_TRUE(board.TakeChanges().empty());
        EXPECT_EQ(board.Tiles()[1].State,
                  c.State == TileState::Stopped ? TileState::Stopped : TileState::Waiting);
    }
}

TEST(Tiles, PortsShowTheirLastPart) {
    EXPECT_EQ(stationapp::ShortPort("COM3"), "COM3");
    EXPECT_EQ(stationapp::ShortPort("/dev/serial/by-path/pci-0:1.2:1.0-port0"),
              "pci-0:1.2:1.0-port0");
    EXPECT_EQ(stationapp::ShortPort("\\\\.\\COM12"), "COM12");
    EXPECT_EQ(stationapp::ShortPort("/dev/"), "/dev/");
}

TEST(Tiles, EventsOfUnknownSlotsChangeNothing) {
    Board board;
    board.Reset({{"A", "COM3"}});
    board.TakeChanges();
    board.Busy("Z", "/dev/z");
    board.Result("Z", Record(true, "1"), "");
    EXPECT_TRUE(board.TakeChanges().empty());
    EXPECT_EQ(board.Tiles()[0].State, TileState::Waiting);
}

TEST(Footer, CountsYieldRateAndClock) {
    station::YieldCount none;
    EXPECT_EQ(stationapp::FooterText(none, 0),
              "通过 0  失败 0  直通率 - %  每小时 0 台  用时 00:00:00");
    station::YieldCount counts;
    counts.Add("1", true);
    counts.Add("2", false);
    counts.Add("2", true); // a second try: not a first pass
    counts.Add("3", true);
    EXPECT_EQ(stationapp::FooterText(counts, 3661),
              "通过 3  失败 1  直通率 66.7 %  每小时 4 台  用时 01:01:01");
}

TEST(Footer, ResultsCountPerTileAndInTotal) {
    Board board;
    board.Reset({{"A", "COM3"}, {"B", "COM4"}});
    board.Result("A", Record(true, "1"), "");
    board.Result("A", Record(false, "2", "x"), "");
    board.Result("B", Record(true, "3"), "");
    const auto tiles = board.Tiles();
    EXPECT_EQ(tiles[0].Passed, 1);
    EXPECT_EQ(tiles[0].Failed, 1);
    EXPECT_EQ(tiles[1].Passed, 1);
    EXPECT_EQ(stationapp::CountsLine(tiles[0], Board::Clock::now()), "12 s  通过 1  失败 1");
    EXPECT_EQ(board.Counts().Units(), 3);
    board.LogFailed("disk full");
    board.LogFailed("second");
    EXPECT_EQ(board.LogError(), "disk full");
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(StationIni, WrittenAndReadBackKeepingWhatItDoesNotKnow) {
    TempDir dir;
    const std::string path = dir.File("Station.ini");
    std::ofstream(path, std::ios::binary) << "; fixture 4\r\n[Other]\r\nKeep=1\r\n[Station]\r\n"
                                             "Colour=blue\r\n";
    stationapp::StationConfig config;
    config.Slots = {{"A", "COM3"}, {"B", "/dev/serial/by-path/pci-0:1.2:1.0-port0"}, {"C", "C"}};
    config.Package = "/srv/fw/1.2.enc2";
    config.ExpectVersion = "V1.2";
    config.Lot = "L-7";
    config.Operator = "张三";
    config.LogPath = "/srv/log/records.jsonl";
    stationapp::WriteStationIni(path, config);
    const std::string written = ReadFile(path);
    for (const char* kept : {"; fixture 4\r\n", "[Other]\r\nKeep=1\r\n", "Colour=blue\r\n"})
        EXPECT_NE(written.find(kept), std::string::npos) << kept;
    EXPECT_EQ(written.find("\n\n"), std::string::npos); // the file's own line ends

    const stationapp::StationConfig back = stationapp::ReadStationIni(path, {});
    ASSERT_EQ(back.Slots.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(back.Slots[i].Name, config.Slots[i].Name);
        EXPECT_EQ(back.Slots[i].Port, config.Slots[i].Port);
    }
    EXPECT_EQ(back.Package, config.Package);
    EXPECT_EQ(back.ExpectVersion, "V1.2");
    EXPECT_EQ(back.Lot, "L-7");
    EXPECT_EQ(back.Operator, "张三");
    EXPECT_EQ(back.LogPath, config.LogPath);

    // Fewer slots: the ones taken away do not come back.
    config.Slots.resize(1);
    stationapp::WriteStationIni(path, config);
    EXPECT_EQ(stationapp::ReadStationIni(path, {}).Slots.size(), 1u);
}

TEST(StationIni, MissingFileGivesTheDefaults) {
    TempDir dir;
    stationapp::StationConfig defaults;
    defaults.LogPath = "records.jsonl";
    defaults.Slots = {{"X", "COM9"}};
    const auto config = stationapp::ReadStationIni(dir.File("none.ini"), defaults);
    EXPECT_EQ(config.LogPath, "records.jsonl");
    ASSERT_EQ(config.Slots.size(), 1u);
    EXPECT_EQ(config.Slots[0].Port, "COM9");
}

TEST(StationIni, UnwritableFolderThrowsAndLeavesTheFile) {
    TempDir dir;
    // A folder where the file should be can never be replaced, not even by root.
    std::filesystem::create_directory(dir.File("Folder.ini"));
    EXPECT_THROW(stationapp::WriteStationIni(dir.File("Folder.ini"), {}), IniWriteError);
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("Folder.ini")));
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    const std::string path = dir.File("Station.ini");
    std::ofstream(path) << "[Station]\nLot=old\n";
    chmod(dir.path().c_str(), 0555);
    stationapp::StationConfig config;
    config.Lot = "new";
    EXPECT_THROW(stationapp::WriteStationIni(path, config), IniWriteError);
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(ReadFile(path), "[Station]\nLot=old\n");
}

TEST(Controls, StartNeedsAPackageAndASlotAndAStationAtRest) {
    struct Case {
        bool Package;
        size_t Slots;
        bool Running, Allowed;
    } cases[] = {{true, 1, false, true},
                 {false, 1, false, false},
                 {true, 0, false, false},
                 {true, 4, true, false}};
    for (const Case& c : cases)
        EXPECT_EQ(stationapp::CanStart(c.Package, c.Slots, c.Running), c.Allowed)
            << c.Package << c.Slots << c.Running;
}

TEST(Controls, ClosingAsksOnlyWhileUnitsAreUpgraded) {
    EXPECT_EQ(stationapp::DecideClose(false, false), stationapp::CloseStep::Close);
    EXPECT_EQ(stationapp::DecideClose(true, false), stationapp::CloseStep::StopThenClose);
    EXPECT_EQ(stationapp::DecideClose(true, true), stationapp::CloseStep::Ask);
}

TEST(SlotEditor, PortsAreComNumbersOrDevicePaths) {
    const struct {
        const char* Typed;
        const char* Opened; // empty: refused
    } cases[] = {
        {"COM3", "COM3"},
        {"com12", "COM12"},
        {"  COM7 ", "COM7"},
        {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0",
         "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"},
        {"\\\\.\\COM12", "\\\\.\\COM12"},
        {"COM0", ""},
        {"COM257", ""},
        {"COM07", ""},
        {"ttyUSB0", ""},
        {"dev/ttyUSB0", ""},
        {"/", ""},
        {"/dev/tty\nS0", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Typed);
        EXPECT_EQ(stationapp::PortOfText(c.Typed), c.Opened);
    }
}

TEST(SlotEditor, AddsChangesAndRemovesRefusingClashes) {
    stationapp::SlotEditor editor(std::vector<station::SlotSetup>{{"A", "COM3"}});
    EXPECT_EQ(editor.NextName(), "B");
    const struct {
        const char* What;
        std::function<std::string(stationapp::SlotEditor&)> Do;
        bool Done;
        std::string Lines; // afterwards
    } steps[] = {
        {"add", [](auto& e) { return e.Add("B", "com4"); }, true, "A  COM3\r\nB  COM4"},
        {"a name taken", [](auto& e) { return e.Add("A", "COM5"); }, false, "A  COM3\r\nB  COM4"},
        {"a port taken", [](auto& e) { return e.Add("C", "COM3"); }, false, "A  COM3\r\nB  COM4"},
        {"no name", [](auto& e) { return e.Add("  ", "COM5"); }, false, "A  COM3\r\nB  COM4"},
        {"a line break in the name", [](auto& e) { return e.Add("C\nD", "COM5"); }, false,
         "A  COM3\r\nB  COM4"},
        {"no port", [](auto& e) { return e.Add("C", ""); }, false, "A  COM3\r\nB  COM4"},
        {"a device path", [](auto& e) { return e.Add(" C ", "/dev/serial/by-path/x"); }, true,
         "A  COM3\r\nB  COM4\r\nC  /dev/serial/by-path/x"},
        {"renamed, its own port kept", [](auto& e) { return e.Change(0, "前", "COM3"); }, true,
         "前  COM3\r\nB  COM4\r\nC  /dev/serial/by-path/x"},
        {"changed onto another's port", [](auto& e) { return e.Change(1, "B", "COM3"); }, false,
         "前  COM3\r\nB  COM4\r\nC  /dev/serial/by-path/x"},
        {"nothing selected", [](auto& e) { return e.Change(7, "Z", "COM9"); }, false,
         "前  COM3\r\nB  COM4\r\nC  /dev/serial/by-path/x"},
        {"removed",
         [](auto& e) {
             e.Remove(1);
             return std::string();
         },
         true, "前  COM3\r\nC  /dev/serial/by-path/x"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.What);
        const std::string why = step.Do(editor);
        EXPECT_EQ(why.empty(), step.Done) << why;
        EXPECT_EQ(editor.Lines(), step.Lines);
    }
    EXPECT_EQ(editor.NextName(), "A");
}

TEST(SlotEditor, TakesNoMoreThanThirtyTwoSlots) {
    stationapp::SlotEditor editor(std::vector<station::SlotSetup>{});
    for (int i = 1; i <= 32; ++i)
        ASSERT_EQ(editor.Add(editor.NextName(), "COM" + std::to_string(i)), "") << i;
    EXPECT_EQ(editor.Slots()[25].Name, "Z");
    EXPECT_EQ(editor.Slots()[26].Name, "27");
    EXPECT_FALSE(editor.Add("X", "COM40").empty());
    EXPECT_EQ(editor.Slots().size(), 32u);
}

TEST(StationRun, RefusesALogItCannotWriteAndStopsSlotsThatWait) {
    TempDir dir;
    Board board;
    board.Reset({{"A", dir.File("no-such-port")}});
    stationapp::StationRun run(board, [] {});
    std::string error;
    EXPECT_FALSE(run.Start({}, {{"A", dir.File("no-such-port")}}, dir.File("no/such/log"),
                           std::make_unique<FirmwarePackageData>(), error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(run.Running());

    ASSERT_TRUE(run.Start({}, {{"A", dir.File("no-such-port")}}, dir.File("log.jsonl"),
                          std::make_unique<FirmwarePackageData>(), error))
        << error;
    EXPECT_TRUE(board.WaitForChange(std::chrono::seconds(30)));
    EXPECT_FALSE(run.Revive("A")); // it still runs
    run.Stop();
    EXPECT_FALSE(run.Revive("A")); // stopping
    run.Finish();
    EXPECT_FALSE(run.Running());
    EXPECT_EQ(board.Tiles()[0].State, TileState::Waiting);
}

} // namespace
