#pragma once
// Linux serial device access for the port core. Nothing outside serial/posix includes the
// kernel's terminal headers.
#include <cstddef>
#include <cstdint>
#include <string>

namespace posix_serial {

// Opens the device for exclusive use: non-blocking, no controlling terminal, TIOCEXCL against
// other openers and an advisory lock that also keeps root and other processes out.
// Returns the descriptor, or -1 when the device is missing or held.
int OpenExclusive(const std::string& path);

// Raw 8-bit mode, receiver on, modem status ignored, no flow control, DTR/RTS dropped on close,
// the given rate (any rate through termios2), 5..8 data bits, parity 0 none / 1 odd / 2 even,
// stop bits 0 one / 1 one and a half (5 data bits only) / 2 two. False when the settings are
// refused. On a pseudo-terminal, settings its driver refuses or drops are accepted as long as the
// rate is set.
bool ApplyLineSettings(int fd, uint32_t baud, int byteSize, int parity, int stopBits);

// Asserts DTR and RTS (errors ignored: pseudo-terminals have no modem lines).
void RaiseModemLines(int fd);
// Discards whatever waits in the driver in both directions.
void FlushBoth(int fd);
// Bytes waiting to be read, 0 on error.
size_t BytesWaiting(int fd);
// Gives up the exclusive use and closes the descriptor.
void CloseExclusive(int fd);
// The device is a pseudo-terminal slave.
bool IsPseudoTerminal(int fd);

} // namespace posix_serial
