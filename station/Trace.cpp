#include "station/Trace.h"

namespace station {

bool Trace::Open(const std::string& path) {
    File = std::fopen(path.c_str(), "w");
    if (File) std::setvbuf(File, nullptr, _IOLBF, 4096);
    return File != nullptr;
}

Trace::~Trace() {
    if (File) std::fclose(File);
}

double Trace::Milliseconds() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Started)
        .count();
}

void Trace::Bytes(const std::string& port, char direction, const uint8_t* data, int length) {
    if (!File || length <= 0) return;
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
        if (start == 0)
            std::fprintf(File, "%10.3f %s %c %-48s |%s|\n", ms, port.c_str(), direction, hex, text);
        else
            std::fprintf(File, "%10s %s %c %-48s |%s|\n", "", port.c_str(), direction, hex, text);
    }
    std::fflush(File);
}

void Trace::Line(const std::string& port, const std::string& text) {
    if (!File) return;
    std::lock_guard<std::mutex> guard(Lock);
    std::fprintf(File, "%10.3f %s = %s\n", Milliseconds(), port.c_str(), text.c_str());
    std::fflush(File);
}

} // namespace station
