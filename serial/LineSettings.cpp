#include "serial/LineSettings.h"

#include "serial/DecimalNumber.h"

#include <cctype>

const char* const BaudRateItems = "300bps\r\n600bps\r\n1200bps\r\n2400bps\r\n4800bps\r\n9600bps\r\n"
                                  "19200bps\r\n38400bps\r\n57600bps\r\n115200bps";
const char* const ParityItems = "None\r\nOdd\r\nEven";
const char* const ByteSizeItems = "8";
const char* const StopBitsItems = "1\r\n2";

std::vector<std::string> SplitItems(const std::string& text) {
    std::vector<std::string> lines;
    if (text.empty()) return lines;
    size_t start = 0;
    for (;;) {
        size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) return lines;
        start = end + 2;
    }
}

namespace {

// A whole decimal text in [1, max].
bool ParseRate(const std::string& text, uint64_t max, uint64_t& value) {
    return ParseDecimal(text, max, value) && value >= 1;
}

} // namespace

int BaudRateOfItem(const std::string& text) {
    uint64_t baud = 0;
    return ParseRate(text.substr(0, text.find("bps")), 0x7FFFFFFF, baud) ? int(baud) : 0;
}

bool ParseLineMode(const std::string& text, LineMode& out) {
    const size_t comma = text.find(',');
    uint64_t baud = 0;
    if (comma == std::string::npos || !ParseRate(text.substr(0, comma), 4000000, baud))
        return false;
    std::string parity = text.substr(comma + 1);
    for (char& c : parity)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    uint8_t value;
    if (parity == "none" || parity == "n")
        value = 0;
    else if (parity == "odd" || parity == "o")
        value = 1;
    else if (parity == "even" || parity == "e")
        value = 2;
    else
        return false;
    out.Baud = uint32_t(baud);
    out.Parity = value;
    return true;
}

const char* ParityName(uint8_t parity) {
    switch (parity) {
    case 0:
        return "none";
    case 1:
        return "odd";
    case 2:
        return "even";
    default:
        return "?";
    }
}
