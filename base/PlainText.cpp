#include "base/PlainText.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::string WithoutLineEnds(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::string UnescapeText(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        const char* simple = text[i] != '\\' ? nullptr
                             : next == 'r'   ? "\r"
                             : next == 'n'   ? "\n"
                             : next == 't'   ? "\t"
                             : next == '\\'  ? "\\"
                                             : nullptr;
        if (simple) {
            out += simple;
            ++i;
        } else if (text[i] == '\\' && next == 'x' && i + 3 < text.size() &&
                   HexValue(text[i + 2]) >= 0 && HexValue(text[i + 3]) >= 0) {
            out += char(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}
