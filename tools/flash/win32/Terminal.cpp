#include "tools/flash/Terminal.h"

#include <io.h>

namespace flash {

bool IsTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

} // namespace flash
