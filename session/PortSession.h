#pragma once
// One port of the flasher or of a station slot: the port core, the device dialogue bound to it
// and the thread-free seams around them (a deadline as the reply timer, a condition variable as
// the wait). All of a session's work runs on the one thread that calls its operations; the
// port's own threads only raise flags and wake it.
#include "dialogue/Dialogue.h"
#include "serial/MCPort.h"
#include "session/SessionEvents.h"
#include "session/Trace.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace session {

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
    double TimeoutSeconds = 0;   // 0: none
    double ReconnectSeconds = 0; // 0: a port that vanishes during the transfer is not awaited
};

// Where an upgrade run ended, as far as the device took part.
enum class RunStage { Probe, Reset, Handshake, Transfer, Verify, Done };
const char* RunStageName(RunStage stage);

// How a text command or the version query ended.
enum class AskOutcome { Answered, Refused, NoAnswer, Stopped };

class PortSession : DialoguePort, ReplyTimer, DialogueWait, LineModeSource, DialogueView {
  public:
    PortSession(PortTarget target, SessionSettings settings, const FirmwarePackageData* package,
                SessionEvents& events, Trace* trace);
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
    bool Interrupted() const { return Silenced; }

    // --- What a station slot does around the upgrade, each on the port it opened ---
    // Resolves the port anew and opens it at the working mode; false with the report's status
    // and message when it cannot.
    bool Open(RunReport& report);
    void Close() { ClosePort(); }
    bool IsPortOpen() const { return Port.IsOpen(); }
    // What the last opening opened.
    const std::string& Device() const { return Target.Device; }
    // The version query at the working mode, as "查询版本号" asks it. switchMode false: the port
    // is already at the working mode (as Open leaves it) and is not reopened twice to get there,
    // which a station probing every second would pay for in threads started and ended.
    AskOutcome AskVersion(std::string& text, bool switchMode = true);
    // A text command at the working mode with the version query's time-out; the reply text as
    // it came (without its leading CR LF).
    AskOutcome AskText(const std::string& command, std::string& reply, bool switchMode = true);
    // One handshake ping at the loader mode (the port reopened once to get there); true when
    // the loader accepted it.
    bool PingLoader();
    // The device of the open port went away since it was opened.
    bool Vanished();
    // Bytes of further sessions' runs go to this trace (null: none).
    void SetTrace(Trace* trace) { ByteTrace = trace; }
    // Of the last Flash: where it ended and how often the port came back during the transfer.
    RunStage Stage() const { return LastStage; }
    int Reconnects() const { return Talk.Reconnects; }

  private:
    class FlashPort : public MCPort {
      public:
        explicit FlashPort(PortSession& owner) : Owner(owner) {}
        ~FlashPort() override { Close(); }
        void NotifyReceived() override { Owner.Wake(Owner.Notified); }
        void BytesArrived() override {
            if (Owner.Settings.PromptReplies) Owner.Wake(Owner.Arrived);
        }
        void DeviceVanished() override { Owner.Wake(Owner.Lost); }

      private:
        PortSession& Owner;
    };

    // Closes the port at the end of a run, ModemManager's inhibition with it.
    void ClosePort();
    void Wake(bool& flag);
    // The name still resolves to the device just opened.
    bool StillNamed() const;
    // The port vanished during the transfer: waits for it to come back, opens it again at the
    // settings in force and sends the last frame again. False when it did not come back.
    bool Reconnect();
    // Sleeps up to the time given or until Interrupt; false when interrupted.
    bool Pause(std::chrono::milliseconds time);
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
    void Handshaking() override;
    void Progress(int block, int blocks, int percent) override;
    void Resend(int block) override;

    PortTarget Target;
    const SessionSettings Settings;
    SessionEvents& Report;
    Trace* ByteTrace;

    std::mutex Lock; // guards the flags below, raised by the port's threads and Interrupt
    std::condition_variable Woken;
    bool Notified = false;
    bool Arrived = false;
    bool Interrupting = false;
    bool Lost = false;
    std::atomic<bool> Silenced{false}; // after Interrupt nothing more reaches the port

    using Clock = std::chrono::steady_clock;
    std::chrono::milliseconds Interval{5000};
    bool TimerRunning = false;
    Clock::time_point TimerDue;
    bool RunLimited = false;
    bool TimeLimitHit = false;
    Clock::time_point RunDue;
    int LastBlock = 0;
    bool InRun = false;
    RunStage LastStage = RunStage::Probe;

    Dialogue Talk;
    FlashPort Port; // last: its threads are gone before the rest of the session
};

} // namespace session
