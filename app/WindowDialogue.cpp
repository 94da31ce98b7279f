#include "app/WindowDialogue.h"

#include "app/MainForm.h"
#include "app/StatusLine.h"
#include "app/UserDialogs.h"
#include "package/GbkText.h"
#include "serial/LineSettings.h"

#include <QColor>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPalette>

namespace {

class WindowPort : public DialoguePort {
  public:
    int Write(const uint8_t* data, unsigned count) override { return MCPort1.Write(data, count); }
    int Read(uint8_t* buffer, unsigned maxCount) override { return MCPort1.Read(buffer, maxCount); }
    bool IsOpen() const override { return MCPort1.IsOpen(); }
    int GetBaudRate() const override { return MCPort1.GetBaudRate(); }
    void SetBaudRate(int baud) override { MCPort1.SetBaudRate(baud); }
    void SetParity(uint8_t parity) override { MCPort1.SetParity(parity); }
};

class WindowTimer : public ReplyTimer {
  public:
    void SetInterval(int ms) override {
        if (!MForm) return;
        MForm->MCPort1Timer->setTimerType(Qt::PreciseTimer);
        MForm->MCPort1Timer->setInterval(ms);
    }
    void Restart() override {
        if (!MForm) return;
        MForm->MCPort1Timer->stop();
        MForm->MCPort1Timer->start();
    }
    void Stop() override {
        if (MForm) MForm->MCPort1Timer->stop();
    }
};

class EventLoopWait : public DialogueWait {
  public:
    // Sleeps until something happens (a receive notification, the timer, a click) and handles
    // everything then pending: one pass of the pump, without spinning.
    void WaitOnce() override {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    void DeliverPending() override { QCoreApplication::sendPostedEvents(); }
};

// The mode boxes: baud rate RzComboBox6 / 7, parity RzComboBox8 / 9 (working / upgrade).
class WindowModes : public LineModeSource {
  public:
    bool ModeOf(bool working, LineMode& mode) const override {
        if (!MForm) return false;
        QComboBox* baudBox = working ? MForm->RzComboBox6 : MForm->RzComboBox7;
        QComboBox* parityBox = working ? MForm->RzComboBox8 : MForm->RzComboBox9;
        if (baudBox->currentIndex() < 0 || parityBox->currentIndex() < 0) return false;
        // An item typed into the editable box that names no rate leaves the port as it is.
        mode.Baud = uint32_t(
            BaudRateOfItem(baudBox->itemText(baudBox->currentIndex()).trimmed().toStdString()));
        mode.Parity = uint8_t(parityBox->currentIndex());
        return mode.Baud != 0;
    }
};

class WindowView : public DialogueView {
  public:
    void ShowStatus(const std::string& text) override {
        ::ShowStatus(QString::fromStdString(text));
    }
    void Sent(int32_t bytes) override {
        LampOn(kLampTx);
        BytesSent += bytes;
        UpdateByteCounters();
    }
    void Received(int32_t bytes) override {
        BytesReceived += bytes;
        UpdateByteCounters();
        if (bytes > 0) LampOn(kLampRx);
    }
    void Alert(const std::string& text) override { ShowMessageBox(QString::fromStdString(text)); }
    void RunButton(bool running) override {
        if (!MForm) return;
        MForm->RzButton3->setText(running ? QStringLiteral("停止") : QStringLiteral("开始升级"));
        MForm->RzButton3->Tag = running ? 1 : 0;
    }
    void RunControls(bool enabled) override {
        if (!MForm) return;
        MForm->RzButton1->setEnabled(enabled);
        MForm->RzButton2->setEnabled(enabled);
    }
    void HideRunResult() override {
        if (!MForm) return;
        MForm->RzLabel9->hide();
        MForm->RzProgressBar1->hide();
        MForm->RzLabel8->hide();
    }
    void Progress(int, int, int percent) override {
        if (!MForm) return;
        MForm->RzProgressBar1->setValue(percent);
        MForm->RzProgressBar1->show();
        MForm->RzLabel8->show();
    }
    void RunResult(bool ok) override {
        if (!MForm) return;
        QLabel* label = MForm->RzLabel9;
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, ok ? QColor(0, 128, 0) : QColor(255, 0, 0));
        label->setPalette(palette);
        label->setText(ok ? QStringLiteral("升级成功") : QStringLiteral("升级失败"));
        label->show();
        if (ok) MForm->RzProgressBar1->setValue(100);
    }
};

WindowPort Port;
WindowTimer Timer;
EventLoopWait Wait;
WindowModes Modes;
WindowView View;

class CloseWatcher : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close && watched == MForm && WindowDialogue.DialogueBusy())
            WindowDialogue.StopDialogue();
        return false;
    }
};

} // namespace

Dialogue WindowDialogue({&Port, &Timer, &Wait, &Modes, &View, &FirmwarePackage});

void CollectReply() {
    WindowDialogue.CollectReply();
}

void WatchWindowClosing(TMForm* window) {
    window->installEventFilter(new CloseWatcher(window));
}

void TMForm::MCPort1TimerTimer() {
    WindowDialogue.ReplyTimerTick();
}

void TMForm::RzButton2Click() {
    // One request at a time: a query asked for while another exchange waits is refused.
    if (WindowDialogue.DialogueBusy()) return;
    char versionText[ReplyBufferSize] = {};
    if (!MCPort1.IsOpen()) {
        ShowMessageBox(QStringLiteral("请先打开串口！"));
        return;
    }
    Dialogue::Activity activity(WindowDialogue);
    RzButton2->setEnabled(false);
    DialogueStopped = false;
    WindowDialogue.ApplyLineMode(true);
    const bool ok = WindowDialogue.QueryVersion(versionText);
    RzButton2->setEnabled(true);
    if (ok && !DialogueClosing)
        ShowMessageBox(QString::fromStdString(DeviceTextToUtf8(versionText)));
}

void TMForm::RzButton3Click() {
    if (RzButton3->Tag != 0) {
        WindowDialogue.EndRun();
        return;
    }
    WindowDialogue.UpgradeRun();
}
