#pragma once
// ModemManager probes the serial ports of modems with AT commands of its own, which can disturb
// an upgrade. Programs warn when it runs.

namespace posix_serial {

// A process named ModemManager runs on this machine (any user's; read from /proc).
bool ModemManagerRunning();

} // namespace posix_serial
