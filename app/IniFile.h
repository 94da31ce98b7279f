#pragma once
// The settings file's platform side: reading a plain file, and replacing a file atomically with
// new content (written beside it, flushed to disk, then put in its place in one step).
// Implemented in app/posix and app/win32.
#include <cstddef>
#include <cstdint>
#include <string>

class IniSource {
  public:
    // Opens only a regular file, never blocking on a FIFO; Valid tells.
    explicit IniSource(const std::string& path);
    ~IniSource();
    IniSource(const IniSource&) = delete;
    IniSource& operator=(const IniSource&) = delete;
    bool Valid() const { return handle_ != kClosed; }
    // Reads on from the last Read: the count, 0 at the end, -1 on an error.
    int64_t Read(char* buffer, size_t size);
    // Reads at an offset; the position of Read is then unspecified.
    int64_t ReadAt(char* buffer, size_t size, uint64_t offset);

  private:
    static constexpr intptr_t kClosed = -1;
    intptr_t handle_ = kClosed;
};

enum class IniTargetKind { Missing, Regular, Other };

// The file a write replaces: symbolic links are followed, so a linked settings file stays linked.
std::string IniWriteTarget(const std::string& path);
IniTargetKind IniTargetKindOf(const std::string& target);

class IniReplacement {
  public:
    // A new, empty file in the target's folder, with the target's owner (where permitted) and
    // mode when the target exists; Valid tells.
    explicit IniReplacement(const std::string& target);
    ~IniReplacement(); // removes the new file unless committed
    IniReplacement(const IniReplacement&) = delete;
    IniReplacement& operator=(const IniReplacement&) = delete;
    bool Valid() const { return handle_ != kClosed; }
    bool Write(const char* data, size_t size);
    // Flushes the new content to disk and puts it in the target's place; false leaves the
    // target as it was.
    bool Commit();

  private:
    static constexpr intptr_t kClosed = -1;
    std::string target_, temp_;
    intptr_t handle_ = kClosed;
    bool committed_ = false;
};
