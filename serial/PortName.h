#pragma once
// Port names. A port is named "COM" and its number, 1 to 256, in decimal without leading zeros:
// COM1, COM12, COM256. Where a person types the name (the flasher's argument) the letters may be
// in either case, com7 is COM7; a name the program looks up or lists itself (the port map's
// entries, the port list) is spelled in capitals, as ComPortName writes it.
//
// Two readings older than this rule are kept beside it, each saying where it departs from it:
// the port combo box's items (ParsePortName) and Windows' list of ports (SerialCommNumber).
#include <string>
#include <string_view>

constexpr int MaxPortNumber = 256;

enum class LetterCase { Either, Capitals };

// The number of a name that follows the rule; 0 for any other text (COM0, COM07, COM257, COM1x,
// " COM1", and com1 when Capitals are asked for).
int ComPortNumber(std::string_view name, LetterCase letters = LetterCase::Either);
// "COM" and the number in decimal: the one spelling the program writes.
std::string ComPortName(int number);

// Upper-cases the letters a to z in place; every other byte stays.
void ToUpperAscii(std::string& text);

// The port combo box's reading of an item: upper-cases the text in place; -1 when it does not
// begin with "COM", otherwise the decimal number of at most the three characters after "COM"
// (stops at the first non-digit; none gives 0). Unlike the rule it takes leading zeros and text
// after the number, and gives 0 and 257 to 999: "COM1234" reads as 123.
int ParsePortName(std::string& text);

// The port number of a name Windows lists under SERIALCOMM, or -1 to skip the name: the first
// three characters are not looked at and the rest must be one to four decimal digits. Unlike the
// rule it takes any first three characters and leading zeros, and gives 0 and 257 to 9999.
int SerialCommNumber(std::string_view name);
