// Where a Windows program keeps Config.ini. A portable copy keeps it beside its executable, as
// the window always has. An installed copy keeps it in %APPDATA%\Tolvane, as a user cannot
// write in Program Files. Installed means: the executable's folder holds no Config.ini, and it
// lies under a Program Files folder or is a folder the user cannot write. The Program Files
// test comes first and needs no write: an administrator, and every user under wine, may write
// there, yet an installed copy must not leave settings in it. The port list comes from the
// registry, so the port map folder is only nominal.
#include "settings/SettingsLocation.h"

#include "base/win32/WideText.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

namespace {

std::wstring KnownFolder(const KNOWNFOLDERID& id) {
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path))) folder = path;
    CoTaskMemFree(path);
    return folder;
}

// The long form of an existing path, so that a short (8.3) spelling compares equal.
std::wstring LongForm(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetLongPathNameW(path.c_str(), full.data(), DWORD(full.size()));
        if (n == 0) return path;
        if (n < full.size()) {
            full.resize(n);
            return full;
        }
        full.resize(n);
    }
}

// Whether `folder` is `root` or lies inside it; letter case does not count, as on Windows.
bool IsWithin(const std::wstring& folder, std::wstring root) {
    while (root.size() > 1 && (root.back() == L'\\' || root.back() == L'/'))
        root.pop_back();
    if (root.empty() || folder.size() < root.size()) return false;
    if (CompareStringOrdinal(folder.c_str(), int(root.size()), root.c_str(), int(root.size()),
                             TRUE) != CSTR_EQUAL)
        return false;
    return folder.size() == root.size() || folder[root.size()] == L'\\' ||
           folder[root.size()] == L'/';
}

bool UnderProgramFiles(const std::wstring& folder) {
    const std::wstring path = LongForm(folder);
    for (const KNOWNFOLDERID* id : {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86}) {
        const std::wstring root = KnownFolder(*id);
        if (!root.empty() && IsWithin(path, LongForm(root))) return true;
    }
    return false;
}

// Asks the file system itself (access rules, shares, read-only media all count): a hidden
// file that vanishes as it is closed.
bool UserMayWrite(const std::wstring& folder) {
    const std::wstring probe =
        folder + WideFromUtf8("\\.tolvane-write-test-" + std::to_string(GetCurrentProcessId()));
    const HANDLE file = CreateFileW(
        probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

bool Installed(const std::wstring& exeFolder) {
    if (GetFileAttributesW((exeFolder + L"\\Config.ini").c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    return UnderProgramFiles(exeFolder) || !UserMayWrite(exeFolder);
}

} // namespace

std::string SettingsFolder(const std::string& exeFolder) {
    if (!Installed(WideFromUtf8(exeFolder))) return exeFolder;
    const std::wstring appData = KnownFolder(FOLDERID_RoamingAppData);
    return appData.empty() ? exeFolder : Utf8FromWide(appData) + "\\Tolvane";
}

std::string ConfigIniFile(const std::string& exeFolder) {
    const std::string folder = SettingsFolder(exeFolder);
    if (folder != exeFolder) CreateDirectoryW(WideFromUtf8(folder).c_str(), nullptr);
    return folder + "\\Config.ini";
}

std::string PortMapFolderFor(const std::string& exeFolder) {
    return SettingsFolder(exeFolder) + "\\ports";
}
