#include "tools/devsim/SeriesIdentity.h"

#include <algorithm>

namespace devsim {

std::optional<std::string> UnitIdentity(const std::vector<std::string>& ids,
                                        const std::string& pattern, int unit) {
    if (!ids.empty()) {
        if (unit < 1 || size_t(unit) > ids.size()) return std::nullopt;
        return ids[size_t(unit) - 1];
    }
    const size_t first = pattern.find('#');
    if (first == std::string::npos) return std::nullopt;
    const size_t end = std::min(pattern.find_first_not_of('#', first), pattern.size());
    std::string number = std::to_string(unit);
    if (number.size() < end - first) number.insert(0, end - first - number.size(), '0');
    return pattern.substr(0, first) + number + pattern.substr(end);
}

} // namespace devsim
