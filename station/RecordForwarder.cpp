#include "station/RecordForwarder.h"

#include "station/LockedFile.h"

#include <algorithm>
#include <deque>

namespace station {

namespace {

// One unit record of the log waiting to be sent: its line, and where the line ends in the log.
struct Waiting {
    uint64_t End = 0;
    std::string Line;
    UnitRecord Record;
};

// Reads the complete lines appended to the log since offset: the unit records among them.
// offset moves past every complete line read.
bool ReadTail(const std::string& path, uint64_t& offset, std::deque<Waiting>& out,
              std::string& error) {
    LockedFile file;
    if (!file.Open(path, error) || !file.Lock(error)) return false;
    uint64_t size = 0;
    bool ok = file.Size(size, error);
    if (ok && size < offset) offset = 0; // cut or replaced: the database tells what it holds
    std::string text;
    while (ok && offset + text.size() < size) {
        std::string chunk;
        ok = file.ReadAt(offset + text.size(),
                         size_t(std::min<uint64_t>(size - offset - text.size(), 1 << 20)), chunk,
                         error);
        if (chunk.empty()) break;
        text += chunk;
    }
    file.Unlock();
    if (!ok) return false;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        Waiting w;
        w.Line = text.substr(start, end - start);
        if (!w.Line.empty() && w.Line.back() == '\r') w.Line.pop_back();
        w.End = offset + end + 1;
        if (ParseRecordLine(w.Line, w.Record, nullptr) == LineKind::Unit)
            out.push_back(std::move(w));
    }
    offset += start; // a line still being written is read again next time
    return true;
}

// The progress file: "OFFSET KEY", the end of the last record known to be sent and its key.
bool SaveProgress(const std::string& path, uint64_t offset, const std::string& key,
                  std::string& error) {
    LockedFile file;
    if (!file.Open(path, error) || !file.Lock(error)) return false;
    const bool ok = file.Truncate(0) &&
                    file.Append(std::to_string(offset) + " " + key + "\n", error) &&
                    file.Sync(error);
    file.Unlock();
    return ok;
}

// Where to resume: the offset kept, when the record ending there still has the key kept;
// else the start (a log replaced or cut: sending anew stores nothing twice).
uint64_t LoadProgress(const std::string& progressPath, const std::string& logPath) {
    std::string error, text;
    LockedFile progress;
    if (!progress.Open(progressPath, error) || !progress.Lock(error)) return 0;
    progress.ReadAt(0, 200, text, error);
    progress.Unlock();
    const size_t space = text.find(' ');
    if (space == std::string::npos) return 0;
    const uint64_t offset = std::strtoull(text.c_str(), nullptr, 10);
    std::string key = text.substr(space + 1);
    while (!key.empty() && (key.back() == '\n' || key.back() == '\r'))
        key.pop_back();
    if (offset == 0) return 0;
    LockedFile log;
    std::string tail;
    uint64_t size = 0;
    if (!log.Open(logPath, error) || !log.Lock(error)) return 0;
    const uint64_t from = offset > 65536 ? offset - 65536 : 0;
    const bool read = log.Size(size, error) && size >= offset &&
                      log.ReadAt(from, size_t(offset - from), tail, error);
    log.Unlock();
    if (!read || tail.empty() || tail.back() != '\n') return 0;
    tail.pop_back();
    std::string line =
        tail.substr(tail.rfind('\n') == std::string::npos ? 0 : tail.rfind('\n') + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    UnitRecord record;
    if (ParseRecordLine(line, record, nullptr) != LineKind::Unit) return 0;
    return StoredKey(record, line) == key ? offset : 0;
}

class ClockPause : public RetryPause {
  public:
    void Wait(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
              std::chrono::milliseconds delay, const std::function<bool()>& done) override {
        cv.wait_for(lock, delay, done);
    }
};

enum class Outcome { Inserted, Duplicate, Failed };

// One record's insert, committed when it returns Inserted (the connection commits each
// statement by itself).
Outcome Insert(Database& db, const Waiting& w, DbError& error) {
    long long rows = 0;
    if (db.Run(InsertValues(w.Record, w.Line), rows, error)) return Outcome::Inserted;
    return error.Duplicate() ? Outcome::Duplicate : Outcome::Failed;
}

// Connects (unless connected) and prepares the insert; false with the reason.
bool Ready(Database& db, const std::string& connection, int timeout, DbError& error) {
    if (!db.IsConnected() && !db.Connect(connection, timeout, error)) return false;
    const std::optional<SqlDialect> dialect = DialectOfDbms(db.DbmsName());
    if (!dialect) {
        error = DbError{"", "the database " + db.DbmsName() + " is not one this program knows"};
        db.Disconnect();
        return false;
    }
    if (!db.SetAutoCommit(true, error) || !db.Prepare(InsertStatement(*dialect), error)) {
        db.Disconnect();
        return false;
    }
    return true;
}

} // namespace

std::chrono::milliseconds RetryDelay(int failures) {
    int seconds = 1;
    for (int i = 1; i < failures && seconds < 30; ++i)
        seconds *= 2;
    return std::chrono::seconds(std::min(seconds, 30));
}

struct RecordForwarder::Shared {
    ForwarderSettings Settings;
    Listener Hear;
    std::mutex Lock;
    std::condition_variable Woken;
    bool Announced = false; // new lines since the last look
    bool Finishing = false; // Stop called: send what is pending, then end
    bool Ending = false;    // the time to finish is over
    bool Ended = false;     // the thread has left
    bool Muted = false;     // Stop returned: nobody listens any more
    ForwardStatus Now;

    void Tell() {
        if (!Muted && Hear) Hear(Now);
    }
    // Under the lock: changes the status and tells it when it changed.
    void Set(long long pending, bool connected, const std::string& reason) {
        if (Now.Pending == pending && Now.Connected == connected && Now.Reason == reason) return;
        Now.Pending = pending;
        Now.Connected = connected;
        Now.Reason = reason;
        Tell();
    }
    void Run(std::unique_ptr<Database> db);
};

void RecordForwarder::Shared::Run(std::unique_ptr<Database> db) {
    if (!db) db = std::make_unique<Database>();
    const std::string progressPath = ProgressPath(Settings.LogPath);
    std::shared_ptr<RetryPause> pause = Settings.Pause;
    if (!pause) pause = std::make_shared<ClockPause>();
    uint64_t offset = LoadProgress(progressPath, Settings.LogPath);
    std::deque<Waiting> waiting;
    bool prepared = false;
    int failures = 0;
    std::string reason;
    for (;;) {
        std::string readError;
        if (!ReadTail(Settings.LogPath, offset, waiting, readError))
            reason = "the log cannot be read: " + readError;
        std::unique_lock<std::mutex> lock(Lock);
        Announced = false;
        Set((long long)waiting.size(), db->IsConnected(), reason);
        if (Ending || (Finishing && waiting.empty())) break;
        if (waiting.empty()) {
            Woken.wait_for(lock, Settings.IdleLook,
                           [this] { return Announced || Finishing || Ending; });
            continue;
        }
        lock.unlock();

        DbError error;
        bool ok = prepared || Ready(*db, Settings.Connection, Settings.LoginTimeoutSeconds, error);
        prepared = ok;
        while (ok && !waiting.empty()) {
            const Outcome outcome = Insert(*db, waiting.front(), error);
            if (outcome == Outcome::Failed) {
                ok = false;
                break;
            }
            std::string saveError;
            const Waiting& sent = waiting.front();
            if (!SaveProgress(progressPath, sent.End, StoredKey(sent.Record, sent.Line), saveError))
                reason = "the progress file cannot be written: " + saveError;
            else
                reason.clear();
            waiting.pop_front();
            std::lock_guard<std::mutex> guard(Lock);
            ++(outcome == Outcome::Inserted ? Now.Sent : Now.AlreadyThere);
            Set((long long)waiting.size(), true, reason);
            if (Ending) break;
        }
        if (ok) {
            failures = 0;
            continue;
        }
        // The connection may be broken: a fresh one next time.
        db->Disconnect();
        prepared = false;
        reason = error.Message;
        lock.lock();
        Set((long long)waiting.size(), false, reason);
        if (Ending) break;
        pause->Wait(lock, Woken, RetryDelay(++failures), [this] { return Ending; });
    }
    std::lock_guard<std::mutex> guard(Lock);
    Ended = true;
    Woken.notify_all();
}

RecordForwarder::RecordForwarder(ForwarderSettings settings, Listener listener)
    : State(std::make_shared<Shared>()) {
    State->Settings = std::move(settings);
    State->Hear = std::move(listener);
}

RecordForwarder::~RecordForwarder() {
    Stop(std::chrono::milliseconds(0));
}

void RecordForwarder::Start(std::unique_ptr<Database> connected) {
    if (Thread.joinable()) return;
    std::shared_ptr<Shared> state = State;
    Thread = std::thread([state](std::unique_ptr<Database> db) { state->Run(std::move(db)); },
                         std::move(connected));
}

void RecordForwarder::Notify() {
    std::lock_guard<std::mutex> guard(State->Lock);
    State->Announced = true;
    State->Woken.notify_all();
}

ForwardStatus RecordForwarder::Stop(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(State->Lock);
    if (!Thread.joinable()) return State->Now;
    State->Finishing = true;
    State->Woken.notify_all();
    State->Woken.wait_for(lock, wait, [this] { return State->Ended; });
    State->Ending = true;
    State->Woken.notify_all();
    // A moment for a thread between two records to see it; a database call may take longer.
    State->Woken.wait_for(lock, std::chrono::milliseconds(500), [this] { return State->Ended; });
    State->Muted = true;
    const bool ended = State->Ended;
    const ForwardStatus status = State->Now;
    lock.unlock();
    if (ended)
        Thread.join();
    else
        Thread.detach(); // it holds its own share of the state
    return status;
}

ForwardStatus RecordForwarder::Status() const {
    std::lock_guard<std::mutex> guard(State->Lock);
    return State->Now;
}

std::string RecordForwarder::ProgressPath(const std::string& logPath) {
    return logPath + ".sent";
}

bool PushLog(Database& db, const std::string& logPath, ForwardStatus& status, std::string& error,
             const std::function<void(long long, long long)>& progress) {
    status = ForwardStatus{};
    uint64_t offset = 0;
    std::deque<Waiting> waiting;
    if (!ReadTail(logPath, offset, waiting, error)) return false;
    DbError dbError;
    if (!Ready(db, "", 0, dbError)) {
        error = dbError.Message;
        return false;
    }
    const long long total = (long long)waiting.size();
    status.Pending = total;
    status.Connected = true;
    for (long long done = 0; !waiting.empty(); ++done) {
        const Outcome outcome = Insert(db, waiting.front(), dbError);
        if (outcome == Outcome::Failed) {
            error = dbError.Message;
            status.Reason = error;
            return false;
        }
        ++(outcome == Outcome::Inserted ? status.Sent : status.AlreadyThere);
        waiting.pop_front();
        status.Pending = (long long)waiting.size();
        if (progress) progress(done + 1, total);
    }
    return true;
}

} // namespace station
