#pragma once
// Small text helpers the flasher's views share: a number through a printf format, a progress
// bar, padding for table columns, and times rounded to the millisecond as every JSON line gives
// them.
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

// Padded to a width counted in characters (UTF-8), not bytes, for a table's columns; a text as
// wide or wider gets one space.
inline std::string PadColumns(const std::string& text, size_t width) {
    size_t chars = 0;
    for (unsigned char c : text)
        chars += (c & 0xC0) != 0x80;
    return chars >= width ? text + " " : text + std::string(width - chars, ' ');
}

inline double Milliseconds(double seconds) {
    return std::round(seconds * 1000) / 1000;
}

} // namespace flash
