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

QLabel* LampControl(int lamp) {
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
    QLabel* control = LampControl(lamp);
    control->setPixmap(MForm->ImageList1.value(image));
    NameLamp(control, image == kLamps[lamp].lit);
    // At once, and only this 16x16 control: lamps flicker while the dialogue waits in a loop.
    control->repaint();
}

bool ValidLamp(int lamp) {
    return MForm && lamp >= 0 && lamp <= 2;
}

} // namespace

void ShowStatus(const QString& text) {
    if (!MForm) return;
    MForm->MsgTimer1->stop();
    SetPaneText(MForm->RzStatusPane3, text);
    MForm->MsgTimer1->start();
}

void TMForm::MsgTimer1Timer() {
    MsgTimer1->stop();
    SetPaneText(RzStatusPane3, QString());
}

void UpdateByteCounters() {
    if (!MForm) return;
    SetPaneText(MForm->SPTx, QString::number(BytesSent) + QStringLiteral(" bytes sent"));
    SetPaneText(MForm->SPRx, QString::number(BytesReceived) + QStringLiteral(" bytes received"));
}

void LampOn(int lamp) {
    if (!ValidLamp(lamp)) return;
    ShowLampImage(lamp, kLamps[lamp].lit);
    QTimer* timer = lamp == kLampTx   ? MForm->TxLEDTimer
                    : lamp == kLampRx ? MForm->RxLEDTimer
                                      : nullptr;
    if (timer) {
        timer->stop();
        timer->start();
    }
}

void LampOff(int lamp) {
    if (!ValidLamp(lamp)) return;
    ShowLampImage(lamp, kLamps[lamp].dark);
}

void TMForm::TxLEDTimerTimer() {
    TxLEDTimer->stop();
    LampOff(kLampTx);
}

void TMForm::RxLEDTimerTimer() {
    RxLEDTimer->stop();
    LampOff(kLampRx);
}

void InitLamps() {
    if (!MForm) return;
    // Qt double-buffers every widget already. The lamp images carry alpha, so a lamp control
    // that paints no background of its own lets the status bar show through.
    for (QLabel* lamp : {MForm->LEDActive, MForm->LEDTx, MForm->LEDRx}) {
        lamp->setAutoFillBackground(false);
    }
    LampOff(kLampActive);
    LampOff(kLampTx);
    LampOff(kLampRx);
}
