#pragma once
// A file several processes append whole lines to: an exclusive lock over the whole file
// (flock on Linux, LockFileEx on Windows), reads at an offset, appends, and a flush to the disk.
// Implemented in station/posix and station/win32.
#include <cstdint>
#include <memory>
#include <string>

namespace station {

class LockedFile {
  public:
    LockedFile();
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    // Opens the file for reading and appending, creating it; false with the reason.
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const;
    // Waits for the exclusive lock; false with the reason.
    bool Lock(std::string& error);
    void Unlock();
    // The following need the lock.
    bool Size(uint64_t& size, std::string& error);
    // Up to count bytes from offset (fewer at the end of the file).
    bool ReadAt(uint64_t offset, size_t count, std::string& out, std::string& error);
    // Writes all of data at the end of the file.
    bool Append(const std::string& data, std::string& error);
    bool Truncate(uint64_t size);
    // Forces what was written onto the disk.
    bool Sync(std::string& error);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// This machine's name, for the records.
std::string HostName();

} // namespace station
