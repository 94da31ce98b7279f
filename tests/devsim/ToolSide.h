#pragma once
// The tool's end of the line in the device tests: the slave of the pseudo-terminal, opened raw
// at a given speed, with a receive that ends after 50 ms of quiet like the port component's.

#include <cstdint>
#include <string>
#include <termios.h>
#include <vector>

struct Burst {
    double AtMs; // since the receive started
    std::vector<uint8_t> Bytes;
};

class ToolSide {
  public:
    ~ToolSide() { Close(); }
    bool Open(const std::string& path, speed_t speed);
    void SetSpeed(speed_t speed);
    void Close();
    void Send(const std::vector<uint8_t>& bytes);
    void Send(const std::string& text);
    // Bytes that arrive until quietMs pass without one, waiting up to firstByteMs for the first.
    std::vector<uint8_t> Receive(int firstByteMs = 3000, int quietMs = 50);
    // The same, kept apart by the pauses of at least gapMs between them.
    std::vector<Burst> ReceiveBursts(int firstByteMs, int quietMs, int gapMs);
    // True when nothing arrives for ms.
    bool Silent(int ms) { return Receive(ms).empty(); }
    // True once the device end is gone (hang-up on the line).
    bool HungUp(int waitMs);
    int Fd() const { return fd_; }

  private:
    int fd_ = -1;
};

std::vector<uint8_t> Bytes(const std::string& text);
std::string Text(const std::vector<uint8_t>& bytes);
