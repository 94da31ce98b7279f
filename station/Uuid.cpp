#include "station/Uuid.h"

#include "package/Md5.h"

#include <cstdint>

namespace station {

namespace {

std::string UuidText(unsigned char bytes[16], int version) {
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | (version << 4));
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80); // RFC 4122's variant
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

} // namespace

std::string RandomUuid() {
    unsigned char bytes[16];
    if (!SystemRandomBytes(bytes, sizeof bytes)) return {};
    return UuidText(bytes, 4);
}

std::string NameUuid(const std::string& text) {
    Md5Context context;
    Md5Init(context);
    Md5Update(context, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    unsigned char digest[16];
    Md5Final(digest, context);
    return UuidText(digest, 3);
}

} // namespace station
