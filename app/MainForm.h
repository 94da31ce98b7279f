#pragma once
// The main window. Every control of the layout (MainFormLayout.h) is a public member under its
// control name (MForm->RzComboBox6, MForm->RzLabel9, MForm->RzStatusPane3, ...), typed by the
// toolkit interface of its kind. Controls of note:
//   RzButton1..3   buttons with `int Tag` (RzButton3->Tag: 0 idle, 1 upgrading).
//   RzBitBtn1      glyph by ImageList1 index, GlyphIndex() / SetGlyph(*ImageList1, i).
//   RzMemo1        read-only memo, one AppendLine per line.
//   RzProgressBar1 its Percent.
//   RzStatusPane3, SPTx, SPRx  status bar panes; LEDActive, LEDTx, LEDRx  16x16 lamps.
// Handlers run with exceptions caught and shown in the exception box (see Application.h).

#include <memory>

#include "app/MainFormLayout.h"
#include "serial/TMCPort.h"

class TMForm {
  public:
    TMForm();
    ~TMForm();
    TMForm(const TMForm&) = delete;
    TMForm& operator=(const TMForm&) = delete;

    // The window the toolkit built from the layout; owns every control below.
    std::unique_ptr<tk::Form> FormWindow;
#define TMFORM_MEMBER(type, name, ...) tk::kind::type* name = nullptr;
    TMFORM_CONTROLS(TMFORM_MEMBER)
#undef TMFORM_MEMBER

    tk::Timer* MsgTimer1 = nullptr;    // 3000 ms, clears the status text
    tk::Timer* TxLEDTimer = nullptr;   // 80 ms, puts the sending lamp out
    tk::Timer* RxLEDTimer = nullptr;   // 80 ms, puts the receiving lamp out
    tk::Timer* MCPort1Timer = nullptr; // reply time-out of the device dialogue (precise timer)
    // 24 lamp images, 16x16 with alpha: circular 0..11, square 12..23; per shape red, green,
    // yellow, blue, each lit, dark, grey.
    tk::ImageList* ImageList1 = nullptr;

    void Show() {
        FormWindow->Show();
    }
    void Close() {
        FormWindow->Close();
    }

    // Handlers. All run on the user-interface thread.
    void FormCreate();
    void FormClose();
    void RzBitBtn1Click();
    void MsgTimer1Timer();
    void TxLEDTimerTimer();
    void RxLEDTimerTimer();
    void RzButton1Click();
    void RzButton2Click();    // defined in WindowDialogue.cpp
    void RzButton3Click();    // defined in WindowDialogue.cpp
    void MCPort1TimerTimer(); // defined in WindowDialogue.cpp

  private:
    void BindHandlers();
};

// The one main window; set before FormCreate runs, null when there is none.
extern TMForm* MForm;
// The one port component, alive for the whole run.
extern TMCPort MCPort1;
