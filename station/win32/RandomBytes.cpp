#include "station/Uuid.h"

#include <windows.h>

#include <bcrypt.h>

namespace station {

bool SystemRandomBytes(unsigned char* buffer, size_t count) {
    return BCryptGenRandom(nullptr, buffer, ULONG(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

} // namespace station
