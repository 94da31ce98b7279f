#pragma once
// Store and forward: the unit records of a log sent to the factory's database in log order, on
// a thread of their own, so that the line never waits for the network or the database. The log
// stays the record of truth. A record counts as sent once its insert is committed; where the
// sending got to is kept beside the log and forced to the disk after each one, so a restart
// resumes without skipping. A record the database already holds (same key) counts as there.
#include "station/Database.h"
#include "station/RecordTable.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace station {

struct ForwardStatus {
    long long Pending = 0;      // unit records of the log not yet known to be in the database
    long long Sent = 0;         // inserted by this forwarder
    long long AlreadyThere = 0; // refused by the database as a key it holds
    bool Connected = false;
    std::string Reason; // why records wait (the database's words, no password); empty: none
};

// The pause before the next attempt; a test gives its own clock.
class RetryPause {
  public:
    virtual ~RetryPause() = default;
    // With lock held: waits on cv until the delay passed or done() holds.
    virtual void Wait(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                      std::chrono::milliseconds delay, const std::function<bool()>& done) = 0;
};

// 1, 2, 4 ... seconds, at most 30, for the attempt after so many failures in a row (from 1).
std::chrono::milliseconds RetryDelay(int failures);

struct ForwarderSettings {
    std::string LogPath;
    std::string Connection;
    int LoginTimeoutSeconds = 10;
    // How often the log is looked at when no new line was announced (another station's lines).
    std::chrono::milliseconds IdleLook{2000};
    std::shared_ptr<RetryPause> Pause; // null: the clock
};

class RecordForwarder {
  public:
    // The listener hears every change of the status, from the forwarder's thread, until Stop.
    using Listener = std::function<void(const ForwardStatus&)>;
    RecordForwarder(ForwarderSettings settings, Listener listener);
    ~RecordForwarder();
    RecordForwarder(const RecordForwarder&) = delete;
    RecordForwarder& operator=(const RecordForwarder&) = delete;

    // Starts the thread; a database already connected (the check at start) is used first.
    void Start(std::unique_ptr<Database> connected = nullptr);
    // New lines were appended to the log.
    void Notify();
    // Sends what is pending for at most the time given, then ends; the status then. A thread
    // stuck in a database call past the time is left to end on its own (it no longer reports).
    ForwardStatus Stop(std::chrono::milliseconds wait);
    ForwardStatus Status() const;

    // The progress file kept beside the log.
    static std::string ProgressPath(const std::string& logPath);

  private:
    struct Shared;
    std::shared_ptr<Shared> State;
    std::thread Thread;
};

// Sends every unit record of the log (records push): the sent and already-there counts, false
// with the reason at the first failure. progress(done, total) after each record.
bool PushLog(Database& db, const std::string& logPath, ForwardStatus& status, std::string& error,
             const std::function<void(long long, long long)>& progress);

} // namespace station
