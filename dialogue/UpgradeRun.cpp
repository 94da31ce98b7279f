// The upgrade run behind "开始升级": reset at the working mode, handshake at the upgrade mode,
// then the block transfer the device drives with its data replies. The same button stops it.
#include "dialogue/Dialogue.h"

#include <algorithm>

namespace {

constexpr int AttemptsPerRun = 3;
constexpr int SendsPerBlock = 3;
constexpr int FirstFrameTimeoutMs = 2000;
constexpr int BlockTimeoutMs = 3000;

// A run may not have a second package chosen or a version query nested in its waits; the
// controls come back when it ends, however it ends.
class RunControlsLock {
  public:
    explicit RunControlsLock(DialogueView& view) : View(view) { View.RunControls(false); }
    ~RunControlsLock() { View.RunControls(true); }
    RunControlsLock(const RunControlsLock&) = delete;
    RunControlsLock& operator=(const RunControlsLock&) = delete;

  private:
    DialogueView& View;
};

} // namespace

void Dialogue::EndRun() {
    Seams.View->RunButton(false);
    DialogueStopped = true;
}

// Pings at the upgrade mode, each awaited for t ms, until one is accepted or the number that
// fits in three seconds has gone out.
void Dialogue::Handshake() {
    const int t = HandshakeTimeoutMs(Seams.Port->GetBaudRate());
    SetReplyTimeout(t);
    Seams.View->Handshaking();
    for (int ping = 0, pings = 3000 / t; ping < pings && !DialogueClosing; ++ping) {
        if (SendCommandFrame(0, nullptr, 0) == CommandAccepted) break;
    }
}

// The start click's checks: a package that can be framed and an open port.
bool Dialogue::RunMayStart() {
    DialogueView& view = *Seams.View;
    view.HideRunResult();
    if (Seams.Package->Kind() == 0 || !CanFrameBlocks(FrameSourceOf(*Seams.Package))) {
        view.ShowStatus("无效的升级文件!");
        view.Alert("无效的升级文件!");
        return false;
    }
    if (!Seams.Port->IsOpen()) {
        view.Alert("请先打开串口！");
        return false;
    }
    return true;
}

// One attempt: the reset at the working mode and, when the device confirmed it, the handshake
// at the upgrade mode; then block 0 at the upgrade mode, as a device already in its loader can
// still be upgraded. The result of block 0.
int Dialogue::RunAttempt() {
    ApplyLineMode(true);
    if (ResetDevice()) {
        ApplyLineMode(false);
        Handshake();
    }
    ApplyLineMode(false);
    if (DialogueClosing) return FrameStopped;
    SetReplyTimeout(FirstFrameTimeoutMs);
    return SendDataFrame(0);
}

// Up to three attempts, each checked against the stop first. True once block 0 brought a
// usable reply, whose result is then in firstResult.
bool Dialogue::AttemptLoop(int& firstResult) {
    for (int attempt = 1; attempt <= AttemptsPerRun; ++attempt) {
        if (DialogueStopped) return false;
        Seams.View->Attempt(attempt);
        firstResult = RunAttempt();
        if (firstResult >= 0) return true;
    }
    return false;
}

// The device names the block it wants next; a block is sent at most three times in a row
// without progress. lastResult is the reply to block 0.
RunOutcome Dialogue::TransferLoop(int lastResult) {
    DialogueView& view = *Seams.View;
    const int blockCount = Seams.Package->BlockCount();
    uint16_t blockIndex = 0;
    int sendsLeft = SendsPerBlock;
    for (;;) {
        if (DialogueClosing) return RunOutcome::Stopped;
        if (DataFrameLimit > 0 && FramesSent > DataFrameLimit) return RunOutcome::LimitReached;
        --sendsLeft;
        if (lastResult == blockCount + 1) {
            view.RunResult(true);
            view.ShowStatus("升级成功");
            return RunOutcome::Succeeded;
        }
        if (lastResult >= 0 && lastResult <= blockCount) {
            blockIndex = uint16_t(lastResult);
            sendsLeft = SendsPerBlock;
            view.Progress(blockIndex, blockCount, blockIndex * 100 / (blockCount + 1));
            SetReplyTimeout(BlockTimeoutMs);
        } else if (sendsLeft != 0) {
            // The resend keeps the time-out of the send before it.
            view.ShowStatus("重发");
            ++Resends;
            view.Resend(blockIndex);
        } else {
            view.RunResult(false);
            view.ShowStatus("升级失败！");
            return RunOutcome::BlockFailed;
        }
        lastResult = SendDataFrame(blockIndex);
    }
}

RunOutcome Dialogue::UpgradeRun() {
    // A start while another exchange (a version query) waits would take over its reply slot.
    if (DialogueBusy()) return RunOutcome::Busy;
    if (!RunMayStart()) return RunOutcome::Refused;

    Activity activity(*this);
    RunControlsLock lock(*Seams.View);
    Seams.View->RunButton(true);
    DialogueStopped = false;
    FramesSent = 0;
    Resends = 0;
    Reconnects = 0;
    int firstResult = 0;
    RunOutcome outcome;
    if (AttemptLoop(firstResult))
        outcome = TransferLoop(firstResult);
    else
        outcome = DialogueStopped ? RunOutcome::Stopped : RunOutcome::NoAnswer;
    EndRun();
    return outcome;
}
