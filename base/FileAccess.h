#pragma once
// Reading a plain file by its UTF-8 path (the package and the settings file are read so), and
// the UTF-8 paths and arguments of the tools. Implemented in package/posix and package/win32.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The program's arguments as UTF-8, whatever the platform's own encoding of them.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// A UTF-8 path for the standard library's streams and file-system calls.
inline std::filesystem::path PathFromUtf8(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

// Creates the file at `path`, which must not exist yet, readable and writable by its owner only
// from its creation on (a private key), and writes `bytes` into it; false when it exists or
// cannot be made or written (a partly written file is removed).
bool WriteOwnerOnlyFile(const std::string& path, const std::string& bytes);

class ReadOnlyFile {
  public:
    // Opens only a regular file (never blocking on a FIFO or device); IsOpen tells.
    explicit ReadOnlyFile(const std::string& path);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool IsOpen() const { return handle_ != kClosed; }
    // Size in bytes at opening; -1 when not open.
    int64_t Size() const { return size_; }
    // Reads up to `size` bytes from where the last read ended: the count, 0 at the end, -1 on
    // an error.
    int64_t Read(void* buffer, size_t size);
    // The same from an offset; where the next Read starts is then unspecified.
    int64_t ReadAt(void* buffer, size_t size, uint64_t offset);

  private:
    static constexpr intptr_t kClosed = -1;
    intptr_t handle_ = kClosed;
    int64_t size_ = -1;
};
