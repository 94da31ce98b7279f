// The upgrade run behind "开始升级": reset at the working mode, handshake at the upgrade mode,
// then the block transfer the device drives with its data replies. The same button stops it.

#include "app/MainForm.h"
#include "app/StatusLine.h"
#include "app/UserDialogs.h"
#include "dialogue/BinaryFrames.h"
#include "dialogue/ExchangeEngine.h"
#include "dialogue/TextCommands.h"

#include <QColor>
#include <QPalette>

#include <algorithm>

namespace {

constexpr int AttemptsPerRun = 3;
constexpr int SendsPerBlock = 3;
constexpr int FirstFrameTimeoutMs = 2000;
constexpr int BlockTimeoutMs = 3000;

void ShowResult(const QString& text, const QColor& colour) {
    QPalette palette = MForm->RzLabel9->palette();
    palette.setColor(QPalette::WindowText, colour);
    MForm->RzLabel9->setPalette(palette);
    MForm->RzLabel9->setText(text);
    MForm->RzLabel9->show();
}

// End state of every run, and all the stop click does.
void EndRun() {
    MForm->RzButton3->setText(QStringLiteral("开始升级"));
    MForm->RzButton3->Tag = 0;
    DialogueStopped = true;
}

// A run may not have a second package chosen or a version query nested in its waits; the two
// buttons come back when it ends, however it ends.
class RunControlsLock {
  public:
    RunControlsLock() { SetEnabled(false); }
    ~RunControlsLock() { SetEnabled(true); }

  private:
    static void SetEnabled(bool on) {
        MForm->RzButton1->setEnabled(on);
        MForm->RzButton2->setEnabled(on);
    }
};

// Handshake: pings at the upgrade mode, each awaited for t ms, until one is accepted or the
// number that fits in three seconds has gone out.
void Handshake() {
    const int t = 275000 / std::max(1, int(MCPort1.GetBaudRate())) + 50;
    SetReplyTimeout(t);
    for (int ping = 0, pings = 3000 / t; ping < pings && !DialogueClosing; ++ping) {
        if (SendCommandFrame(0, nullptr, 0) == 1) break;
    }
}

} // namespace

void TMForm::RzButton3Click() {
    if (RzButton3->Tag != 0) {
        EndRun();
        return;
    }
    // A start while another exchange (a version query) waits would take over its reply slot.
    if (DialogueBusy()) return;

    RzLabel9->hide();
    RzProgressBar1->hide();
    RzLabel8->hide();
    if (FirmwarePackage.Kind() == 0 || !CanFrameBlocks(FrameSourceOf(FirmwarePackage))) {
        ShowStatus(QStringLiteral("无效的升级文件!"));
        ShowMessageBox(QStringLiteral("无效的升级文件!"));
        return;
    }
    if (!MCPort1.IsOpen()) {
        ShowMessageBox(QStringLiteral("请先打开串口！"));
        return;
    }

    DialogueActivity activity;
    RunControlsLock lock;
    RzButton3->setText(QStringLiteral("停止"));
    RzButton3->Tag = 1;
    DialogueStopped = false;
    int retryCount = AttemptsPerRun;
    uint16_t blockIndex = 0;
    int lastResult = 0;

    // Attempts: each starts from the working mode and the reset, and sends block 0.
    for (;;) {
        if (DialogueStopped || retryCount == 0) {
            EndRun();
            return;
        }
        --retryCount;
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
    retryCount = SendsPerBlock;
    for (;;) {
        if (retryCount == 0 || DialogueClosing) break;
        --retryCount;
        const int blockCount = FirmwarePackage.BlockCount();
        if (lastResult == blockCount + 1) {
            ShowResult(QStringLiteral("升级成功"), QColor(0, 128, 0));
            ShowStatus(QStringLiteral("升级成功"));
            RzProgressBar1->setValue(100);
            break;
        }
        if (lastResult >= 0 && lastResult <= blockCount) {
            blockIndex = uint16_t(lastResult);
            retryCount = SendsPerBlock;
            RzProgressBar1->setValue(blockIndex * 100 / (blockCount + 1));
            RzProgressBar1->show();
            RzLabel8->show();
            SetReplyTimeout(BlockTimeoutMs);
            lastResult = SendDataFrame(blockIndex);
        } else if (retryCount != 0) {
            ShowStatus(QStringLiteral("重发"));
            lastResult = SendDataFrame(blockIndex);
        } else {
            ShowResult(QStringLiteral("升级失败"), QColor(255, 0, 0));
            ShowStatus(QStringLiteral("升级失败！"));
        }
    }
    EndRun();
}
