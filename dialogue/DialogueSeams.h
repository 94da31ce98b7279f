#pragma once
// What a dialogue needs from the outside, as small interfaces its owner binds: the window to its
// controls, timer, port component and event loop; the flasher to a port of its own, a deadline
// and a condition variable. No Qt, no platform header.

#include "serial/LineSettings.h"

#include <cstdint>
#include <string>

// The serial port the device is on.
class DialoguePort {
  public:
    virtual ~DialoguePort() = default;
    virtual int Write(const uint8_t* data, unsigned count) = 0;
    // Takes up to maxCount received bytes; never blocks.
    virtual int Read(uint8_t* buffer, unsigned maxCount) = 0;
    virtual bool IsOpen() const = 0;
    virtual int GetBaudRate() const = 0;
    // Each closes an open port, stores the value and reopens it.
    virtual void SetBaudRate(int baud) = 0;
    virtual void SetParity(uint8_t parity) = 0;
};

// The reply time-out, one-shot. Its tick reaches the dialogue as Dialogue::ReplyTimerTick.
class ReplyTimer {
  public:
    virtual ~ReplyTimer() = default;
    // In force for every following Restart.
    virtual void SetInterval(int ms) = 0;
    virtual void Restart() = 0;
    virtual void Stop() = 0;
};

// One pass of the wait for a reply: sleeps until a receive notification, the timer's tick or a
// stop, and handles what is then pending (Dialogue::CollectReply, Dialogue::ReplyTimerTick,
// whatever else its owner runs in a wait) before it returns. Never spins.
class DialogueWait {
  public:
    virtual ~DialogueWait() = default;
    virtual void WaitOnce() = 0;
    // Handles notifications that are already due, without sleeping: a reply heard before the
    // timer's tick still wins.
    virtual void DeliverPending() = 0;
};

// The device's working and upgrade line settings as chosen at the moment of asking.
class LineModeSource {
  public:
    virtual ~LineModeSource() = default;
    // False when the mode has no usable setting: the port then stays as it is.
    virtual bool ModeOf(bool working, LineMode& mode) const = 0;
};

// What the user sees of a dialogue. Texts are UTF-8. Every call comes from the dialogue's own
// thread; the defaults show nothing.
class DialogueView {
  public:
    virtual ~DialogueView() = default;
    // A transient status text ("收到应答", "读/写超时！", "重发", ...).
    virtual void ShowStatus(const std::string& /*text*/) {}
    // Bytes handed to the port / taken from it (the traffic counters and lamps).
    virtual void Sent(int32_t /*bytes*/) {}
    virtual void Received(int32_t /*bytes*/) {}
    // A refusal the user must acknowledge (a modal message box in the window).
    virtual void Alert(const std::string& /*text*/) {}
    // The run's button: true "停止" (a run is in progress), false "开始升级".
    virtual void RunButton(bool /*running*/) {}
    // Controls that may not be used while a run is in progress (false), and back (true).
    virtual void RunControls(bool /*enabled*/) {}
    // A start click: the previous result and progress disappear.
    virtual void HideRunResult() {}
    // An attempt (1 to 3) begins with the reset at the working mode.
    virtual void Attempt(int /*number*/) {}
    // The device confirmed the reset: the handshake pings begin at the upgrade mode.
    virtual void Handshaking() {}
    // The device asked for block index (blocks = the package's block count; index blocks is
    // the closing frame); percent as the progress bar shows it.
    virtual void Progress(int /*block*/, int /*blocks*/, int /*percent*/) {}
    // The block is sent again after a failed reply.
    virtual void Resend(int /*block*/) {}
    // The run ended with the device's confirmation (true) or a block failing three times.
    virtual void RunResult(bool /*ok*/) {}
};
