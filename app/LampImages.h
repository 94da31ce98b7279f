#pragma once

#include <vector>

#include "toolkit/Toolkit.h"

// The 24 images of the window's image list, 16x16 with alpha: circular lamps (0..11), then
// square ones (12..23); per shape red, green, yellow, blue, each lit, dark, grey.
std::vector<tk::LampImage> LampImages();
