#include "tools/flash/Terminal.h"

#include <unistd.h>

namespace flash {

bool IsTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

} // namespace flash
