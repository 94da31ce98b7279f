#pragma once
// Times of the unit records: UTC, ISO 8601 with milliseconds, so that records sort and compare
// as text.
#include <chrono>
#include <string>

namespace station {

using SystemTime = std::chrono::system_clock::time_point;

// "2026-12-09T16:35:12.123Z".
std::string IsoUtc(SystemTime time);
// "20261209T163512.123Z": for file names.
std::string CompactUtc(SystemTime time);
// A date ("2026-12-09") or a date and time ("2026-12-09T16:35", "2026-12-09 16:35:12.5", an
// optional "Z"), read as UTC, in the form IsoUtc gives. False for anything else.
bool NormaliseIsoTime(const std::string& text, std::string& out);

} // namespace station
