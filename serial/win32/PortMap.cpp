// Port discovery on Windows: the ports the system lists under SERIALCOMM, each opened by its
// COM name.
#include "serial/PortMap.h"

#include "serial/PortName.h"
#include "serial/win32/SerialCommNames.h"

#include <windows.h>

// Windows lists its ports in the registry; the folder only answers those who ask for it.
std::string DefaultPortMapFolder() {
    return "ports";
}

std::string PortDevicePath(int number) {
    if (number < 1 || number > MaxPortNumber) return {};
    // The \\.\ form is what opens COM10 and above.
    return "\\\\.\\" + ComPortName(number);
}

std::vector<int> PresentPortNumbers() {
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Hardware\\DeviceMap\\SerialComm", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return {};
    for (DWORD index = 0;; ++index) {
        char name[256];
        BYTE data[256];
        DWORD nameSize = sizeof name, dataSize = sizeof data;
        const LONG result =
            RegEnumValueA(key, index, name, &nameSize, nullptr, nullptr, data, &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) continue;
        // The data is a NUL-terminated text; its terminator is not part of the name.
        std::string text(reinterpret_cast<const char*>(data), dataSize);
        text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
        names.push_back(std::move(text));
    }
    RegCloseKey(key);
    return SerialCommPortNumbers(names);
}
