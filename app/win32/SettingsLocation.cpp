// On Windows Config.ini lives beside the executable, as the window has always kept it there; the
// port list comes from the registry, so the port map folder is only nominal.
#include "app/SettingsLocation.h"

#include "package/win32/WideText.h"

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
    return slash == std::wstring::npos ? "." : Utf8FromWide(path.data(), slash);
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
