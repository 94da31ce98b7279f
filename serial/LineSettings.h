#pragma once
// The line settings the program offers and the texts that name them, shared by the window's
// lists, the settings file and the command-line tools. No Qt.
#include <cstdint>
#include <string>
#include <vector>

// Items of the baud-rate, parity, byte-size and stop-bits lists, CR LF between items.
extern const char* const BaudRateItems;
extern const char* const ParityItems;
extern const char* const ByteSizeItems;
extern const char* const StopBitsItems;

// Lines of an items text ("a\r\nb" is two items, "" none).
std::vector<std::string> SplitItems(const std::string& text);

// The baud rate of a baud-rate item such as "115200bps" (the digits before "bps", or the whole
// text without it), or 0 when the text names none.
int BaudRateOfItem(const std::string& text);

// A baud rate and a parity (0 none, 1 odd, 2 even).
struct LineMode {
    uint32_t Baud = 0;
    uint8_t Parity = 0;
};

// "115200,none", "9600,e", "57600,Odd": a rate from 1 to 4000000 and none/odd/even or n/o/e in
// any letter case. False (out untouched) for anything else.
bool ParseLineMode(const std::string& text, LineMode& out);
// "none", "odd", "even"; "?" for any other value.
const char* ParityName(uint8_t parity);
