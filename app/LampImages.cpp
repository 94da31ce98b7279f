#include "app/LampImages.h"

std::vector<tk::LampImage> LampImages() {
    const tk::Colour colours[4] = {{235, 30, 30}, {30, 200, 40}, {250, 210, 20}, {40, 90, 240}};
    std::vector<tk::LampImage> images;
    for (bool round : {true, false})
        for (const tk::Colour& colour : colours)
            for (tk::LampLook look : {tk::LampLook::Lit, tk::LampLook::Dark, tk::LampLook::Grey})
                images.push_back({round, colour, look});
    return images;
}
