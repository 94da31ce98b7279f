#include "app/IniFile.h"

#include <atomic>
#include <windows.h>

namespace {

std::atomic<unsigned> tempCounter{0};

std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), n);
    return wide;
}

HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

IniSource::IniSource(const std::string& path) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
}

IniSource::~IniSource() {
    if (Valid()) CloseHandle(AsHandle(handle_));
}

int64_t IniSource::Read(char* buffer, size_t size) {
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle_), buffer, DWORD(size), &got, nullptr)) return -1;
    return int64_t(got);
}

int64_t IniSource::ReadAt(char* buffer, size_t size, uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle_), buffer, DWORD(size), &got, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return int64_t(got);
}

std::string IniWriteTarget(const std::string& path) {
    return path;
}

IniTargetKind IniTargetKindOf(const std::string& target) {
    const DWORD attributes = GetFileAttributesW(Wide(target).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return IniTargetKind::Missing;
    return attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE) ? IniTargetKind::Other
                                                                           : IniTargetKind::Regular;
}

IniReplacement::IniReplacement(const std::string& target) : target_(target) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_ = target + "." + std::to_string(GetCurrentProcessId()) + "." +
                std::to_string(tempCounter++) + ".tmp";
        HANDLE file = CreateFileW(Wide(temp_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            handle_ = reinterpret_cast<intptr_t>(file);
            return;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    temp_.clear();
}

IniReplacement::~IniReplacement() {
    if (Valid()) CloseHandle(AsHandle(handle_));
    if (!committed_ && !temp_.empty()) DeleteFileW(Wide(temp_).c_str());
}

bool IniReplacement::Write(const char* data, size_t size) {
    DWORD done = 0;
    return WriteFile(AsHandle(handle_), data, DWORD(size), &done, nullptr) && done == size;
}

bool IniReplacement::Commit() {
    bool ok = FlushFileBuffers(AsHandle(handle_)) != 0;
    ok = CloseHandle(AsHandle(handle_)) && ok;
    handle_ = kClosed;
    if (!ok) return false;
    const std::wstring target = Wide(target_), temp = Wide(temp_);
    // ReplaceFileW keeps the old file's attributes and security; where it cannot (no old file,
    // or a file system without it) the write-through move is just as atomic.
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES &&
        ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                     nullptr, nullptr)) {
        committed_ = true;
        return true;
    }
    committed_ = MoveFileExW(temp.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    return committed_;
}
