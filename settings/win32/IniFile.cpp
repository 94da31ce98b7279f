#include "settings/IniFile.h"

#include "base/win32/WideText.h"

#include <atomic>
#include <windows.h>

namespace {

std::atomic<unsigned> tempCounter{0};

HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

std::string IniWriteTarget(const std::string& path) {
    return path;
}

IniTargetKind IniTargetKindOf(const std::string& target) {
    const DWORD attributes = GetFileAttributesW(WideFromUtf8(target).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return IniTargetKind::Missing;
    return attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE) ? IniTargetKind::Other
                                                                           : IniTargetKind::Regular;
}

IniReplacement::IniReplacement(const std::string& target) : target_(target) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_ = target + "." + std::to_string(GetCurrentProcessId()) + "." +
                std::to_string(tempCounter++) + ".tmp";
        HANDLE file = CreateFileW(WideFromUtf8(temp_).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    if (!committed_ && !temp_.empty()) DeleteFileW(WideFromUtf8(temp_).c_str());
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
    const std::wstring target = WideFromUtf8(target_), temp = WideFromUtf8(temp_);
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
