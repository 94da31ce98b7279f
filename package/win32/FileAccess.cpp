#include "package/FileAccess.h"

#include "package/win32/WideText.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

ReadOnlyFile::ReadOnlyFile(const std::string& path) {
    // Others may read and even replace the file meanwhile, as on Linux; a folder does not open.
    HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    size_ = size.QuadPart;
}

ReadOnlyFile::~ReadOnlyFile() {
    if (IsOpen()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

int64_t ReadOnlyFile::Read(uint8_t* buffer, size_t size) {
    if (!IsOpen()) return -1;
    DWORD got = 0;
    const DWORD want = size > 0x10000000 ? 0x10000000 : DWORD(size);
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, want, &got, nullptr)) return -1;
    return int64_t(got);
}

// The narrow arguments are in the ANSI code page and may have lost characters; the wide command
// line has them all.
std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i)
        args.push_back(Utf8FromWide(wide[i], wcslen(wide[i])));
    LocalFree(wide);
    return args;
}
