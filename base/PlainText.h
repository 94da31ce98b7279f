#pragma once
// Small rules for text the programs take from a command line or a device, kept in one place so
// that the flasher, the station and the virtual device read them alike.
#include <string>

// The text without the CR and LF characters it ends with.
std::string WithoutLineEnds(std::string text);

// A text as written on a command line: "\r", "\n", "\t", "\\" and "\xHH" (two hex digits) stand
// for their characters; any other backslash stands for itself, as does a lone one at the end.
std::string UnescapeText(const std::string& text);
