#pragma once

#include <cstdint>

// CRC-32/ISO-HDLC (the IEEE 802.3 checksum), one table lookup a byte: it guards the package file
// and every frame on the line. A negative length counts as zero.
uint32_t Crc32(const uint8_t* data, int32_t length);
