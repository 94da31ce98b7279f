#pragma once
// The station on the flasher's terminal: the package line, one line per slot redrawn in place and
// a footer with the counts; one line per event when standard output is not a terminal; or JSON
// Lines with "slot", "event" and "t" on every line.
#include "station/StationView.h"
#include "station/Yield.h"
#include "tools/flash/DatabaseCommand.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace flash {

enum class ScreenKind { Terminal, Lines, Json };

struct PackageLine {
    std::string Path, Md5, Info;
};

class StationScreen : public station::StationView {
  public:
    StationScreen(ScreenKind kind, std::FILE* out, std::FILE* err,
                  std::vector<std::string> slotNames, PackageLine package);
    ~StationScreen() override;
    StationScreen(const StationScreen&) = delete;
    StationScreen& operator=(const StationScreen&) = delete;

    // --quiet: one line per unit's result (and per slot out of service), then the summary.
    void ResultsOnly() { Quiet = true; }
    // -v: every change of the database's pending count as a line of its own.
    void VerboseDatabase() { DbVerbose = true; }
    // The forwarder's status (with --db only): in the footer, as a "db" event, and off a
    // terminal as a line whenever its reason changes. Any thread.
    void DatabaseStatus(const station::ForwardStatus& status);
    // Draws the package line and the slots; on a terminal the footer then follows the clock.
    void Begin();
    // A note for the operator (the stop after the first Ctrl-C, ...).
    void Note(const std::string& text);
    // The closing counts; the screen stops redrawing.
    void Summary(int passed, int failed, int units, double firstPassYield);

    void Waiting(const std::string& slot) override;
    void Busy(const std::string& slot, const std::string& device) override;
    void Found(const std::string& slot, const station::FoundUnit& unit) override;
    void Start(const std::string& slot, const std::string& package, const std::string& md5,
               int blockSize, int blocks) override;
    void Attempt(const std::string& slot, int number) override;
    void Status(const std::string& slot, const std::string& text) override;
    void Progress(const std::string& slot, int block, int blocks, int percent) override;
    void Resend(const std::string& slot, int block) override;
    void Reconnect(const std::string& slot, int block, bool ok) override;
    void Verify(const std::string& slot) override;
    void Result(const std::string& slot, const station::UnitRecord& record,
                const std::string& logError) override;
    void RemoveUnit(const std::string& slot) override;
    void Removed(const std::string& slot) override;
    void OutOfService(const std::string& slot, const std::string& reason) override;
    void LogFailed(const std::string& reason) override;
    void Message(const std::string& text) override;
    void ModemGuard(const std::string& slot, const session::ModemGuardNote& note) override;

  private:
    struct SlotLine {
        std::string Name;
        std::string State = "waiting";
        std::string Id;
        int Percent = -1;  // shown as a bar while upgrading
        int Tenths = -1;   // last tenth written off a terminal
        bool Busy = false; // a unit is in the slot: its seconds count
        std::chrono::steady_clock::time_point Since;
    };
    using Json = nlohmann::ordered_json;

    SlotLine* Find(const std::string& slot);
    double Elapsed() const;
    // An event: a JSON line, or a text line off a terminal, or the slot's line redrawn.
    void Event(const std::string& slot, const char* event, const Json& fields,
               const std::string& text);
    void Redraw();
    std::string LineText(const SlotLine& line) const;
    std::string Footer() const;
    void Ticker();

    const ScreenKind Kind;
    std::FILE* const Out;
    std::FILE* const Err;
    const PackageLine Package;
    const std::chrono::steady_clock::time_point Started;
    std::mutex Lock;
    std::condition_variable Woken;
    bool Ended = false;
    std::vector<SlotLine> Lines;
    int Drawn = 0; // lines below the package line now on the terminal
    station::YieldCount Counts;
    std::thread Timer;
    bool Quiet = false;
    bool DbVerbose = false;
    bool HasDb = false;
    station::ForwardStatus Db;
};

} // namespace flash
