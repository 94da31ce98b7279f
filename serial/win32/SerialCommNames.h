#pragma once
// The port numbers of the names listed under SERIALCOMM ("COM3"), as the port list wants them.
#include <algorithm>
#include <string>
#include <vector>

constexpr size_t MaxSerialCommNames = 256;

// The first three characters of each name are not looked at; the rest must be one to four
// decimal digits, else the name is skipped. At most 256 numbers, ascending, repeats kept.
inline std::vector<int> SerialCommPortNumbers(const std::vector<std::string>& names) {
    std::vector<int> numbers;
    for (const std::string& name : names) {
        if (numbers.size() >= MaxSerialCommNames) break;
        if (name.size() < 4 || name.size() > 7) continue;
        const std::string digits = name.substr(3);
        if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
        numbers.push_back(std::stoi(digits));
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}
