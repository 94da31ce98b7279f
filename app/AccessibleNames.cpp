#include "app/AccessibleNames.h"

#include "app/MainForm.h"

namespace {

const std::string kFullWidthColon = "\xEF\xBC\x9A"; // "："

// The label's text as a name: without the blanks that space its characters and the closing
// colon ("串    口：" is announced as "串口").
std::string LabelName(const tk::Label* label) {
    std::string text;
    for (char c : label->Caption())
        if (c != ' ') text += c;
    if (text.size() >= kFullWidthColon.size() &&
        text.compare(text.size() - kFullWidthColon.size(), std::string::npos, kFullWidthColon) == 0)
        text.resize(text.size() - kFullWidthColon.size());
    return text;
}

// What each status-bar control shows.
std::string StatusCaption(const tk::Control* control) {
    if (!MForm) return {};
    if (control == MForm->RzStatusPane3) return "状态";
    if (control == MForm->SPTx) return "发送计数";
    if (control == MForm->SPRx) return "接收计数";
    if (control == MForm->LEDActive) return "串口打开指示灯";
    if (control == MForm->LEDTx) return "发送指示灯";
    if (control == MForm->LEDRx) return "接收指示灯";
    return {};
}

std::string WithDetail(const std::string& caption, const std::string& detail) {
    return detail.empty() ? caption : caption + kFullWidthColon + detail;
}

} // namespace

void SetUpAccessibleNames(TMForm* f) {
    const struct {
        tk::Label* label;
        tk::Control* control;
        tk::Label* heading; // the mode boxes repeat their labels under two headings
    } buddies[] = {
        {f->RzLabel1, f->RzComboBox1, nullptr},       {f->RzLabel2, f->RzComboBox2, nullptr},
        {f->RzLabel3, f->RzComboBox4, nullptr},       {f->RzLabel5, f->RzComboBox3, nullptr},
        {f->RzLabel6, f->RzComboBox5, nullptr},       {f->RzLabel13, f->RzComboBox7, f->RzLabel14},
        {f->RzLabel16, f->RzComboBox9, f->RzLabel14}, {f->RzLabel10, f->RzComboBox6, f->RzLabel15},
        {f->RzLabel12, f->RzComboBox8, f->RzLabel15}, {f->RzLabel7, f->RzEdit1, nullptr},
        {f->RzLabel8, f->RzProgressBar1, nullptr},
    };
    for (const auto& b : buddies) {
        b.label->SetBuddy(b.control);
        b.control->SetAccessibleName(b.heading ? LabelName(b.heading) + ' ' + LabelName(b.label)
                                               : LabelName(b.label));
    }
    f->RzMemo1->SetAccessibleName(f->GroupBox3->Caption());
    for (tk::GroupBox* group : {f->GroupBox1, f->GroupBox2, f->GroupBox3})
        group->SetAccessibleName(group->Caption());
    f->RzStatusBar1->SetAccessibleName("状态栏");
    for (tk::Label* pane : {f->RzStatusPane3, f->SPTx, f->SPRx})
        SetPaneText(pane, pane->Caption());
    // The lamps are named when they are first put out (InitLamps).
}

void SetPaneText(tk::Label* pane, const std::string& text) {
    pane->SetCaption(text);
    pane->SetAccessibleName(WithDetail(StatusCaption(pane), text));
}

void NameLamp(tk::Image* lamp, bool lit) {
    lamp->SetAccessibleName(WithDetail(StatusCaption(lamp), lit ? "亮" : "灭"));
}
