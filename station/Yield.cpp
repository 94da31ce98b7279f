#include "station/Yield.h"

namespace station {

void YieldCount::Add(const std::string& id, bool ok) {
    (ok ? Passed : Failed) += 1;
    if (!id.empty() && !Seen.insert(id).second) return; // rework of a unit seen before
    ++Distinct;
    if (ok) ++FirstPassed;
}

} // namespace station
