#include "station/Uuid.h"

#include <cerrno>
#include <sys/random.h>

namespace station {

bool SystemRandomBytes(unsigned char* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t got = getrandom(buffer + done, count - done, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += size_t(got);
    }
    return true;
}

} // namespace station
