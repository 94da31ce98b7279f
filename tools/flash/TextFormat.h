#pragma once
// Small text helpers the flasher's views share: a number through a printf format, a progress
// bar, and times rounded to the millisecond as every JSON line gives them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace flash {

inline std::string Format(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

// "[####......]" with width cells between the brackets.
inline std::string Bar(int percent, int width) {
    const int filled = std::clamp(percent, 0, 100) * width / 100;
    return "[" + std::string(size_t(filled), '#') + std::string(size_t(width - filled), '.') + "]";
}

inline double Milliseconds(double seconds) {
    return std::round(seconds * 1000) / 1000;
}

} // namespace flash
