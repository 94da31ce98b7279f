#pragma once
// Whether a stream goes to a terminal: the views redraw lines in place only there.
#include <cstdio>

namespace flash {

bool IsTerminal(std::FILE* stream);

} // namespace flash
