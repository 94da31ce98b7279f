#pragma once
// COM port numbers (1..256) as the rest of the program knows them, mapped onto Linux devices.
//
// 1. The port map folder (default: "ports" beside the executable): an entry "COM<n>" (n from 1
//    to 256, decimal, no leading zeros) that is a symbolic link to a character device maps port
//    n to that device and wins over the defaults.
// 2. Defaults: /dev/ttyS<k> is COM k+1 (k 0..31, only when sysfs reports a real UART behind it),
//    /dev/ttyUSB<k> is COM k+33 and /dev/ttyACM<k> is COM k+65 (k 0..31).
// All functions are safe to call from any thread.
#include <string>
#include <vector>

// Replaces the port map folder; an empty text restores the default.
void SetPortMapFolder(std::string folder);
std::string PortMapFolder();
// The platform's default: "ports" beside the executable.
std::string DefaultPortMapFolder();

// The device behind a port number (the resolved path of a mapped link, or the default device
// name); empty when the number is out of range or no such device is present.
std::string PortDevicePath(int number);

// Numbers of the ports present, ascending, without duplicates. On Windows: as the registry lists
// them (up to 9999, repeats kept, at most 256).
std::vector<int> PresentPortNumbers();
