#pragma once
// The dialogue's wait on a manual clock: each pass moves the clock to the next thing that can
// happen (the reply timer's tick, a receive notification, a test's scheduled action such as the
// stop click) and handles that one thing, so a test of many seconds runs in microseconds. Of
// things due at the same moment the tick comes first, the order in which a reply heard in the
// same pass must still win.

#include "dialogue/Dialogue.h"
#include "tests/support/dialogue/ManualClock.h"
#include "tests/support/dialogue/ScriptedPort.h"

#include <functional>
#include <map>

namespace tolvane::test {

class InstantWait : public DialogueWait {
  public:
    InstantWait(ManualClock& clock, ScriptedPort& port, ManualReplyTimer& timer)
        : Clock(clock), Port(port), Timer(timer) {}
    void Bind(Dialogue& dialogue) { Talk = &dialogue; }

    // Runs fn when the clock reaches atMs inside a wait, as a handler nested in the wait does.
    void At(int64_t atMs, std::function<void()> fn) { Actions.emplace(atMs, std::move(fn)); }
    void After(int64_t ms, std::function<void()> fn) { At(Clock.Now() + ms, std::move(fn)); }

    // Throws when a wait has nothing left to wait for or never ends.
    void WaitOnce() override;
    void DeliverPending() override;

    int Passes = 0;
    int MaxPasses = 200000;

  private:
    ManualClock& Clock;
    ScriptedPort& Port;
    ManualReplyTimer& Timer;
    Dialogue* Talk = nullptr;
    std::multimap<int64_t, std::function<void()>> Actions;
};

} // namespace tolvane::test
