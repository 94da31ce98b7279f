#pragma once
// Whole decimal numbers in text, 64 bits wide on every platform (a Windows long has only 32, so
// a ten-digit text overflowed it): the baud rates and byte sizes of the lists and command lines,
// and whatever else a tool reads as a plain count.
#include <cstdint>
#include <string_view>

// A text of decimal digits only (no sign, space or prefix; leading zeros allowed) whose value is
// at most max. False, with value untouched, for anything else: empty, another character, or a
// value above max however many digits it has.
constexpr bool ParseDecimal(std::string_view text, uint64_t max, uint64_t& value) {
    if (text.empty()) return false;
    uint64_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = uint64_t(c - '0');
        if (digit > max || number > (max - digit) / 10) return false;
        number = number * 10 + digit;
    }
    value = number;
    return true;
}
