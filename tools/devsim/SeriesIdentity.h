#pragma once
// The identity each unit of a series answers to the identity command.

#include <optional>
#include <string>
#include <vector>

namespace devsim {

// Of unit `unit` (1 for the first): the list's entry in turn, or else the pattern with its first
// run of '#' replaced by the unit's number, zero-padded to the run's width (wider when the
// number needs it). None past the end of the list, or when neither is given.
std::optional<std::string> UnitIdentity(const std::vector<std::string>& ids,
                                        const std::string& pattern, int unit);

} // namespace devsim
