#include "station/RecordLog.h"

#include <algorithm>

namespace station {

bool RecordLog::Open(const std::string& path, std::string& error) {
    std::lock_guard<std::mutex> guard(Lock);
    FilePath = path;
    if (!File.Open(path, error)) return false;
    if (!File.Lock(error)) return false;
    const bool ok = CatchUp(error);
    File.Unlock();
    return ok;
}

bool RecordLog::CatchUp(std::string& error) {
    uint64_t size = 0;
    if (!File.Size(size, error)) return false;
    if (size < Known) { // the log was cut or replaced: learn it anew
        Known = 0;
        Partial.clear();
        Passed.clear();
    }
    while (Known < size) {
        std::string chunk;
        if (!File.ReadAt(Known, size_t(std::min<uint64_t>(size - Known, 1 << 20)), chunk, error))
            return false;
        if (chunk.empty()) break;
        Known += chunk.size();
        Partial += chunk;
        size_t start = 0;
        for (size_t end; (end = Partial.find('\n', start)) != std::string::npos; start = end + 1) {
            UnitRecord record;
            if (ParseRecordLine(Partial.substr(start, end - start), record, nullptr) ==
                    LineKind::Unit &&
                record.Ok && record.Id && !record.Id->empty())
                Passed.insert(Key(*record.Id, record.Md5));
        }
        Partial.erase(0, start);
    }
    return true;
}

bool RecordLog::Write(const std::string& line, std::string& error) {
    uint64_t before = 0;
    if (!File.Size(before, error)) return false;
    // A line cut short (disk full) would spoil the one after it: take it back.
    const std::string whole = line + "\n";
    if (!File.Append(whole, error)) {
        File.Truncate(before);
        return false;
    }
    if (!File.Sync(error)) return false;
    Known = before + whole.size();
    if (Appended) Appended();
    return true;
}

bool RecordLog::Append(UnitRecord& record, std::string& error) {
    const bool identified = record.Id && !record.Id->empty();
    // Before the locks: the other slots and stations need not wait on the database.
    const bool elsewhere = identified && PassedElsewhere && PassedElsewhere(*record.Id, record.Md5);
    std::lock_guard<std::mutex> guard(Lock);
    if (!File.IsOpen()) {
        error = "the log is not open";
        return false;
    }
    if (!File.Lock(error)) return false;
    bool ok = CatchUp(error);
    if (ok) {
        record.Repeat = elsewhere || (identified && Passed.count(Key(*record.Id, record.Md5)) > 0);
        ok = Write(RecordLine(record), error);
        if (ok && record.Ok && identified) Passed.insert(Key(*record.Id, record.Md5));
    }
    File.Unlock();
    if (!ok) error = FilePath + ": " + error;
    return ok;
}

bool RecordLog::AppendLine(const std::string& line, std::string& error) {
    std::lock_guard<std::mutex> guard(Lock);
    if (!File.IsOpen()) {
        error = "the log is not open";
        return false;
    }
    if (!File.Lock(error)) return false;
    const bool ok = CatchUp(error) && Write(line, error);
    File.Unlock();
    if (!ok) error = FilePath + ": " + error;
    return ok;
}

} // namespace station
