// GBK is Windows code page 936 and GB18030 code page 54936.
#include "base/GbkText.h"

#include "base/win32/WideText.h"

#include <windows.h>

namespace {

constexpr UINT kGbk = 936;
constexpr UINT kGb18030 = 54936;
constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD

// The whole input, or nothing when any sequence is invalid in the code page.
std::optional<std::wstring> DecodeStrict(UINT codePage, const char* data, size_t length) {
    if (length == 0) return std::wstring();
    const int n =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, data, int(length), nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, data, int(length), wide.data(), n);
    return wide;
}

} // namespace

std::string GbkToUtf8(const uint8_t* bytes, size_t length) {
    const char* text = reinterpret_cast<const char*>(bytes);
    if (auto wide = DecodeStrict(kGbk, text, length)) return Utf8FromWide(*wide);
    // Character by character (one or two bytes), each bad byte marked and skipped.
    std::string out;
    for (size_t i = 0; i < length;) {
        if (i + 1 < length) {
            if (auto pair = DecodeStrict(kGbk, text + i, 2); pair && pair->size() == 1) {
                out += Utf8FromWide(*pair);
                i += 2;
                continue;
            }
        }
        if (auto single = DecodeStrict(kGbk, text + i, 1)) {
            out += Utf8FromWide(*single);
        } else {
            out += kReplacement;
        }
        ++i;
    }
    return out;
}

std::optional<std::string> Utf8ToGbk(const std::string& text) {
    auto wide = DecodeStrict(CP_UTF8, text.data(), text.size());
    if (!wide) return std::nullopt;
    if (wide->empty()) return std::string();
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, wide->data(), int(wide->size()),
                                      nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) return std::nullopt;
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, wide->data(), int(wide->size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::optional<std::string> Gb18030ToUtf8(const std::string& text) {
    auto wide = DecodeStrict(kGb18030, text.data(), text.size());
    if (!wide) return std::nullopt;
    return Utf8FromWide(*wide);
}
