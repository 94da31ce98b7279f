#include "app/PortPanel.h"

#include "app/MainForm.h"
#include "app/PortSettings.h"
#include "app/StatusLine.h"
#include "app/UserDialogs.h"
#include "app/WindowDialogue.h"
#include "serial/PortName.h"

namespace {

// ImageList1 glyphs of the open/close button.
constexpr int kGlyphClosed = 1; // red lamp, dark
constexpr int kGlyphOpen = 3;   // green lamp, lit

std::string PortName() {
    return ComPortName(MCPort1.GetPort());
}

} // namespace

void InitPortPanel() {
    MCPort1.FillPortList(MForm->RzComboBox1);
    MCPort1.FillBaudRateList(MForm->RzComboBox2);
    MCPort1.FillParityList(MForm->RzComboBox3);
    MCPort1.FillByteSizeList(MForm->RzComboBox4);
    MCPort1.FillStopBitsList(MForm->RzComboBox5);
    // OnReceive first: the port component refuses to open without it.
    MCPort1.OnReceive = CollectReply;
    MCPort1.OnClose = PortClosed;
    MCPort1.OnOpen = PortOpened;
    MCPort1.OnOpenError = PortOpenFailed;
    MCPort1.OnModemRefused = ModemManagerRefused;
    MCPort1.WatchPortList = true;
    LoadPortSettings();
    UpdateByteCounters();
}

void TMForm::RzBitBtn1Click() {
    if (MCPort1.IsOpen()) {
        MCPort1.SetOpen(false);
        return;
    }
    for (tk::ComboBox* combo : {RzComboBox1, RzComboBox2, RzComboBox3, RzComboBox4, RzComboBox5}) {
        if (combo->ItemIndex() < 0) {
            ShowMessageBox("请选择串口参数！");
            return;
        }
    }
    // Success and failure come back through the port events.
    MCPort1.SetOpen(true);
}

void PortOpened() {
    if (!MForm) return;
    MForm->RzBitBtn1->SetCaption("关闭串口");
    MForm->RzBitBtn1->SetGlyph(*MForm->ImageList1, kGlyphOpen);
    ShowStatus(PortName() + " Opened");
    LampOn(kLampActive);
}

void PortClosed() {
    if (!MForm) return; // the port component closing the port at program end, after the window
    MForm->RzBitBtn1->SetCaption("打开串口");
    MForm->RzBitBtn1->SetGlyph(*MForm->ImageList1, kGlyphClosed);
    ShowStatus(PortName() + " Closed");
    LampOff(kLampActive);
}

void PortOpenFailed() {
    ShowMessageBox("无法打开串口 " + PortName() +
                   "，请检查串口是否被其他程序占用或做了不恰当的设置！");
}

void ModemManagerRefused() {
    ShowStatus("ModemManager 拒绝让出该设备，可能干扰升级");
}

void ClosePortOnExit() {
    MCPort1.SetOpen(false);
}
