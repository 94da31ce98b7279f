#include "tests/support/dialogue/RecordingView.h"

#include <algorithm>

namespace tolvane::test {

std::vector<std::string> RecordingView::Only(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (const std::string& line : Lines)
        if (line.rfind(prefix, 0) == 0) lines.push_back(line.substr(prefix.size()));
    return lines;
}

int RecordingView::Count(const std::string& line) const {
    return int(std::count(Lines.begin(), Lines.end(), line));
}

std::string RecordingView::LastStatus() const {
    const std::vector<std::string> statuses = Only("status ");
    return statuses.empty() ? std::string() : statuses.back();
}

} // namespace tolvane::test
