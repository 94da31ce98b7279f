#include "app/WindowDialogue.h"

#include "app/MainForm.h"
#include "app/StatusLine.h"
#include "app/UserDialogs.h"
#include "base/GbkText.h"
#include "serial/LineSettings.h"

namespace {

std::string Trimmed(const std::string& text) {
    const char* blanks = " \t\n\v\f\r";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

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
        MForm->MCPort1Timer->SetInterval(ms);
    }
    void Restart() override {
        if (!MForm) return;
        MForm->MCPort1Timer->Stop();
        MForm->MCPort1Timer->Start();
    }
    void Stop() override {
        if (MForm) MForm->MCPort1Timer->Stop();
    }
};

class EventLoopWait : public DialogueWait {
  public:
    // Sleeps until something happens (a receive notification, the timer, a click) and handles
    // everything then pending: one pass of the pump, without spinning.
    void WaitOnce() override { tk::WaitOnce(); }
    void DeliverPending() override { tk::DeliverPending(); }
};

// The mode boxes: baud rate RzComboBox6 / 7, parity RzComboBox8 / 9 (working / upgrade).
class WindowModes : public LineModeSource {
  public:
    bool ModeOf(bool working, LineMode& mode) const override {
        if (!MForm) return false;
        tk::ComboBox* baudBox = working ? MForm->RzComboBox6 : MForm->RzComboBox7;
        tk::ComboBox* parityBox = working ? MForm->RzComboBox8 : MForm->RzComboBox9;
        if (baudBox->ItemIndex() < 0 || parityBox->ItemIndex() < 0) return false;
        // An item typed into the editable box that names no rate leaves the port as it is.
        mode.Baud = uint32_t(BaudRateOfItem(Trimmed(baudBox->ItemText(baudBox->ItemIndex()))));
        mode.Parity = uint8_t(parityBox->ItemIndex());
        return mode.Baud != 0;
    }
};

class WindowView : public DialogueView {
  public:
    void ShowStatus(const std::string& text) override { ::ShowStatus(text); }
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
    void Alert(const std::string& text) override { ShowMessageBox(text); }
    void RunButton(bool running) override {
        if (!MForm) return;
        MForm->RzButton3->SetCaption(running ? "停止" : "开始升级");
        MForm->RzButton3->Tag = running ? 1 : 0;
    }
    void RunControls(bool enabled) override {
        if (!MForm) return;
        MForm->RzButton1->SetEnabled(enabled);
        MForm->RzButton2->SetEnabled(enabled);
    }
    void HideRunResult() override {
        if (!MForm) return;
        MForm->RzLabel9->SetVisible(false);
        MForm->RzProgressBar1->SetVisible(false);
        MForm->RzLabel8->SetVisible(false);
    }
    void Progress(int, int, int percent) override {
        if (!MForm) return;
        MForm->RzProgressBar1->SetPercent(percent);
        MForm->RzProgressBar1->SetVisible(true);
        MForm->RzLabel8->SetVisible(true);
    }
    void RunResult(bool ok) override {
        if (!MForm) return;
        tk::Label* label = MForm->RzLabel9;
        label->SetFontColour(ok ? tk::Colour{0, 128, 0} : tk::Colour{255, 0, 0});
        label->SetCaption(ok ? "升级成功" : "升级失败");
        label->SetVisible(true);
        if (ok) MForm->RzProgressBar1->SetPercent(100);
    }
};

WindowPort Port;
WindowTimer Timer;
EventLoopWait Wait;
WindowModes Modes;
WindowView View;

} // namespace

Dialogue WindowDialogue({&Port, &Timer, &Wait, &Modes, &View, &FirmwarePackage});

void CollectReply() {
    WindowDialogue.CollectReply();
}

void StopDialogueOnClose() {
    if (WindowDialogue.DialogueBusy()) WindowDialogue.StopDialogue();
}

void TMForm::MCPort1TimerTimer() {
    WindowDialogue.ReplyTimerTick();
}

void TMForm::RzButton2Click() {
    // One request at a time: a query asked for while another exchange waits is refused.
    if (WindowDialogue.DialogueBusy()) return;
    char versionText[ReplyBufferSize] = {};
    if (!MCPort1.IsOpen()) {
        ShowMessageBox("请先打开串口！");
        return;
    }
    Dialogue::Activity activity(WindowDialogue);
    RzButton2->SetEnabled(false);
    DialogueStopped = false;
    WindowDialogue.ApplyLineMode(true);
    const bool ok = WindowDialogue.QueryVersion(versionText);
    RzButton2->SetEnabled(true);
    if (ok && !DialogueClosing) ShowMessageBox(DeviceTextToUtf8(versionText));
}

void TMForm::RzButton3Click() {
    if (RzButton3->Tag != 0) {
        WindowDialogue.EndRun();
        return;
    }
    WindowDialogue.UpgradeRun();
}
