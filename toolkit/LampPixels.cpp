// Lamps drawn without a painter of either toolkit, so both show the same pixels.
#include "toolkit/LampPixels.h"

#include <algorithm>
#include <cmath>

namespace tk {

namespace {

Colour Scale(Colour c, double f) {
    auto channel = [f](uint8_t v) { return uint8_t(std::clamp(v * f, 0.0, 255.0)); };
    return Colour{channel(c.Red), channel(c.Green), channel(c.Blue)};
}

Colour Mix(Colour a, Colour b, double t) {
    auto channel = [t](uint8_t x, uint8_t y) { return uint8_t(x + (y - x) * t); };
    return Colour{channel(a.Red, b.Red), channel(a.Green, b.Green), channel(a.Blue, b.Blue)};
}

// Distance of a point outside the lamp's body (negative inside): circle or rounded square.
double Outside(bool round, double px, double py) {
    if (round) return std::hypot(px - 8, py - 8) - 6.5;
    const double qx = std::max(std::abs(px - 8) - 4.0, 0.0);
    const double qy = std::max(std::abs(py - 8) - 4.0, 0.0);
    return std::hypot(qx, qy) - 2.5;
}

struct Shading {
    Colour Centre, Base, Edge;
    double Stop;
};

Shading ShadingOf(const LampImage& lamp) {
    Colour base = lamp.Hue;
    if (lamp.Look == LampLook::Dark) base = Scale(base, 1 / 2.6);
    if (lamp.Look == LampLook::Grey) base = {150, 150, 150};
    const bool lit = lamp.Look == LampLook::Lit;
    return {lit ? Colour{255, 255, 255} : Scale(base, 1.4), base, Scale(base, 1 / 1.5),
            lit ? 0.35 : 0.25};
}

// One pixel: the average of its 4 x 4 samples, premultiplied.
uint32_t Pixel(const LampImage& lamp, const Shading& s, int x, int y) {
    const Colour outline{60, 60, 60};
    double r = 0, g = 0, b = 0, a = 0;
    for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
            const double px = x + (sx + 0.5) / 4, py = y + (sy + 0.5) / 4;
            const double d = Outside(lamp.Round, px, py);
            if (d > 0.5) continue;
            Colour c = outline;
            if (d < -0.5) {
                const double t = std::min(std::hypot(px - 6, py - 6) / 9, 1.0);
                c = t < s.Stop ? Mix(s.Centre, s.Base, t / s.Stop)
                               : Mix(s.Base, s.Edge, (t - s.Stop) / (1 - s.Stop));
            }
            r += c.Red, g += c.Green, b += c.Blue, a += 1;
        }
    const auto channel = [](double sum) { return uint32_t(sum / 16 + 0.5); };
    return uint32_t(a / 16 * 255 + 0.5) << 24 | channel(r) << 16 | channel(g) << 8 | channel(b);
}

} // namespace

std::vector<uint32_t> LampPixels(const LampImage& lamp) {
    const Shading shading = ShadingOf(lamp);
    std::vector<uint32_t> pixels(16 * 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            pixels[size_t(y * 16 + x)] = Pixel(lamp, shading, x, y);
    return pixels;
}

} // namespace tk
