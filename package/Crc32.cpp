#include "package/Crc32.h"

uint32_t Crc32(const uint8_t* data, int32_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (int32_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFu;
}
