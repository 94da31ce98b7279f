#pragma once
// The request/reply machinery every exchange with the device shares: send, wait for one reply,
// a time-out or the user's stop, and sort what arrives. Everything runs on the user-interface
// thread; the wait keeps the window alive by running its event loop.

#include "dialogue/ReplyRecognition.h"

#include <cstdint>

// The buffer of the exchange that waits for a reply (ReplyBufferSize bytes), or null. Points at
// a buffer only while that buffer's exchange waits.
extern uint8_t* PendingReply;
// Set by CollectReply for every recognised reply; cleared by each exchange before it waits.
extern bool ReplyArrived;
// Set by the reply timer's tick; cleared when the timer restarts.
extern bool TimedOut;
// Set by the stop click and at the end of an upgrade run; every wait ends at once while set.
extern bool DialogueStopped;
// Set when the window closes during a version query or an upgrade run, which then end at the
// next point they reach without sending anything further.
extern bool DialogueClosing;

enum class WaitOutcome { Stopped, TimedOut, Replied };

// Queues bytes for the port and keeps the sending lamp and counter up to date.
void SendBytes(const uint8_t* data, int32_t length);
// OnReceive handler of the port component: takes one notification's bytes and hands a
// recognised reply to the waiting exchange.
void CollectReply();
// Interval of the reply timer, in force for every following request.
void SetReplyTimeout(int ms);
void RestartReplyTimer();
// The common wait, right after the request went to SendBytes. replyBuffer holds ReplyBufferSize
// bytes and receives the reply.
WaitOutcome AwaitReply(uint8_t* replyBuffer);
// Sends a zero-terminated text and waits for a text reply, copied with its terminating zero into
// replyTarget (ReplyBufferSize bytes; may be the request's own buffer). 1 replied, 0 stopped,
// -1 timed out or not a text reply.
int TextExchange(const char* request, char* replyTarget);

// True while a version query or an upgrade run is in progress or any exchange waits: no new
// request may start then, as it would take over the reply slot of the one in progress.
bool DialogueBusy();
// Stops whatever the dialogue is doing because the window goes away: as the stop click, and the
// run or query ends without sending further.
void StopDialogue();

// Marks a version query or upgrade run for its lifetime (see DialogueBusy); the first one also
// watches the main window for closing.
class DialogueActivity {
  public:
    DialogueActivity();
    ~DialogueActivity();
    DialogueActivity(const DialogueActivity&) = delete;
    DialogueActivity& operator=(const DialogueActivity&) = delete;
};
