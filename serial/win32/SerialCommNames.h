#pragma once
// The port numbers of the names listed under SERIALCOMM ("COM3"), as the port list wants them.
#include "serial/PortName.h"

#include <algorithm>
#include <string>
#include <vector>

constexpr size_t MaxSerialCommNames = 256;

// Each name read by SerialCommNumber; names it refuses are skipped. At most 256 numbers,
// ascending, repeats kept.
inline std::vector<int> SerialCommPortNumbers(const std::vector<std::string>& names) {
    std::vector<int> numbers;
    for (const std::string& name : names) {
        if (numbers.size() >= MaxSerialCommNames) break;
        if (const int number = SerialCommNumber(name); number >= 0) numbers.push_back(number);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}
