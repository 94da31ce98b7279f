#include "app/MainForm.h"

#include "app/AccessibleNames.h"
#include "app/Application.h"
#include "app/LampImages.h"
#include "app/PortPanel.h"
#include "app/PortSettings.h"
#include "app/StatusLine.h"
#include "app/WindowDialogue.h"

TMForm* MForm = nullptr;
// The port component lives for the whole run, from before the window exists until after it is
// gone.
TMCPort MCPort1;

namespace {

tk::Font ResultFont() {
    // The result label's face is "宋体"; on machines without it, another CJK face of the system.
    return {{"宋体", "SimSun", "NSimSun", "AR PL UMing CN", "Noto Serif CJK SC", "Noto Sans CJK SC",
             "WenQuanYi Micro Hei"},
            20,
            true};
}

constexpr tk::Colour kHeadingColour{0, 0, 255};

} // namespace

TMForm::TMForm() {
    // Set before anything else: the functions FormCreate calls reach the controls through it.
    MForm = this;
    try {
        tk::SetApplicationTitle("Tolvane");
        FormWindow = tk::MakeForm(MainFormLayout);
#define TMFORM_BIND(type, name, ...) name = FormWindow->Get<tk::kind::type>(#name);
        TMFORM_CONTROLS(TMFORM_BIND)
#undef TMFORM_BIND
        SetUpAccessibleNames(this);

        RzLabel9->SetFont(ResultFont());
        for (tk::Label* heading : {RzLabel14, RzLabel15})
            heading->SetFontColour(kHeadingColour);

        MsgTimer1 = FormWindow->AddTimer(3000, false);
        TxLEDTimer = FormWindow->AddTimer(80, false);
        RxLEDTimer = FormWindow->AddTimer(80, false);
        // Coarse timers may fire a little early; the reply time-out must not.
        MCPort1Timer = FormWindow->AddTimer(5000, true);

        ImageList1 = FormWindow->AddImageList(LampImages());
        RzBitBtn1->SetGlyph(*ImageList1, 1);

        BindHandlers();
        FormCreate();
    } catch (...) {
        MForm = nullptr;
        throw;
    }
}

TMForm::~TMForm() {
    if (MForm == this) MForm = nullptr;
}

void TMForm::BindHandlers() {
    const auto bind = [this](void (TMForm::*handler)()) {
        return [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); };
    };
    RzBitBtn1->OnClick = bind(&TMForm::RzBitBtn1Click);
    RzButton1->OnClick = bind(&TMForm::RzButton1Click);
    RzButton2->OnClick = bind(&TMForm::RzButton2Click);
    RzButton3->OnClick = bind(&TMForm::RzButton3Click);
    MsgTimer1->OnTimer = bind(&TMForm::MsgTimer1Timer);
    TxLEDTimer->OnTimer = bind(&TMForm::TxLEDTimerTimer);
    RxLEDTimer->OnTimer = bind(&TMForm::RxLEDTimerTimer);
    MCPort1Timer->OnTimer = bind(&TMForm::MCPort1TimerTimer);
    FormWindow->OnClose = [this] {
        // A busy dialogue stops, so the window closes at once instead of a run going on
        // against a closed port.
        StopDialogueOnClose();
        // A settings file that cannot be written is reported, but never keeps the window open.
        RunHandler([this] { FormClose(); });
    };
}

void TMForm::FormCreate() {
    FormWindow->SetCaption("Tolvane " + tk::ProgramVersion());
    InitLamps();
    InitPortPanel();
    // The mode boxes offer the same baud rates and parities as the port panel.
    RzComboBox6->SetItems(RzComboBox2->Items());
    RzComboBox8->SetItems(RzComboBox3->Items());
    RzComboBox7->SetItems(RzComboBox2->Items());
    RzComboBox9->SetItems(RzComboBox3->Items());
    LoadModeSettings();
}

void TMForm::FormClose() {
    ClosePortOnExit();
    SavePortSettings();
    SaveModeSettings();
}
