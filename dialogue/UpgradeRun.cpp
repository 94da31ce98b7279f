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
    const int t = 275000 / std::max(1, Seams.Port->GetBaudRate()) + 50;
    SetReplyTimeout(t);
    for (int ping = 0, pings = 3000 / t; ping < pings && !DialogueClosing; ++ping) {
        if (SendCommandFrame(0, nullptr, 0) == 1) break;
    }
}

RunOutcome Dialogue::UpgradeRun() {
    // A start while another exchange (a version query) waits would take over its reply slot.
    if (DialogueBusy()) return RunOutcome::Busy;
    DialogueView& view = *Seams.View;
    const FirmwarePackageData& package = *Seams.Package;

    view.HideRunResult();
    if (package.Kind() == 0 || !CanFrameBlocks(FrameSourceOf(package))) {
        view.ShowStatus("无效的升级文件!");
        view.Alert("无效的升级文件!");
        return RunOutcome::Refused;
    }
    if (!Seams.Port->IsOpen()) {
        view.Alert("请先打开串口！");
        return RunOutcome::Refused;
    }

    Activity activity(*this);
    RunControlsLock lock(view);
    view.RunButton(true);
    DialogueStopped = false;
    FramesSent = 0;
    Resends = 0;
    int retryCount = AttemptsPerRun;
    uint16_t blockIndex = 0;
    int lastResult = 0;

    // Attempts: each starts from the working mode and the reset, and sends block 0.
    for (;;) {
        if (DialogueStopped || retryCount == 0) {
            const bool stopped = DialogueStopped;
            EndRun();
            return stopped ? RunOutcome::Stopped : RunOutcome::NoAnswer;
        }
        --retryCount;
        view.Attempt(AttemptsPerRun - retryCount);
        ApplyLineMode(true);
        if (ResetDevice()) {
            ApplyLineMode(false);
            Handshake();
        }
        // A device already in its loader can still be upgraded, so block 0 goes out anyway.
        ApplyLineMode(false);
        if (DialogueClosing) continue;
        SetReplyTimeout(FirstFrameTimeoutMs);
        lastResult = SendDataFrame(blockIndex);
        if (lastResult >= 0) break;
    }

    // Transfer: the device names the block it wants next; a block is sent at most three times
    // in a row without progress.
    RunOutcome outcome = RunOutcome::Stopped;
    retryCount = SendsPerBlock;
    for (;;) {
        if (retryCount == 0 || DialogueClosing) break;
        if (DataFrameLimit > 0 && FramesSent > DataFrameLimit) {
            outcome = RunOutcome::LimitReached;
            break;
        }
        --retryCount;
        const int blockCount = package.BlockCount();
        if (lastResult == blockCount + 1) {
            view.RunResult(true);
            view.ShowStatus("升级成功");
            outcome = RunOutcome::Succeeded;
            break;
        }
        if (lastResult >= 0 && lastResult <= blockCount) {
            blockIndex = uint16_t(lastResult);
            retryCount = SendsPerBlock;
            view.Progress(blockIndex, blockCount, blockIndex * 100 / (blockCount + 1));
            SetReplyTimeout(BlockTimeoutMs);
            lastResult = SendDataFrame(blockIndex);
        } else if (retryCount != 0) {
            view.ShowStatus("重发");
            ++Resends;
            view.Resend(blockIndex);
            lastResult = SendDataFrame(blockIndex);
        } else {
            view.RunResult(false);
            view.ShowStatus("升级失败！");
            outcome = RunOutcome::BlockFailed;
        }
    }
    EndRun();
    return outcome;
}
