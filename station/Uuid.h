#pragma once
// The unit records' keys: random UUIDs (version 4) from the system's random source, and for a
// record written before records had keys, one made from the record's own line (version 3), so
// that the same old line always gets the same key.
#include <cstddef>
#include <string>

namespace station {

// Fills the buffer from the system's random source; false when it fails.
bool SystemRandomBytes(unsigned char* buffer, size_t count);

// "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx", lower case; empty when no random source answers.
std::string RandomUuid();
// The same text always gives the same key.
std::string NameUuid(const std::string& text);

} // namespace station
