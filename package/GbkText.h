#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The package's information text is GBK on disk; everything else in the program is UTF-8.

// Decodes GBK bytes; a byte sequence that is not GBK becomes U+FFFD and decoding goes on.
std::string GbkToUtf8(const uint8_t* bytes, size_t length);

// Encodes UTF-8 text as GBK; nothing when the text is not valid UTF-8 or has a character GBK
// lacks.
std::optional<std::string> Utf8ToGbk(const std::string& text);
