#pragma once
// The byte trace of --trace: every byte sent and taken from the port, and every change of line
// settings, as hex lines with a monotonic time stamp. Written through as the run goes, so a run
// that hangs or is killed leaves what happened up to then.
#include <chrono>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>

namespace session {

class Trace {
  public:
    // False when the file cannot be created. The path is UTF-8 (opened by its wide name on
    // Windows).
    bool Open(const std::string& path);
    bool IsOpen() const { return File.is_open(); }

    // direction '>' sent, '<' received.
    void Bytes(const std::string& port, char direction, const uint8_t* data, int length);
    void Line(const std::string& port, const std::string& text);

  private:
    double Milliseconds() const;

    std::ofstream File;
    std::mutex Lock;
    std::chrono::steady_clock::time_point Started = std::chrono::steady_clock::now();
};

} // namespace session
