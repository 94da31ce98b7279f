// On Windows Config.ini lives beside the executable, as the window has always kept it there; the
// port list comes from the registry, so the port map folder is only nominal.
#include "app/SettingsLocation.h"

#include <windows.h>

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
    const int length = int(slash);
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, path.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, path.data(), length, out.data(), n, nullptr, nullptr);
    return out;
}

std::string SettingsFolder(const std::string& exeFolder) {
    return exeFolder;
}

std::string ConfigIniFile(const std::string& exeFolder) {
    return exeFolder + "\\Config.ini";
}

std::string PortMapFolderFor(const std::string& exeFolder) {
    return exeFolder + "\\ports";
}
