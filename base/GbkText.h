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

// A text the device sent, for the screen: GB18030 (a superset of GBK and ASCII) when the whole
// text decodes cleanly, otherwise each byte as the Latin-1 character of that value, so nothing
// the device said is hidden.
std::string DeviceTextToUtf8(const std::string& text);

// GB18030 text decoded strictly; nothing when any byte sequence is not GB18030.
std::optional<std::string> Gb18030ToUtf8(const std::string& text);
