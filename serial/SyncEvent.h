#pragma once
// Auto-reset event: Set wakes one waiter (or the next one to wait); a wait consumes the signal.
#include <chrono>
#include <condition_variable>
#include <mutex>

class SyncEvent {
  public:
    void Set() {
        {
            std::lock_guard<std::mutex> lock(Lock);
            Signalled = true;
        }
        Changed.notify_one();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(Lock);
        Changed.wait(lock, [this] { return Signalled; });
        Signalled = false;
    }
    // True when the event was signalled, false when the time passed first.
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(Lock);
        if (!Changed.wait_for(lock, timeout, [this] { return Signalled; })) return false;
        Signalled = false;
        return true;
    }

  private:
    std::mutex Lock;
    std::condition_variable Changed;
    bool Signalled = false;
};
