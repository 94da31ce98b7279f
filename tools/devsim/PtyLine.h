#pragma once
// The device's end of a pseudo-terminal: opening the pair and reading the line settings the
// program on the other end has set.

#include <cstdint>
#include <string>

namespace devsim {

struct PtyPair {
    int Master = -1;       // the device's end; the caller owns it
    std::string SlavePath; // what the tool opens, e.g. /dev/pts/3
};

// Opens a pair with the slave in raw mode (no echo, no line editing) and closes the device's
// copy of the slave, so the tool's exclusive-use flag is released whenever the tool closes it.
bool OpenPseudoTerminal(PtyPair& pair, std::string& error);

// What termios of the slave says. Parity is not among it: the pty driver drops the parity
// enable bit, so the device cannot see it.
struct LineSettings {
    uint32_t Baud = 0;
    int DataBits = 8;
    int StopBits = 1;
};

// Read through the master; false when the settings cannot be read.
bool ReadLineSettings(int masterFd, LineSettings& settings);

} // namespace devsim
