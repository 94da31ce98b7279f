#pragma once
// The log of unit records: JSON Lines appended under the file's exclusive lock and forced to the
// disk, so that several stations may share one log and a line that was reported as written
// survives a power cut. Safe to call from every slot's thread.
#include "station/LockedFile.h"
#include "station/UnitRecord.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>

namespace station {

class RecordLog {
  public:
    // Opens (creates) the log and learns the passing units already in it; false with the
    // reason.
    bool Open(const std::string& path, std::string& error);
    const std::string& Path() const { return FilePath; }

    // Appends the record as one line, after setting its Repeat from the passing records in the
    // log (other writers' included). False with the reason; the log then holds no part of the
    // line.
    bool Append(UnitRecord& record, std::string& error);
    // Appends another line of this program (an out-of-service line).
    bool AppendLine(const std::string& line, std::string& error);
    // Called after each line written (the forwarder's wake-up); set before the first append.
    void OnAppended(std::function<void()> heard) { Appended = std::move(heard); }
    // Asked, for each identified record, whether another station has a passing record of the
    // same identity and MD5 (the factory's database); set before the first append.
    void AlsoAsk(std::function<bool(const std::string& id, const std::string& md5)> elsewhere) {
        PassedElsewhere = std::move(elsewhere);
    }

  private:
    // Under the file lock: reads what was appended since the last look.
    bool CatchUp(std::string& error);
    bool Write(const std::string& line, std::string& error);
    static std::string Key(const std::string& id, const std::string& md5) {
        return id + '\n' + md5;
    }

    std::mutex Lock; // one slot at a time; the file lock keeps other processes out
    LockedFile File;
    std::string FilePath;
    uint64_t Known = 0;           // bytes of the log already read
    std::string Partial;          // a line read before its end was written
    std::set<std::string> Passed; // Key(id, md5) of passing records
    std::function<void()> Appended;
    std::function<bool(const std::string&, const std::string&)> PassedElsewhere;
};

} // namespace station
