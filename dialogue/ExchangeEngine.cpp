#include "dialogue/ExchangeEngine.h"

#include "app/MainForm.h"
#include "app/StatusLine.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>

#include <algorithm>
#include <cstring>

uint8_t* PendingReply = nullptr;
bool ReplyArrived = false;
bool TimedOut = false;
bool DialogueStopped = true;
bool DialogueClosing = false;

namespace {

int WaitDepth = 0;
int ActivityDepth = 0;

// Turns the main window's closing into a stop while the dialogue is active, so the window
// closes at once instead of the run going on against a closed port.
class CloseWatcher : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close && watched == MForm && DialogueBusy()) StopDialogue();
        return false;
    }
};

// One watcher per main window, owned by the window.
void WatchMainWindow() {
    static QPointer<QObject> watched;
    if (MForm != nullptr && watched != MForm) {
        MForm->installEventFilter(new CloseWatcher(MForm));
        watched = MForm;
    }
}

} // namespace

DialogueActivity::DialogueActivity() {
    if (ActivityDepth++ == 0) DialogueClosing = false;
    WatchMainWindow();
}

DialogueActivity::~DialogueActivity() {
    --ActivityDepth;
}

bool DialogueBusy() {
    return ActivityDepth > 0 || WaitDepth > 0;
}

void StopDialogue() {
    DialogueStopped = true;
    DialogueClosing = true;
}

void SendBytes(const uint8_t* data, int32_t length) {
    LampOn(1);
    MCPort1.Write(data, unsigned(length));
    BytesSent += length;
    UpdateByteCounters();
}

void CollectReply() {
    uint8_t received[ReplyBufferSize];
    const int n = std::max(0, int(MCPort1.Read(received, MaxReceiveChunk)));
    BytesReceived += n;
    UpdateByteCounters();
    if (n <= 0) return;
    LampOn(2);
    received[n] = 0;
    const RecognisedReply reply = RecogniseReply(received, n);
    if (reply.kind == ReplyClass::None) return;
    ReplyArrived = true;
    if (PendingReply != nullptr) {
        CopyReply(reply, received, PendingReply, ReplyBufferSize);
        PendingReply = nullptr;
    }
}

void SetReplyTimeout(int ms) {
    MForm->MCPort1Timer->setTimerType(Qt::PreciseTimer);
    MForm->MCPort1Timer->setInterval(ms);
}

void RestartReplyTimer() {
    MForm->MCPort1Timer->stop();
    MForm->MCPort1Timer->start();
    TimedOut = false;
}

void TMForm::MCPort1TimerTimer() {
    MCPort1Timer->stop();
    TimedOut = true;
}

WaitOutcome AwaitReply(uint8_t* replyBuffer) {
    // A request started from a handler nested in another wait borrows the reply slot and gives
    // it back when it ends, so the slot never outlives the buffer it points at.
    uint8_t* const enclosing = PendingReply;
    ReplyArrived = false;
    RestartReplyTimer();
    PendingReply = replyBuffer;
    WatchMainWindow();

    ++WaitDepth;
    for (;;) {
        if (DialogueStopped) break;
        if (TimedOut) {
            // Qt may run an overdue tick in the same pass as other work and leave a receive
            // notification posted before it for the next pass. Deliver what is already posted,
            // so a reply that was heard before the tick still wins.
            QCoreApplication::sendPostedEvents();
            break;
        }
        // Sleeps until something happens (a receive notification, the timer, a click) and
        // handles everything that is then pending: one pass of the pump, without spinning.
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        if (ReplyArrived) break;
    }
    --WaitDepth;

    WaitOutcome outcome;
    if (DialogueStopped) {
        outcome = WaitOutcome::Stopped;
    } else if (!ReplyArrived) {
        ShowStatus(QStringLiteral("读/写超时！"));
        outcome = WaitOutcome::TimedOut;
    } else {
        ShowStatus(QStringLiteral("收到应答"));
        outcome = WaitOutcome::Replied;
    }
    PendingReply = enclosing;
    if (enclosing != nullptr)
        ReplyArrived = false; // what arrived was this exchange's, not the enclosing one's
    return outcome;
}

int TextExchange(const char* request, char* replyTarget) {
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
