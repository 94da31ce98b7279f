#pragma once
// Passed, failed and first-pass yield over a series of unit results, for the station's footer
// and history's closing line.
#include <set>
#include <string>

namespace station {

class YieldCount {
  public:
    // A unit's result; units without an identity each count as a unit of their own.
    void Add(const std::string& id, bool ok);
    int Units() const { return Passed + Failed; }
    // Distinct units, and those whose first result was a pass.
    int DistinctUnits() const { return Distinct; }
    // Share (0 to 1) of distinct units that passed at their first pass; 0 with none.
    double FirstPassYield() const { return Distinct ? double(FirstPassed) / Distinct : 0; }

    int Passed = 0;
    int Failed = 0;

  private:
    std::set<std::string> Seen;
    int Distinct = 0;
    int FirstPassed = 0;
};

} // namespace station
