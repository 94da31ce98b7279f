// Where Config.ini lives on Windows, run under wine (where Program Files is writable, so the
// Program Files rule is what tells an installed copy there).
#include "settings/SettingsLocation.h"

#include "base/win32/WideText.h"

#include <gtest/gtest.h>

#include <string>
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

namespace {

std::string KnownFolder(const KNOWNFOLDERID& id) {
    PWSTR path = nullptr;
    std::string folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)))
        folder = Utf8FromWide(path, wcslen(path));
    CoTaskMemFree(path);
    return folder;
}

std::string TempFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, path);
    return Utf8FromWide(path, n > 0 && path[n - 1] == L'\\' ? n - 1 : n);
}

std::string ShortForm(const std::string& path) {
    wchar_t shortPath[MAX_PATH];
    const DWORD n = GetShortPathNameW(WideFromUtf8(path).c_str(), shortPath, MAX_PATH);
    return n > 0 && n < MAX_PATH ? Utf8FromWide(shortPath, n) : path;
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFolder(const std::string& path) {
    CreateDirectoryW(WideFromUtf8(path).c_str(), nullptr);
}

void RemoveFolder(const std::string& path) {
    DeleteFileW(WideFromUtf8(path + "\\Config.ini").c_str());
    RemoveDirectoryW(WideFromUtf8(path).c_str());
}

TEST(SettingsLocationWindows, InstalledCopiesUseAppDataPortableOnesTheirOwnFolder) {
    const std::string programFiles = KnownFolder(FOLDERID_ProgramFiles);
    const std::string appData = KnownFolder(FOLDERID_RoamingAppData);
    ASSERT_FALSE(programFiles.empty());
    ASSERT_FALSE(appData.empty());
    const std::string user = appData + "\\Tolvane";
    const bool userFolderExisted = Exists(user);
    // Beside Program Files, with its name as the start of theirs: not inside it.
    const std::string installed = programFiles + "\\Tolvane location test";
    const std::string lookalike = programFiles + " location test";
    const std::string temp = TempFolder() + "\\Tolvane location test";
    const std::string missing = TempFolder() + "\\Tolvane no such folder";
    for (const std::string& folder : {installed, lookalike, temp})
        MakeFolder(folder);

    const struct {
        const char* what;
        std::string exeFolder;
        bool holdsIni;
        bool inUserFolder;
    } cases[] = {
        {"under Program Files", installed, false, true},
        {"under Program Files, short spelling", ShortForm(installed), false, true},
        {"under Program Files, other letter case",
         installed.substr(0, 3) + "PROGRAM FILES" + installed.substr(programFiles.size()), false,
         true},
        {"under Program Files, holding Config.ini", installed, true, false},
        {"beside Program Files, writable", lookalike, false, false},
        {"a writable folder elsewhere", temp, false, false},
        {"a folder nobody can write in (it does not exist)", missing, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.holdsIni)
            CloseHandle(CreateFileW(WideFromUtf8(c.exeFolder + "\\Config.ini").c_str(),
                                    GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        const std::string folder = c.inUserFolder ? user : c.exeFolder;
        EXPECT_EQ(SettingsFolder(c.exeFolder), folder);
        EXPECT_EQ(PortMapFolderFor(c.exeFolder), folder + "\\ports");
        EXPECT_EQ(ConfigIniFile(c.exeFolder), folder + "\\Config.ini");
        EXPECT_TRUE(Exists(folder)); // made, so that the file can be written
        if (c.holdsIni) DeleteFileW(WideFromUtf8(c.exeFolder + "\\Config.ini").c_str());
    }
    // The write test leaves nothing behind.
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(WideFromUtf8(temp + "\\*").c_str(), &found);
    int entries = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            ++entries;
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    EXPECT_EQ(entries, 2); // "." and ".."

    for (const std::string& folder : {installed, lookalike, temp})
        RemoveFolder(folder);
    if (!userFolderExisted) RemoveFolder(user);
}

} // namespace
