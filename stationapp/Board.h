#pragma once
// The station's events gathered for the window: every slot's tile, the counts and the footer.
// The slots' threads report here under a lock and wake whoever waits for a change; the
// window's thread takes the changed tiles and draws them.
#include "station/StationView.h"
#include "station/Yield.h"
#include "stationapp/Tiles.h"

#include <condition_variable>
#include <mutex>
#include <vector>

namespace stationapp {

// "通过 N  失败 N  直通率 X %  每小时 N 台  用时 hh:mm:ss"; the yield reads "-" before any unit.
std::string FooterText(const station::YieldCount& counts, double elapsedSeconds);

class Board : public station::StationView {
  public:
    using Clock = std::chrono::steady_clock;
    struct Change {
        size_t Index;
        Tile Shown;
    };

    // One tile per slot, in this order, all waiting.
    void Reset(const std::vector<std::pair<std::string, std::string>>& slots);
    std::vector<Tile> Tiles() const;
    // The tiles changed since the last call, at most once each.
    std::vector<Change> TakeChanges();
    // Sleeps until a tile changes or the time passes; false on a time-out or once Close()d.
    bool WaitForChange(std::chrono::milliseconds timeout);
    void Close();
    // Wakes the waiter without a tile change (a slot's station ended).
    void Poke();

    // The station begins: the clock of the footer starts.
    void Started(Clock::time_point now);
    // Every slot has ended: each tile reads 已停止.
    void AllStopped();
    // A slot brought back from out of service.
    void Revived(const std::string& slot);
    std::string Footer(Clock::time_point now) const;
    station::YieldCount Counts() const;
    bool AnyUnderWay() const;
    // The reason the log failed (empty while it works), and the last message for a person.
    std::string LogError() const;
    std::string LastMessage() const;

    void Waiting(const std::string& slot) override;
    void Busy(const std::string& slot, const std::string& device) override;
    void Found(const std::string& slot, const station::FoundUnit& unit) override;
    void Start(const std::string& slot, const std::string& package, const std::string& md5,
               int blockSize, int blocks) override;
    void Progress(const std::string& slot, int block, int blocks, int percent) override;
    void Verify(const std::string& slot) override;
    void Result(const std::string& slot, const station::UnitRecord& record,
                const std::string& logError) override;
    void RemoveUnit(const std::string& slot) override;
    void OutOfService(const std::string& slot, const std::string& reason) override;
    void LogFailed(const std::string& reason) override;
    void Message(const std::string& text) override;

  private:
    // Runs change on the slot's tile under the lock, marks it changed and wakes the waiter.
    template <typename Fn> void Update(const std::string& slot, Fn change);

    mutable std::mutex Lock;
    std::condition_variable Woken;
    std::vector<Tile> Slots;
    std::vector<bool> Changed;
    bool AnyChange = false, Closed = false;
    station::YieldCount Yield;
    Clock::time_point Begun{};
    double Frozen = -1; // the footer's seconds once everything stopped
    std::string LogReason, Note;
};

} // namespace stationapp
