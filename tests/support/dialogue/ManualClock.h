#pragma once
// Time that moves only when a test's wait moves it, and the dialogue's reply timer on it.

#include "dialogue/DialogueSeams.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace tolvane::test {

constexpr int64_t Never = std::numeric_limits<int64_t>::max();

class ManualClock {
  public:
    int64_t Now() const { return NowMs; }
    // Time never runs backwards.
    void AdvanceTo(int64_t ms) {
        if (ms > NowMs) NowMs = ms;
    }

  private:
    int64_t NowMs = 0;
};

// One-shot, as the window's timer: Restart counts the interval from now; the tick is taken by
// the wait (InstantWait) when the clock reaches Due().
class ManualReplyTimer : public ReplyTimer {
  public:
    explicit ManualReplyTimer(const ManualClock& clock) : Clock(clock) {}

    void SetInterval(int ms) override { Interval = ms; }
    void Restart() override {
        Running = true;
        DueMs = Clock.Now() + Interval;
        Restarts.push_back(Interval);
    }
    void Stop() override { Running = false; }

    int64_t Due() const { return Running ? DueMs : Never; }
    int CurrentInterval() const { return Interval; }
    // The interval in force at every restart, in order: one entry per request that waited.
    std::vector<int> Restarts;

  private:
    const ManualClock& Clock;
    int Interval = 5000; // the window timer's design interval
    bool Running = false;
    int64_t DueMs = 0;
};

} // namespace tolvane::test
