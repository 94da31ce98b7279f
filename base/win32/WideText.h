#pragma once
// UTF-8 and the UTF-16 of the Windows wide-character calls; shared by the Windows layers.
#include <string>

// Invalid UTF-8 becomes U+FFFD; a path with such bytes then simply does not exist.
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const wchar_t* text, size_t length);
inline std::string Utf8FromWide(const std::wstring& text) {
    return Utf8FromWide(text.data(), text.size());
}
