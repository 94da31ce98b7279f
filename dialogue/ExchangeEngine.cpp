// Sending a request, waiting for its one reply, a time-out or a stop, and sorting what arrives.
#include "dialogue/Dialogue.h"

#include <algorithm>
#include <cstring>

Dialogue::Activity::Activity(Dialogue& dialogue) : Owner(dialogue) {
    if (Owner.ActivityDepth++ == 0) Owner.DialogueClosing = false;
}

Dialogue::Activity::~Activity() {
    --Owner.ActivityDepth;
}

void Dialogue::StopDialogue() {
    DialogueStopped = true;
    DialogueClosing = true;
}

void Dialogue::SendBytes(const uint8_t* data, int32_t length) {
    Seams.Port->Write(data, unsigned(length));
    Seams.View->Sent(length);
}

void Dialogue::CollectReply() {
    uint8_t received[ReplyBufferSize];
    const int n = std::max(0, Seams.Port->Read(received, MaxReceiveChunk));
    Seams.View->Received(n);
    if (n <= 0) return;
    received[n] = 0;
    const RecognisedReply reply = RecogniseReply(received, n);
    if (reply.kind == ReplyClass::None) return;
    ReplyArrived = true;
    if (PendingReply != nullptr) {
        CopyReply(reply, received, PendingReply, ReplyBufferSize);
        PendingReply = nullptr;
    }
}

void Dialogue::ReplyTimerTick() {
    Seams.Timer->Stop();
    TimedOut = true;
}

void Dialogue::SetReplyTimeout(int ms) {
    Seams.Timer->SetInterval(ms);
}

WaitOutcome Dialogue::AwaitReply(uint8_t* replyBuffer) {
    // A request started from a handler nested in another wait borrows the reply slot and gives
    // it back when it ends, so the slot never outlives the buffer it points at.
    uint8_t* const enclosing = PendingReply;
    ReplyArrived = false;
    Seams.Timer->Restart();
    TimedOut = false;
    PendingReply = replyBuffer;

    ++WaitDepth;
    for (;;) {
        if (DialogueStopped) break;
        if (TimedOut) {
            // An overdue tick may be handled in the same pass as a receive notification that is
            // still queued behind it: deliver what is due, so a reply heard first still wins.
            Seams.Wait->DeliverPending();
            break;
        }
        Seams.Wait->WaitOnce();
        if (ReplyArrived) break;
    }
    --WaitDepth;

    WaitOutcome outcome;
    if (DialogueStopped) {
        outcome = WaitOutcome::Stopped;
    } else if (!ReplyArrived) {
        Seams.View->ShowStatus("读/写超时！");
        outcome = WaitOutcome::TimedOut;
    } else {
        Seams.View->ShowStatus("收到应答");
        outcome = WaitOutcome::Replied;
    }
    LastWait = outcome;
    PendingReply = enclosing;
    if (enclosing != nullptr)
        ReplyArrived = false; // what arrived was this exchange's, not the enclosing one's
    return outcome;
}

int Dialogue::TextExchange(const char* request, char* replyTarget) {
    uint8_t reply[ReplyBufferSize] = {};
    SendBytes(reinterpret_cast<const uint8_t*>(request), int32_t(std::strlen(request)));
    switch (AwaitReply(reply)) {
    case WaitOutcome::Stopped:
        return 0;
    case WaitOutcome::TimedOut:
        return -1;
    case WaitOutcome::Replied:
        break;
    }
    if (reply[0] != '\r' || reply[1] != '\n') return -1;
    const size_t length = strnlen(reinterpret_cast<const char*>(reply), ReplyBufferSize - 1);
    std::memcpy(replyTarget, reply, length);
    replyTarget[length] = 0;
    return 1;
}
