#include "tests/support/dialogue/InstantWait.h"

#include <algorithm>
#include <stdexcept>

namespace tolvane::test {

void InstantWait::WaitOnce() {
    if (++Passes > MaxPasses) throw std::runtime_error("the wait never ends");
    const int64_t action = Actions.empty() ? Never : Actions.begin()->first;
    const int64_t next = std::min({Timer.Due(), action, Port.NextNotification()});
    if (next == Never) throw std::runtime_error("a wait with no timer running and nothing due");
    Clock.AdvanceTo(next);
    if (Timer.Due() <= Clock.Now()) {
        Talk->ReplyTimerTick();
    } else if (action <= Clock.Now()) {
        auto fn = std::move(Actions.begin()->second);
        Actions.erase(Actions.begin());
        fn();
    } else {
        Port.Notify();
        Talk->CollectReply();
    }
}

void InstantWait::DeliverPending() {
    while (Port.NextNotification() <= Clock.Now()) {
        if (++Passes > MaxPasses) throw std::runtime_error("the wait never ends");
        Port.Notify();
        Talk->CollectReply();
    }
}

} // namespace tolvane::test
