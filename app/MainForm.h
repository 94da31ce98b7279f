#pragma once
// The main window. Every control of MainForm.ui is a public member under its control name
// (MForm->RzComboBox6, MForm->RzLabel9, MForm->RzStatusPane3, ...), inherited from the class uic
// generates. Controls of note:
//   RzButton1..3   TRzButton: QPushButton plus `int Tag` (RzButton3->Tag: 0 idle, 1 upgrading).
//   RzBitBtn1      TRzBitBtn: glyph by ImageList1 index, GlyphIndex() / SetGlyph(ImageList1, i).
//   RzEdit1        QLineEdit; RzMemo1 QPlainTextEdit (read-only, appendPlainText per line).
//   RzProgressBar1 QProgressBar, range 0..100: its value is the percent.
//   RzStatusPane3, SPTx, SPRx  QLabel panes; LEDActive, LEDTx, LEDRx  16x16 QLabel lamps.
// Handlers run with exceptions caught and shown in the exception box (see Application.h).

#include <QCloseEvent>
#include <QList>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include "serial/TMCPort.h"
#include "ui_MainForm.h"

class TMForm : public QWidget, public Ui::TMForm {
    Q_OBJECT
  public:
    explicit TMForm(QWidget* parent = nullptr);
    ~TMForm() override;

    QTimer* MsgTimer1 = nullptr;    // 3000 ms, clears the status text
    QTimer* TxLEDTimer = nullptr;   // 80 ms, puts the sending lamp out
    QTimer* RxLEDTimer = nullptr;   // 80 ms, puts the receiving lamp out
    QTimer* MCPort1Timer = nullptr; // reply time-out of the device dialogue (precise timer)
    // 24 lamp images, 16x16 with alpha: circular 0..11, square 12..23; per shape red, green,
    // yellow, blue, each lit, dark, grey.
    QList<QPixmap> ImageList1;

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

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BindHandlers();
};

// The one main window; set before FormCreate runs, null when there is none.
extern TMForm* MForm;
// The one port component, alive for the whole run.
extern TMCPort MCPort1;
