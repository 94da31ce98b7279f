#pragma once
// The status bar: transient status text, traffic counters and the three activity lamps.
// All on the user-interface thread; every function does nothing while there is no main window.

#include <cstdint>
#include <string>

// Lamp numbers.
constexpr int kLampActive = 0; // port open
constexpr int kLampTx = 1;     // sending
constexpr int kLampRx = 2;     // receiving

// Shows the text in RzStatusPane3 until 3000 ms after the last call.
void ShowStatus(const std::string& text);
// Writes BytesSent / BytesReceived as "N bytes sent" / "N bytes received" into SPTx / SPRx.
void UpdateByteCounters();
// Lit / dark image into the lamp, repainted at once; LampOn(1|2) (re)starts its 80 ms timer.
// Other lamp numbers do nothing.
void LampOn(int lamp);
void LampOff(int lamp);
// Lamp set-up at window creation: lamps show the status bar through, all dark.
void InitLamps();

// Bytes handed to the port and taken from it since the program started; never reset.
extern int32_t BytesSent;
extern int32_t BytesReceived;
