#pragma once
// One port of tolvane-flash: the port core, the device dialogue bound to it and the thread-free
// seams around them (a deadline as the reply timer, a condition variable as the wait). All of
// a session's work runs on the one thread that calls Flash or QueryVersion; the port's own
// threads only raise flags and wake it.
#include "dialogue/Dialogue.h"
#include "serial/MCPort.h"
#include "tools/flash/Reporter.h"
#include "tools/flash/Trace.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace flash {

// A port as named on the command line.
struct PortTarget {
    std::string Name;   // as the user wrote it, e.g. "COM7" or "/dev/ttyUSB0"
    int Number = 0;     // the COM number, 0 for a device path
    std::string Device; // what is opened
};

// "COM<n>" in any letter case through the port map and default devices, or a device path.
// False with a message when a COM number names no device.
bool ResolvePort(const std::string& text, PortTarget& out, std::string& error);

struct SessionSettings {
    LineMode Working;
    LineMode Loader;
    bool PromptReplies = false;
    double TimeoutSeconds = 0; // 0: none
};

class PortSession : DialoguePort, ReplyTimer, DialogueWait, LineModeSource, DialogueView {
  public:
    PortSession(PortTarget target, SessionSettings settings, const FirmwarePackageData* package,
                Reporter& reporter, Trace* trace);
    ~PortSession() override;
    PortSession(const PortSession&) = delete;
    PortSession& operator=(const PortSession&) = delete;

    const std::string& Name() const { return Target.Name; }
    // The upgrade run on this port, from opening it to the result (reported as well).
    RunReport Flash(const std::string& packagePath, const std::string& md5);
    // The version query; on success text holds the version as the device sent it.
    RunReport QueryVersion(std::string& text);
    // Ctrl-C: every wait ends at once, nothing more is sent. Callable from any thread.
    void Interrupt();

  private:
    class FlashPort : public MCPort {
      public:
        explicit FlashPort(PortSession& owner) : Owner(owner) {}
        ~FlashPort() override { Close(); }
        void NotifyReceived() override { Owner.Wake(Owner.Notified); }
        void BytesArrived() override {
            if (Owner.Settings.PromptReplies) Owner.Wake(Owner.Arrived);
        }

      private:
        PortSession& Owner;
    };

    // Opens at the working mode; false with the report's status and message when it cannot.
    bool OpenPort(RunReport& report);
    // Closes the port at the end of a run, ModemManager's inhibition with it.
    void ClosePort();
    void Wake(bool& flag);
    // A complete binary reply with a right checksum waits at the front of the receive queue.
    bool PromptReplyReady() const;
    void Reopen();
    std::string ModeText() const;

    // DialoguePort
    int Write(const uint8_t* data, unsigned count) override;
    int Read(uint8_t* buffer, unsigned maxCount) override;
    bool IsOpen() const override { return Port.IsOpen(); }
    int GetBaudRate() const override { return int(Port.Dcb.BaudRate); }
    void SetBaudRate(int baud) override;
    void SetParity(uint8_t parity) override;
    // ReplyTimer
    void SetInterval(int ms) override { Interval = std::chrono::milliseconds(ms); }
    void Restart() override;
    void Stop() override { TimerRunning = false; }
    // DialogueWait
    void WaitOnce() override;
    void DeliverPending() override;
    // LineModeSource
    bool ModeOf(bool working, LineMode& mode) const override;
    // DialogueView
    void ShowStatus(const std::string& text) override;
    void Alert(const std::string& text) override;
    void Attempt(int number) override;
    void Progress(int block, int blocks, int percent) override;
    void Resend(int block) override;

    const PortTarget Target;
    const SessionSettings Settings;
    Reporter& Report;
    Trace* const ByteTrace;

    std::mutex Lock; // guards the flags below, raised by the port's threads and Interrupt
    std::condition_variable Woken;
    bool Notified = false;
    bool Arrived = false;
    bool Interrupted = false;
    std::atomic<bool> Silenced{false}; // after Interrupt nothing more reaches the port

    using Clock = std::chrono::steady_clock;
    std::chrono::milliseconds Interval{5000};
    bool TimerRunning = false;
    Clock::time_point TimerDue;
    bool RunLimited = false;
    bool TimeLimitHit = false;
    Clock::time_point RunDue;
    int LastBlock = 0;

    Dialogue Talk;
    FlashPort Port; // last: its threads are gone before the rest of the session
};

} // namespace flash
