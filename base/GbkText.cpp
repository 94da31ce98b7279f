#include "base/GbkText.h"

std::string DeviceTextToUtf8(const std::string& text) {
    if (std::optional<std::string> decoded = Gb18030ToUtf8(text)) return *decoded;
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}
