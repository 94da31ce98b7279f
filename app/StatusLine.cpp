#include "app/StatusLine.h"

#include "app/AccessibleNames.h"
#include "app/MainForm.h"

int32_t BytesSent = 0;
int32_t BytesReceived = 0;

namespace {

struct LampDef {
    int lit;
    int dark;
};
// ImageList1 indices: 0 red lit, 2 red grey, 3 green lit, 4 green dark, 6 yellow lit,
// 7 yellow dark.
constexpr LampDef kLamps[3] = {{0, 2}, {6, 7}, {3, 4}};

tk::Image* LampControl(int lamp) {
    switch (lamp) {
    case kLampActive:
        return MForm->LEDActive;
    case kLampTx:
        return MForm->LEDTx;
    case kLampRx:
        return MForm->LEDRx;
    default:
        return nullptr;
    }
}

void ShowLampImage(int lamp, int image) {
    tk::Image* control = LampControl(lamp);
    control->SetImage(*MForm->ImageList1, image);
    NameLamp(control, image == kLamps[lamp].lit);
    // At once, and only this 16x16 control: lamps flicker while the dialogue waits in a loop.
    control->Repaint();
}

bool ValidLamp(int lamp) {
    return MForm && lamp >= 0 && lamp <= 2;
}

} // namespace

void ShowStatus(const std::string& text) {
    if (!MForm) return;
    MForm->MsgTimer1->Stop();
    SetPaneText(MForm->RzStatusPane3, text);
    MForm->MsgTimer1->Start();
}

void TMForm::MsgTimer1Timer() {
    MsgTimer1->Stop();
    SetPaneText(RzStatusPane3, {});
}

void UpdateByteCounters() {
    if (!MForm) return;
    SetPaneText(MForm->SPTx, std::to_string(BytesSent) + " bytes sent");
    SetPaneText(MForm->SPRx, std::to_string(BytesReceived) + " bytes received");
}

void LampOn(int lamp) {
    if (!ValidLamp(lamp)) return;
    ShowLampImage(lamp, kLamps[lamp].lit);
    tk::Timer* timer = lamp == kLampTx   ? MForm->TxLEDTimer
                       : lamp == kLampRx ? MForm->RxLEDTimer
                                         : nullptr;
    if (timer) {
        timer->Stop();
        timer->Start();
    }
}

void LampOff(int lamp) {
    if (!ValidLamp(lamp)) return;
    ShowLampImage(lamp, kLamps[lamp].dark);
}

void TMForm::TxLEDTimerTimer() {
    TxLEDTimer->Stop();
    LampOff(kLampTx);
}

void TMForm::RxLEDTimerTimer() {
    RxLEDTimer->Stop();
    LampOff(kLampRx);
}

void InitLamps() {
    if (!MForm) return;
    LampOff(kLampActive);
    LampOff(kLampTx);
    LampOff(kLampRx);
}
