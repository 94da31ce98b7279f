#pragma once
// The settings file's platform side: replacing a file atomically with new content (written beside
// it, flushed to disk, then put in its place in one step). It is read as any plain file is
// (package/FileAccess.h).
// Implemented in app/posix and app/win32.
#include <cstddef>
#include <cstdint>
#include <string>

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
