#pragma once
// Little-endian fields, the byte order of the package file and of every frame on the wire.
#include <cstdint>

inline uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void WriteLe16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void WriteLe32(uint8_t* p, uint32_t v) {
    WriteLe16(p, v);
    WriteLe16(p + 2, v >> 16);
}
