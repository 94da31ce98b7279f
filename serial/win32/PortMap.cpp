// Port discovery on Windows: the ports the system lists under SERIALCOMM, each opened by its
// COM name.
#include "serial/PortMap.h"

#include "serial/win32/SerialCommNames.h"

#include <mutex>
#include <windows.h>

namespace {

constexpr int MaxPort = 256;

std::mutex FolderLock;
std::string& FolderOverride() { // never destroyed, as on Linux
    static std::string* folder = new std::string;
    return *folder;
}

std::string Utf8FromWide(const wchar_t* text, int length) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    return out;
}

} // namespace

std::string ExecutableFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (n == 0) return ".";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return ".";
    return Utf8FromWide(path.data(), int(slash));
}

void SetPortMapFolder(std::string folder) {
    std::lock_guard<std::mutex> lock(FolderLock);
    FolderOverride() = std::move(folder);
}

std::string PortMapFolder() {
    std::lock_guard<std::mutex> lock(FolderLock);
    return FolderOverride().empty() ? ExecutableFolder() + "\\ports" : FolderOverride();
}

std::string PortDevicePath(int number) {
    if (number < 1 || number > MaxPort) return {};
    // The \\.\ form is what opens COM10 and above.
    return "\\\\.\\COM" + std::to_string(number);
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
