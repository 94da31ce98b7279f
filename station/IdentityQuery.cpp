#include "station/IdentityQuery.h"

#include "base/PlainText.h"

namespace station {

namespace {

bool IsBlank(char c) {
    return c == '\r' || c == '\n' || c == ' ' || c == '\t' || c == '\0';
}

void Trim(std::string& text) {
    while (!text.empty() && IsBlank(text.back()))
        text.pop_back();
    size_t start = 0;
    while (start < text.size() && IsBlank(text[start]))
        ++start;
    text.erase(0, start);
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

std::string CommandFromOption(const std::string& option) {
    std::string out = UnescapeText(option);
    if (!out.empty() && out.back() != '\r' && out.back() != '\n') out += "\r\n";
    return out;
}

std::string IdentityFromReply(const std::string& reply) {
    std::string text = reply;
    Trim(text);
    if (EndsWith(text, "ERROR")) return "";
    if (EndsWith(text, "OK")) {
        text.resize(text.size() - 2);
        Trim(text);
    }
    return text;
}

} // namespace station
