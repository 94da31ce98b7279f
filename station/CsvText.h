#pragma once
// Comma-separated values as RFC 4180 writes them: CR LF line ends, a field in double quotes
// (quotes doubled) when it holds a comma, a quote or a line end.
#include <string>
#include <vector>

namespace station {

std::string CsvField(const std::string& text);
// One row with its CR LF.
std::string CsvRow(const std::vector<std::string>& fields);

} // namespace station
