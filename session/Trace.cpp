#include "session/Trace.h"

#include "base/FileAccess.h"

#include <cstdio>

namespace session {

bool Trace::Open(const std::string& path) {
    File.open(PathFromUtf8(path), std::ios::out | std::ios::trunc);
    return File.is_open();
}

double Trace::Milliseconds() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Started)
        .count();
}

void Trace::Bytes(const std::string& port, char direction, const uint8_t* data, int length) {
    if (!IsOpen() || length <= 0) return;
    std::lock_guard<std::mutex> guard(Lock);
    const double ms = Milliseconds();
    // 16 bytes a line: hex, then the printable ones as text.
    for (int start = 0; start < length; start += 16) {
        char hex[16 * 3 + 1] = {};
        char text[17] = {};
        int n = 0;
        for (; n < 16 && start + n < length; ++n) {
            const uint8_t b = data[start + n];
            std::snprintf(hex + n * 3, 4, "%02X ", b);
            text[n] = b >= 0x20 && b < 0x7F ? char(b) : '.';
        }
        char stamp[32];
        if (start == 0)
            std::snprintf(stamp, sizeof stamp, "%10.3f", ms);
        else
            std::snprintf(stamp, sizeof stamp, "%10s", "");
        char columns[80];
        std::snprintf(columns, sizeof columns, "%-48s |%s|", hex, text);
        File << stamp << ' ' << port << ' ' << direction << ' ' << columns << '\n';
    }
    File.flush();
}

void Trace::Line(const std::string& port, const std::string& text) {
    if (!IsOpen()) return;
    std::lock_guard<std::mutex> guard(Lock);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f ", Milliseconds());
    File << stamp << port << " = " << text << "\n";
    File.flush();
}

} // namespace session
