#include "serial/PortName.h"

namespace {

constexpr std::string_view Prefix = "COM";

struct Digits {
    int Value = 0;
    size_t Count = 0;
};

// The decimal digits of text from `from` on, at most maxDigits of them, up to the first
// non-digit.
Digits ReadDigits(std::string_view text, size_t from, size_t maxDigits) {
    Digits digits;
    for (size_t i = from; i < text.size() && digits.Count < maxDigits; ++i, ++digits.Count) {
        if (text[i] < '0' || text[i] > '9') break;
        digits.Value = digits.Value * 10 + (text[i] - '0');
    }
    return digits;
}

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool HasPrefix(std::string_view text, LetterCase letters) {
    if (text.size() < Prefix.size()) return false;
    for (size_t i = 0; i < Prefix.size(); ++i) {
        const char c = letters == LetterCase::Either ? UpperAscii(text[i]) : text[i];
        if (c != Prefix[i]) return false;
    }
    return true;
}

} // namespace

int ComPortNumber(std::string_view name, LetterCase letters) {
    if (!HasPrefix(name, letters) || name.size() == Prefix.size()) return 0;
    if (name[Prefix.size()] == '0') return 0;
    const Digits digits = ReadDigits(name, Prefix.size(), 3);
    if (Prefix.size() + digits.Count != name.size()) return 0;
    return digits.Value <= MaxPortNumber ? digits.Value : 0;
}

std::string ComPortName(int number) {
    return std::string(Prefix) + std::to_string(number);
}

void ToUpperAscii(std::string& text) {
    for (char& c : text)
        c = UpperAscii(c);
}

int ParsePortName(std::string& text) {
    ToUpperAscii(text);
    if (!HasPrefix(text, LetterCase::Capitals)) return -1;
    return ReadDigits(text, Prefix.size(), 3).Value;
}

int SerialCommNumber(std::string_view name) {
    if (name.size() <= Prefix.size()) return -1;
    const Digits digits = ReadDigits(name, Prefix.size(), 4);
    return Prefix.size() + digits.Count == name.size() ? digits.Value : -1;
}
