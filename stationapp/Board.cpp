#include "stationapp/Board.h"

#include <cstdio>

namespace stationapp {

std::string FooterText(const station::YieldCount& counts, double elapsedSeconds) {
    char yield[16] = "-";
    if (counts.DistinctUnits() > 0)
        std::snprintf(yield, sizeof yield, "%.1f", counts.FirstPassYield() * 100);
    const long perHour =
        elapsedSeconds > 0 ? long(counts.Units() * 3600 / elapsedSeconds + 0.5) : 0;
    const long total = elapsedSeconds > 0 ? long(elapsedSeconds) : 0;
    char clock[32];
    std::snprintf(clock, sizeof clock, "%02ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                  total % 60);
    return "通过 " + std::to_string(counts.Passed) + "  失败 " + std::to_string(counts.Failed) +
           "  直通率 " + yield + " %  每小时 " + std::to_string(perHour) + " 台  用时 " + clock;
}

void Board::Reset(const std::vector<std::pair<std::string, std::string>>& slots) {
    std::lock_guard<std::mutex> guard(Lock);
    Slots.clear();
    for (const auto& [name, port] : slots) {
        Tile tile;
        tile.Name = name;
        tile.Port = port;
        Slots.push_back(tile);
    }
    Changed.assign(Slots.size(), true);
    AnyChange = true;
    Yield = {};
    Begun = {};
    Frozen = -1;
    LogReason.clear();
    Note.clear();
}

std::vector<Tile> Board::Tiles() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Slots;
}

std::vector<Board::Change> Board::TakeChanges() {
    std::lock_guard<std::mutex> guard(Lock);
    std::vector<Change> changes;
    for (size_t i = 0; i < Slots.size(); ++i)
        if (Changed[i]) {
            changes.push_back({i, Slots[i]});
            Changed[i] = false;
        }
    AnyChange = false;
    return changes;
}

bool Board::WaitForChange(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(Lock);
    return Woken.wait_for(lock, timeout, [this] { return AnyChange || Closed; }) && !Closed;
}

void Board::Close() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Closed = true;
    }
    Woken.notify_all();
}

void Board::Poke() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        AnyChange = true;
    }
    Woken.notify_all();
}

template <typename Fn> void Board::Update(const std::string& slot, Fn change) {
    {
        std::lock_guard<std::mutex> guard(Lock);
        size_t i = 0;
        while (i < Slots.size() && Slots[i].Name != slot)
            ++i;
        if (i == Slots.size()) return;
        change(Slots[i]);
        Changed[i] = true;
        AnyChange = true;
    }
    Woken.notify_all();
}

void Board::Started(Clock::time_point now) {
    std::lock_guard<std::mutex> guard(Lock);
    Begun = now;
    Frozen = -1;
}

void Board::AllStopped() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        for (size_t i = 0; i < Slots.size(); ++i) {
            Slots[i].State = TileState::Stopped;
            Changed[i] = true;
        }
        AnyChange = true;
        if (Begun != Clock::time_point{})
            Frozen = std::chrono::duration<double>(Clock::now() - Begun).count();
    }
    Woken.notify_all();
}

void Board::Revived(const std::string& slot) {
    Update(slot, [](Tile& tile) {
        tile.State = TileState::Waiting;
        tile.Reason.clear();
    });
}

std::string Board::Footer(Clock::time_point now) const {
    std::lock_guard<std::mutex> guard(Lock);
    double elapsed = Frozen;
    if (elapsed < 0)
        elapsed =
            Begun == Clock::time_point{} ? 0 : std::chrono::duration<double>(now - Begun).count();
    return FooterText(Yield, elapsed);
}

station::YieldCount Board::Counts() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Yield;
}

bool Board::AnyUnderWay() const {
    std::lock_guard<std::mutex> guard(Lock);
    for (const Tile& tile : Slots)
        if (UnderWay(tile)) return true;
    return false;
}

std::string Board::LogError() const {
    std::lock_guard<std::mutex> guard(Lock);
    return LogReason;
}

std::string Board::LastMessage() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Note;
}

void Board::Waiting(const std::string& slot) {
    Update(slot, [](Tile& tile) {
        tile.State = TileState::Waiting;
        tile.Id.clear();
    });
}

void Board::Busy(const std::string& slot, const std::string&) {
    Update(slot, [](Tile& tile) { tile.State = TileState::Busy; });
}

void Board::Found(const std::string& slot, const station::FoundUnit& unit) {
    Update(slot, [&](Tile& tile) {
        tile.State = TileState::Upgrading;
        tile.Percent = 0;
        tile.Id = unit.Id.value_or("");
        tile.Since = Clock::now();
        tile.Seconds = 0;
    });
}

void Board::Start(const std::string& slot, const std::string&, const std::string&, int, int) {
    Update(slot, [](Tile& tile) {
        tile.State = TileState::Upgrading;
        tile.Percent = 0;
    });
}

void Board::Progress(const std::string& slot, int, int, int percent) {
    Update(slot, [percent](Tile& tile) {
        tile.State = TileState::Upgrading;
        tile.Percent = percent;
    });
}

void Board::Verify(const std::string& slot) {
    Update(slot, [](Tile& tile) { tile.State = TileState::Verifying; });
}

void Board::Result(const std::string& slot, const station::UnitRecord& record, const std::string&) {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Yield.Add(record.Id.value_or(""), record.Ok);
    }
    Update(slot, [&](Tile& tile) {
        tile.State = record.Ok ? TileState::Passed : TileState::Failed;
        tile.LastOk = record.Ok;
        tile.Reason = record.Ok ? std::string() : record.Message;
        if (record.Id) tile.Id = *record.Id;
        tile.Seconds = record.Seconds;
        ++(record.Ok ? tile.Passed : tile.Failed);
    });
}

void Board::RemoveUnit(const std::string& slot) {
    Update(slot, [](Tile& tile) { tile.State = TileState::TakeAway; });
}

void Board::OutOfService(const std::string& slot, const std::string& reason) {
    Update(slot, [&](Tile& tile) {
        tile.State = TileState::OutOfService;
        tile.Reason = reason;
    });
}

void Board::LogFailed(const std::string& reason) {
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (LogReason.empty()) LogReason = reason;
        AnyChange = true;
    }
    Woken.notify_all();
}

void Board::Message(const std::string& text) {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Note = text;
        AnyChange = true;
    }
    Woken.notify_all();
}

} // namespace stationapp
