#pragma once
// One device dialogue: the request/reply machinery, the text commands and line modes, the binary
// frames and the upgrade run, for one port. Strictly one request, one reply; every member runs on
// the thread that owns the dialogue (the window's user-interface thread, or one flasher thread
// per port), and the outside is reached only through the seams given at construction.
//
// The parts live in files of their own: ExchangeEngine.cpp (sending, waiting, collecting),
// TextCommands.cpp (reset, version, line modes), BinaryFrames.cpp, UpgradeRun.cpp.

#include "dialogue/DialogueSeams.h"
#include "dialogue/FrameCodec.h"
#include "dialogue/ReplyRecognition.h"
#include "package/FirmwarePackage.h"

#include <cstdint>

struct DialogueSeams {
    DialoguePort* Port = nullptr;
    ReplyTimer* Timer = nullptr;
    DialogueWait* Wait = nullptr;
    const LineModeSource* Modes = nullptr;
    DialogueView* View = nullptr;
    // The package the frames are built from, read afresh for every frame.
    const FirmwarePackageData* Package = nullptr;
};

enum class WaitOutcome { Stopped, TimedOut, Replied };

// Results of TextExchange, numbered as the dialogue has always numbered them.
enum TextResult : int {
    TextReplied = 1, // a text reply arrived and was copied
    TextStopped = 0, // the wait was stopped
    TextFailed = -1, // no reply in time, or a reply that is not text
};

// How an upgrade run ended.
enum class RunOutcome {
    Refused,      // no usable package or the port not open: nothing sent
    Busy,         // another exchange of this dialogue was waiting: nothing done
    NoAnswer,     // three attempts without a useful reply to block 0
    Succeeded,    // the device confirmed the whole transfer
    BlockFailed,  // a block failed three times in a row
    Stopped,      // the stop click before block 0 was answered, or StopDialogue at any point;
                  // a stop click during the transfer ends as BlockFailed: every wait then ends
                  // at once, so the block goes out twice more ("重发") and fails
    LimitReached, // more data frames than DataFrameLimit
};

// How long a handshake ping waits for its reply at a baud rate, in milliseconds: about the
// wire time of the exchange, plus the 50 ms of quiet that end a reply.
inline int HandshakeTimeoutMs(int baud) {
    return 275000 / (baud > 1 ? baud : 1) + 50;
}

// The fields of a package a data frame is built from.
DataFrameSource FrameSourceOf(const FirmwarePackageData& package);

class Dialogue {
  public:
    explicit Dialogue(const DialogueSeams& seams) : Seams(seams) {}
    Dialogue(const Dialogue&) = delete;
    Dialogue& operator=(const Dialogue&) = delete;

    const FirmwarePackageData& Package() const { return *Seams.Package; }

    // --- Exchange engine ---
    // Queues bytes for the port and tells the view.
    void SendBytes(const uint8_t* data, int32_t length);
    // The receive notification's handler: takes one notification's bytes and hands a recognised
    // reply to the waiting exchange.
    void CollectReply();
    // The reply timer's tick.
    void ReplyTimerTick();
    // Interval of the reply timer, in force for every following request.
    void SetReplyTimeout(int ms);
    // The common wait, right after the request went to SendBytes. replyBuffer holds
    // ReplyBufferSize bytes and receives the reply.
    WaitOutcome AwaitReply(uint8_t* replyBuffer);
    // Sends a zero-terminated text and waits for a text reply, copied with its terminating zero
    // into replyTarget (ReplyBufferSize bytes; may be the request's own buffer). A TextResult.
    int TextExchange(const char* request, char* replyTarget);
    // True while a version query or an upgrade run is in progress or any exchange waits: no new
    // request may start then, as it would take over the reply slot of the one in progress.
    bool DialogueBusy() const { return ActivityDepth > 0 || WaitDepth > 0; }
    // Ends whatever the dialogue does because its owner goes away: as the stop click, and the
    // run or query then ends without sending anything further.
    void StopDialogue();

    // --- Text commands and line modes ---
    // Resets the device into its loader; true when it answered "\r\nOK...". The caller has
    // cleared DialogueStopped and put the port into the working mode.
    bool ResetDevice();
    // Asks for the firmware version; on true versionText (ReplyBufferSize bytes) holds the
    // reply without its leading "\r\n".
    bool QueryVersion(char* versionText);
    // Puts the port at the baud rate and parity of the working mode (true) or the upgrade mode
    // (false); does nothing when the mode has no usable setting.
    void ApplyLineMode(bool working);

    // --- Binary frames: a FrameResult (NoPackage, FrameStopped, FrameTimedOut, WrongReply), or
    // else the next index of a data reply, or CommandAccepted for an accepted command.
    int SendDataFrame(uint16_t index);
    // payload may be null when the low 8 bits of length are 0.
    int SendCommandFrame(uint8_t code, const uint8_t* payload, int length);

    // --- Upgrade run ---
    // The start click: the whole run, from the package and port checks to the result.
    RunOutcome UpgradeRun();
    // The stop click, and the end of every run: the button reads "开始升级" again and every
    // wait ends at once.
    void EndRun();
    // True while a data frame waits for its reply. The device's loader keeps its state across
    // a brief drop of its port (a USB adapter's), so that frame may go out again.
    bool DataFrameAwaited() const { return DataFrameWaiting; }
    // The owner reopened the port after such a drop: the data frame in flight goes out again,
    // counted as a frame sent, a resend and a reconnect, and its wait starts afresh. False when
    // no data frame was waiting (nothing is sent then).
    bool PortReopened();

    // The buffer of the exchange that waits for a reply (ReplyBufferSize bytes), or null.
    uint8_t* PendingReply = nullptr;
    // Set by CollectReply for every recognised reply; cleared by each exchange before it waits.
    bool ReplyArrived = false;
    // Set by the reply timer's tick; cleared when the timer restarts.
    bool TimedOut = false;
    // Set by the stop click and at the end of an upgrade run; every wait ends at once while set.
    bool DialogueStopped = true;
    // Set by StopDialogue: the query or run in progress ends at the next point it reaches
    // without sending anything further.
    bool DialogueClosing = false;
    // How the last exchange's wait ended, for callers that must tell a time-out from a reply
    // that did not do (the status line says it in words).
    WaitOutcome LastWait = WaitOutcome::Replied;

    // A run ends as LimitReached once it has sent more data frames than this; 0 for no limit
    // (the window's behaviour: a device may ask for blocks for ever).
    int DataFrameLimit = 0;
    // Data frames sent and resends announced by the last (or current) run.
    int FramesSent = 0;
    int Resends = 0;
    int Reconnects = 0;

    // Marks a version query or upgrade run for its lifetime (see DialogueBusy).
    class Activity {
      public:
        explicit Activity(Dialogue& dialogue);
        ~Activity();
        Activity(const Activity&) = delete;
        Activity& operator=(const Activity&) = delete;

      private:
        Dialogue& Owner;
    };

  private:
    int CommandExchange(const char* command, char (&buffer)[ReplyBufferSize]);
    int WaitResult(uint8_t* reply);
    void Handshake();
    // The upgrade run's parts (UpgradeRun.cpp).
    bool RunMayStart();
    int RunAttempt();
    bool AttemptLoop(int& firstResult);
    RunOutcome TransferLoop(int lastResult);

    DialogueSeams Seams;
    bool DataFrameWaiting = false;
    uint16_t AwaitedBlock = 0;
    int WaitDepth = 0;
    int ActivityDepth = 0;
};
