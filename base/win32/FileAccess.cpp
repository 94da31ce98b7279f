#include "base/FileAccess.h"

#include "base/win32/WideText.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <vector>

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

namespace {

// One ReadFile takes a DWORD count; callers read on until the end anyway.
DWORD ChunkOf(size_t size) {
    return size > 0x10000000 ? 0x10000000 : DWORD(size);
}

} // namespace

int64_t ReadOnlyFile::Read(void* buffer, size_t size) {
    if (!IsOpen()) return -1;
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, ChunkOf(size), &got, nullptr))
        return -1;
    return int64_t(got);
}

int64_t ReadOnlyFile::ReadAt(void* buffer, size_t size, uint64_t offset) {
    if (!IsOpen()) return -1;
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, ChunkOf(size), &got, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
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

namespace {

// The user this process runs as (its token's user SID), into `buffer`; null when not known.
PSID CurrentUser(std::vector<uint8_t>& buffer) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    buffer.resize(size);
    const bool ok = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    CloseHandle(token);
    return ok ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid : nullptr;
}

} // namespace

bool WriteOwnerOnlyFile(const std::string& path, const std::string& bytes) {
    // A protected access list with one entry, full access for the current user: nothing is
    // inherited from the folder, so no group or other user can open the file, from its
    // creation on.
    std::vector<uint8_t> user;
    const PSID sid = CurrentUser(user);
    if (!sid) return false;
    std::vector<uint8_t> acl(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeAcl(reinterpret_cast<ACL*>(acl.data()), DWORD(acl.size()), ACL_REVISION) ||
        !AddAccessAllowedAce(reinterpret_cast<ACL*>(acl.data()), ACL_REVISION, FILE_ALL_ACCESS,
                             sid) ||
        !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<ACL*>(acl.data()), FALSE) ||
        !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return false;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    const std::wstring wide = WideFromUtf8(path);
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
        DWORD put = 0;
        ok = WriteFile(file, bytes.data() + done, ChunkOf(bytes.size() - done), &put, nullptr) &&
             put > 0;
        done += put;
    }
    ok = CloseHandle(file) && ok;
    if (!ok) DeleteFileW(wide.c_str());
    return ok;
}
