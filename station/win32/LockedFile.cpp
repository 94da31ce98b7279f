#include "station/LockedFile.h"

#include "base/PlainText.h"
#include "base/win32/WideText.h"

#include <windows.h>

#include <algorithm>

namespace station {

namespace {
std::string Reason(const char* what) {
    const DWORD code = GetLastError();
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof text - 1, nullptr);
    const std::string reason = WithoutLineEnds(text);
    return std::string(what) + ": " + (reason.empty() ? "error " + std::to_string(code) : reason);
}
} // namespace

struct LockedFile::Impl {
    HANDLE File = INVALID_HANDLE_VALUE;
};

LockedFile::LockedFile() : impl_(std::make_unique<Impl>()) {}

LockedFile::~LockedFile() {
    if (impl_->File != INVALID_HANDLE_VALUE) CloseHandle(impl_->File);
}

bool LockedFile::Open(const std::string& path, std::string& error) {
    const HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = Reason("cannot open");
        return false;
    }
    if (impl_->File != INVALID_HANDLE_VALUE) CloseHandle(impl_->File);
    impl_->File = file;
    return true;
}

bool LockedFile::IsOpen() const {
    return impl_->File != INVALID_HANDLE_VALUE;
}

bool LockedFile::Lock(std::string& error) {
    OVERLAPPED whole{};
    if (LockFileEx(impl_->File, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole))
        return true;
    error = Reason("cannot lock");
    return false;
}

void LockedFile::Unlock() {
    OVERLAPPED whole{};
    UnlockFileEx(impl_->File, 0, MAXDWORD, MAXDWORD, &whole);
}

bool LockedFile::Size(uint64_t& size, std::string& error) {
    LARGE_INTEGER value{};
    if (!GetFileSizeEx(impl_->File, &value)) {
        error = Reason("cannot read");
        return false;
    }
    size = uint64_t(value.QuadPart);
    return true;
}

bool LockedFile::ReadAt(uint64_t offset, size_t count, std::string& out, std::string& error) {
    out.resize(count);
    size_t done = 0;
    while (done < count) {
        OVERLAPPED at{};
        const uint64_t position = offset + done;
        at.Offset = DWORD(position);
        at.OffsetHigh = DWORD(position >> 32);
        DWORD got = 0;
        const DWORD chunk = DWORD(std::min<size_t>(count - done, 1u << 20));
        if (!ReadFile(impl_->File, out.data() + done, chunk, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            error = Reason("cannot read");
            return false;
        }
        if (got == 0) break;
        done += got;
    }
    out.resize(done);
    return true;
}

bool LockedFile::Append(const std::string& data, std::string& error) {
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(impl_->File, LARGE_INTEGER{}, &end, FILE_END)) {
        error = Reason("cannot write");
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
        DWORD wrote = 0;
        const DWORD chunk = DWORD(std::min<size_t>(data.size() - done, 1u << 20));
        if (!WriteFile(impl_->File, data.data() + done, chunk, &wrote, nullptr) || wrote == 0) {
            error = Reason("cannot write");
            return false;
        }
        done += wrote;
    }
    return true;
}

bool LockedFile::Truncate(uint64_t size) {
    LARGE_INTEGER at{};
    at.QuadPart = LONGLONG(size);
    return SetFilePointerEx(impl_->File, at, nullptr, FILE_BEGIN) && SetEndOfFile(impl_->File);
}

bool LockedFile::Sync(std::string& error) {
    if (FlushFileBuffers(impl_->File)) return true;
    error = Reason("cannot write to the disk");
    return false;
}

std::string HostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

} // namespace station
