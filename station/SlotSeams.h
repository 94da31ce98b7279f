#pragma once
// What a slot's loop needs of its port and of time. A station gives each slot a port session
// and the steady clock; the loop's tests give it a scripted unit and a manual clock, so that
// every rule of the loop runs in milliseconds.
#include "session/PortSession.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace station {

struct SlotSetup;

class SlotPort {
  public:
    virtual ~SlotPort() = default;
    // The port's device exists now (what its name resolves to); its node in *device.
    virtual bool Present(std::string* device) = 0;
    // As the session's: opens at the working mode, false with the report when it cannot.
    virtual bool Open(session::RunReport& report) = 0;
    virtual void Close() = 0;
    virtual bool IsPortOpen() const = 0;
    virtual bool Vanished() = 0;
    virtual std::string Device() const = 0;
    virtual void Interrupt() = 0;
    virtual bool Interrupted() const = 0;
    // At the working mode, on the port as Open left it.
    virtual session::AskOutcome AskVersion(std::string& text) = 0;
    virtual session::AskOutcome AskText(const std::string& command, std::string& reply) = 0;
    virtual bool PingLoader() = 0;
    virtual void SetTrace(session::Trace* trace) = 0;
    virtual session::RunReport Flash(const std::string& packagePath, const std::string& md5) = 0;
    virtual session::RunStage Stage() const = 0;
    virtual int Reconnects() const = 0;
};

class SlotClock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~SlotClock() = default;
    virtual TimePoint Now() const = 0;
    virtual std::chrono::system_clock::time_point WallNow() const = 0;
    // Waits on `woken` (with `lock` held) until `due` or until `done` holds.
    virtual void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& woken,
                           TimePoint due, const std::function<bool()>& done) const = 0;
};

// The steady and system clocks, and condition variables that really sleep.
class SteadyClock : public SlotClock {
  public:
    TimePoint Now() const override { return std::chrono::steady_clock::now(); }
    std::chrono::system_clock::time_point WallNow() const override {
        return std::chrono::system_clock::now();
    }
    void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& woken,
                   TimePoint due, const std::function<bool()>& done) const override {
        woken.wait_until(lock, due, done);
    }
};

// Makes the port of each slot; `events` receives the upgrade's events under the slot's name.
using SlotPortMaker = std::function<std::unique_ptr<SlotPort>(const SlotSetup& setup,
                                                              session::SessionEvents& events)>;

} // namespace station
