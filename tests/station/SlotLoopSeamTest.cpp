// The slot loop on seams: a scripted unit behind the slot's port and a manual clock, so that
// every rule of the loop (finding, identifying, verifying, the removal, out of service, the
// stops) runs in milliseconds without a device or a thread that sleeps.
#include "station/Station.h"
#include "tests/package/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace station {
namespace {

using namespace std::chrono_literals;
using session::AskOutcome;

// Time that moves only when the loop waits or the unit takes time to answer; things scheduled
// at a time happen when it is reached.
class ManualClock : public SlotClock {
  public:
    TimePoint Now() const override { return TimePoint(Elapsed); }
    std::chrono::system_clock::time_point WallNow() const override {
        return std::chrono::system_clock::time_point(std::chrono::hours(24 * 20000)) +
               std::chrono::duration_cast<std::chrono::system_clock::duration>(Elapsed);
    }
    void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable&, TimePoint due,
                   const std::function<bool()>& done) const override {
        while (!done() && Now() < due) {
            lock.unlock();
            const_cast<ManualClock*>(this)->AdvanceTo(due);
            lock.lock();
        }
    }
    // Passes time, running what is due on the way.
    void Advance(std::chrono::milliseconds time) { AdvanceTo(Now() + time); }
    void At(std::chrono::milliseconds when, std::function<void()> what) {
        Scheduled.emplace(when, std::move(what));
    }

  private:
    void AdvanceTo(TimePoint due) {
        if (!Scheduled.empty() && TimePoint(Scheduled.begin()->first) <= due) {
            auto first = Scheduled.begin();
            Elapsed = std::max(Elapsed, std::chrono::nanoseconds(first->first));
            auto what = std::move(first->second);
            Scheduled.erase(first);
            what();
            return; // the waiter looks at its condition again
        }
        Elapsed = std::max(Elapsed, due.time_since_epoch());
    }
    std::chrono::nanoseconds Elapsed{0};
    std::multimap<std::chrono::milliseconds, std::function<void()>> Scheduled;
};

// One unit at the fixture, as it answers.
struct Unit {
    std::optional<std::string> Version = "\r\nVERSION:2.1\r\n"; // null: silent
    bool InLoader = false;                                      // answers the ping
    std::optional<std::string> IdReply = "\r\n861234567890123\r\n\r\nOK\r\n";
    bool Upgrades = true;
    std::optional<std::string> VersionAfter = "\r\nVERSION:2.2\r\n"; // null: silent
    std::chrono::milliseconds TakenAfter = 3s; // after its result; then gone or mute
    bool Mute = false; // taken away, the port stays (a fixture's adapter) and nothing answers
};

// The slot's port with units placed one after another: each arrives as soon as the one before
// has been taken away for a second.
class ScriptedPort : public SlotPort {
  public:
    ScriptedPort(ManualClock& clock, std::vector<Unit> units) : Clock(clock), Units(units) {}

    bool Present(std::string* device) override {
        Settle();
        if (device) *device = "/dev/fixture";
        if (NoPort) return false;
        return AdapterStays || (!Units.empty() && (!Gone() || Units.front().Mute));
    }
    bool Open(session::RunReport& report) override {
        if (Busy) {
            report.Code = session::ExitStatus::PortNotOpened;
            return false;
        }
        ++Openings;
        PortOpen = true;
        return true;
    }
    void Close() override { PortOpen = false; }
    bool IsPortOpen() const override { return PortOpen; }
    bool Vanished() override { return Gone() && !Units.front().Mute; }
    std::string Device() const override { return "/dev/fixture"; }
    void Interrupt() override { Stopped = true; }
    bool Interrupted() const override { return Stopped; }
    AskOutcome AskVersion(std::string& text) override {
        return Answer(Here() ? (Upgraded ? Units.front().VersionAfter : Units.front().Version)
                             : std::nullopt,
                      text);
    }
    AskOutcome AskText(const std::string&, std::string& reply) override {
        return Answer(Here() ? Units.front().IdReply : std::nullopt, reply);
    }
    bool PingLoader() override {
        Clock.Advance(100ms);
        return Here() && Units.front().InLoader;
    }
    void SetTrace(session::Trace*) override {}
    session::RunReport Flash(const std::string&, const std::string&) override {
        ++Flashes;
        Clock.Advance(5s);
        session::RunReport report;
        report.Ok = !Stopped && Units.front().Upgrades;
        report.Code = report.Ok ? session::ExitStatus::Succeeded : session::ExitStatus::NoAnswer;
        report.Message = report.Ok ? "升级成功" : "no answer to block 0 in three attempts";
        Upgraded = report.Ok;
        Finished = Clock.Now();
        return report;
    }
    session::RunStage Stage() const override {
        return Upgraded ? session::RunStage::Done : session::RunStage::Handshake;
    }
    int Reconnects() const override { return 0; }

    bool Busy = false, NoPort = false;
    int Openings = 0, Flashes = 0;

  private:
    bool Here() { return !Units.empty() && !Gone(); }
    // Taken away: its result came TakenAfter ago.
    bool Gone() const { return Finished && Clock.Now() >= *Finished + Units.front().TakenAfter; }
    // The next unit takes the place of one gone for a second.
    void Settle() {
        if (Finished && Clock.Now() >= *Finished + Units.front().TakenAfter + 1s) {
            AdapterStays = AdapterStays || Units.front().Mute;
            Units.erase(Units.begin());
            Finished.reset();
            Upgraded = false;
        }
    }
    AskOutcome Answer(const std::optional<std::string>& reply, std::string& text) {
        if (Stopped) return AskOutcome::Stopped;
        Clock.Advance(reply ? 20ms : 1000ms);
        if (!reply) return AskOutcome::NoAnswer;
        text = reply->substr(2);
        return AskOutcome::Answered;
    }

    ManualClock& Clock;
    std::vector<Unit> Units;
    bool PortOpen = false, Upgraded = false, AdapterStays = false;
    std::atomic<bool> Stopped{false};
    std::optional<SlotClock::TimePoint> Finished;
};

// What the slot told, in order, as words.
class Events : public StationView {
  public:
    void Waiting(const std::string&) override { Add("waiting"); }
    void Busy(const std::string&, const std::string&) override { Add("busy"); }
    void Found(const std::string&, const FoundUnit& unit) override {
        Add(std::string(unit.InLoader ? "found in loader" : "found") +
            " id=" + unit.Id.value_or("-"));
    }
    void Verify(const std::string&) override { Add("verify"); }
    void Result(const std::string&, const UnitRecord& record, const std::string&) override {
        Records.push_back(record);
        Add(record.Ok ? "passed" : "failed");
    }
    void Removed(const std::string&) override { Add("removed"); }
    void OutOfService(const std::string&, const std::string&) override { Add("out of service"); }
    void LogFailed(const std::string&) override { Add("log failed"); }

    std::vector<std::string> Seen;
    std::vector<UnitRecord> Records;

  private:
    void Add(const std::string& what) { Seen.push_back(what); }
};

class SlotLoop : public ::testing::Test {
  protected:
    SlotLoop() {
        std::string error;
        Log.Open(Folder.File("records.jsonl"), error);
        Settings.Md5 = "00112233445566778899aabbccddeeff";
        Settings.BootTimeoutSeconds = 10;
    }
    // Runs one slot over the units until the station ends or `stopAt` (then a graceful stop).
    StationSummary Run(std::vector<Unit> units, std::chrono::milliseconds stopAt = 60s,
                       RecordLog* log = nullptr) {
        Clock.At(stopAt, [this] { Current->Stop(); });
        SlotPortMaker ports = [&](const SlotSetup&, session::SessionEvents&) {
            auto port = std::make_unique<ScriptedPort>(Clock, units);
            port->Busy = Busy;
            port->NoPort = units.empty();
            Port = port.get();
            return port;
        };
        Station station(Settings, {{"A", "COM5"}}, Package, log ? *log : Log, View, ports, Clock);
        Current = &station;
        const StationSummary summary = station.Run();
        Flashes = Port->Flashes; // the port goes with the station
        Current = nullptr;
        Port = nullptr;
        return summary;
    }

    TempDir Folder;
    RecordLog Log;
    StationSettings Settings;
    FirmwarePackageData Package;
    ManualClock Clock;
    Events View;
    bool Busy = false;
    ScriptedPort* Port = nullptr;
    int Flashes = 0;
    Station* Current = nullptr;
};

TEST_F(SlotLoop, FromFindingToRemoval) {
    struct Case {
        const char* name;
        Unit unit;
        std::string expectVersion;
        std::vector<std::string> seen;
        std::string message; // of the one record, when it failed
    };
    Unit inLoader;
    inLoader.Version.reset();
    inLoader.InLoader = true;
    Unit idError;
    idError.IdReply = "\r\nERROR\r\n";
    Unit idSilent;
    idSilent.IdReply.reset();
    Unit silentAfter;
    silentAfter.VersionAfter.reset();
    Unit failing;
    failing.Upgrades = false;
    Unit mute;
    mute.Mute = true;
    const Case cases[] = {
        {"a unit in its working mode",
         {},
         "",
         {"found id=861234567890123", "verify", "passed", "removed", "waiting"},
         ""},
        {"a unit in its loader: no identity asked",
         inLoader,
         "",
         {"found in loader id=-", "verify", "passed", "removed", "waiting"},
         ""},
        {"an identity refused",
         idError,
         "",
         {"found id=", "verify", "passed", "removed", "waiting"},
         ""},
        {"an identity not answered",
         idSilent,
         "",
         {"found id=", "verify", "passed", "removed", "waiting"},
         ""},
        {"the expected version",
         {},
         "2.2",
         {"found id=861234567890123", "verify", "passed", "removed", "waiting"},
         ""},
        {"a wrong version",
         {},
         "3.0",
         {"found id=861234567890123", "verify", "failed", "removed", "waiting"},
         "升级失败 (the version after does not contain \"3.0\")"},
        {"no version within the boot time-out",
         silentAfter,
         "",
         {"found id=861234567890123", "verify", "failed", "removed", "waiting"},
         "读/写超时！ (no version within 10 s after the transfer)"},
        {"a failed upgrade is not verified",
         failing,
         "",
         {"found id=861234567890123", "failed", "removed", "waiting"},
         "no answer to block 0 in three attempts"},
        {"taken away from an adapter that stays: 2 s unanswered",
         mute,
         "",
         {"found id=861234567890123", "verify", "passed", "removed", "waiting"},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        View = Events();
        Clock = ManualClock();
        Settings.ExpectVersion = c.expectVersion;
        // The station stops once the unit has been gone a while.
        const StationSummary summary = Run({c.unit}, 40s);
        EXPECT_EQ(View.Seen, c.seen);
        ASSERT_EQ(View.Records.size(), 1u);
        const UnitRecord& r = View.Records[0];
        EXPECT_EQ(r.Ok, c.message.empty());
        if (!c.message.empty()) {
            EXPECT_EQ(r.Message, c.message);
        }
        EXPECT_EQ(summary.Units, 1);
    }
}

TEST_F(SlotLoop, NothingThereAndABusyPortTakeNoUnit) {
    EXPECT_EQ(Run({}, 10s).Units, 0);
    EXPECT_EQ(View.Seen, (std::vector<std::string>{"waiting"}));

    View = Events();
    Clock = ManualClock();
    Busy = true;
    EXPECT_EQ(Run({Unit{}}, 10s).Units, 0);
    EXPECT_EQ(View.Seen, (std::vector<std::string>{"busy"}));
    EXPECT_EQ(Flashes, 0);
}

TEST_F(SlotLoop, OutOfServiceAfterFailuresInARowAndAPassStartsTheCountAgain) {
    Unit failing;
    failing.Upgrades = false;
    Settings.MaxSlotFailures = 2;
    const StationSummary summary = Run({failing, Unit{}, failing, failing, Unit{}}, 600s);
    EXPECT_EQ(std::count(View.Seen.begin(), View.Seen.end(), "failed"), 3);
    EXPECT_EQ(std::count(View.Seen.begin(), View.Seen.end(), "passed"), 1);
    EXPECT_EQ(View.Seen.back(), "out of service");
    EXPECT_EQ(summary.Units, 4); // the fifth unit is never taken
}

TEST_F(SlotLoop, TheGracefulStopFinishesTheUnitAndTheForcedOneDoesNot) {
    // Stopped during the upgrade (at 3 s: found at 0, flashing from then on for 5 s).
    Settings.MaxSlotFailures = 0;
    StationSummary summary = Run({Unit{}}, 3s);
    EXPECT_EQ(View.Seen,
              (std::vector<std::string>{"found id=861234567890123", "verify", "passed"}));
    EXPECT_EQ(summary.Code, session::ExitStatus::Succeeded);

    View = Events();
    Clock = ManualClock();
    Clock.At(3s, [this] { Current->Abort(); });
    summary = Run({Unit{}}, 600s);
    EXPECT_EQ(summary.Code, session::ExitStatus::Interrupted);
    ASSERT_EQ(View.Records.size(), 1u);
    EXPECT_FALSE(View.Records[0].Ok);
    EXPECT_EQ(View.Seen.back(), "failed");
}

TEST_F(SlotLoop, ALogThatFailsTakesNoFurtherUnit) {
    RecordLog full;
    std::string error;
    ASSERT_TRUE(full.Open("/dev/full", error));
    const StationSummary summary = Run({Unit{}, Unit{}}, 600s, &full);
    EXPECT_EQ(summary.Code, session::ExitStatus::UpgradeFailed);
    EXPECT_EQ(Flashes, 1);
    EXPECT_EQ(View.Seen, (std::vector<std::string>{"found id=861234567890123", "verify",
                                                   "log failed", "passed"}));
}

} // namespace
} // namespace station
