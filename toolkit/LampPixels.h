#pragma once
// The pixels of a lamp image, drawn the same way for both toolkits: each wraps them in its own
// bitmap.
#include <cstdint>
#include <vector>

#include "toolkit/Toolkit.h"

namespace tk {

// A 16 x 16 lamp with a radial highlight, antialiased by 4 x 4 supersampling; premultiplied
// 0xAARRGGBB, top row first.
std::vector<uint32_t> LampPixels(const LampImage& lamp);

} // namespace tk
