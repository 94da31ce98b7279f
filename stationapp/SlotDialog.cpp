#include "stationapp/SlotDialog.h"

#include "serial/PortMap.h"
#include "serial/PortName.h"

#include <iterator>

namespace stationapp {

namespace {

// clang-format off
const tk::ControlLayout Controls[] = {
    // kind             name            parent          left top  width height caption  hidden tab
    {tk::Kind::Label,   "SlotsLabel",   "TSlotForm",    8,   8,   220, 13, "工位：",       false, 0},
    {tk::Kind::ListBox, "SlotList",     "TSlotForm",    8,   24,  220, 218, "",           false, 1},
    {tk::Kind::Label,   "NameLabel",    "TSlotForm",    240, 28,  44,  13, "名称：",       false, 0},
    {tk::Kind::Edit,    "NameEdit",     "TSlotForm",    288, 24,  164, 21, "",            false, 2},
    {tk::Kind::Label,   "PortLabel",    "TSlotForm",    240, 58,  44,  13, "端口：",       false, 0},
    {tk::Kind::EditCombo, "PortCombo",  "TSlotForm",    288, 54,  164, 21, "",            false, 3},
    {tk::Kind::Label,   "PortHint",     "TSlotForm",    240, 82,  212, 30, "",            false, 0},
    {tk::Kind::Button,  "AddButton",    "TSlotForm",    240, 118, 68,  25, "添加",         false, 4},
    {tk::Kind::Button,  "ChangeButton", "TSlotForm",    312, 118, 68,  25, "修改",         false, 5},
    {tk::Kind::Button,  "RemoveButton", "TSlotForm",    384, 118, 68,  25, "删除",         false, 6},
    {tk::Kind::Label,   "ErrorLabel",   "TSlotForm",    240, 152, 212, 44, "",            false, 0},
    {tk::Kind::Button,  "OkButton",     "TSlotForm",    296, 250, 76,  25, "确定",         false, 7},
    {tk::Kind::Button,  "CancelButton", "TSlotForm",    376, 250, 76,  25, "取消",         false, 8},
};
// clang-format on

const tk::FormLayout Layout = {"TSlotForm", 460, 284, Controls, int(std::size(Controls)), true};

// Two lines: the labels of both toolkits break where the text says.
constexpr char TypeHint[] = "可选端口，或输入设备路径：\n/dev/serial/by-path/...";

} // namespace

SlotDialog::SlotDialog(std::vector<station::SlotSetup> slots)
    : Editor(std::move(slots)), Window(tk::MakeForm(Layout)) {
    Window->SetCaption("工位设置");
    const std::pair<const char*, const char*> buddies[] = {
        {"SlotsLabel", "SlotList"}, {"NameLabel", "NameEdit"}, {"PortLabel", "PortCombo"}};
    for (const auto& [label, control] : buddies)
        Window->Get<tk::Label>(label)->SetBuddy(Window->Find(control));
    const std::pair<const char*, const char*> names[] = {
        {"SlotList", "工位"},     {"NameEdit", "名称"},     {"PortCombo", "端口"},
        {"PortHint", "端口说明"}, {"ErrorLabel", "提示"},   {"AddButton", "添加"},
        {"ChangeButton", "修改"}, {"RemoveButton", "删除"}, {"OkButton", "确定"},
        {"CancelButton", "取消"}};
    for (const auto& [control, name] : names)
        Window->Find(control)->SetAccessibleName(name);
    Window->Get<tk::Label>("ErrorLabel")->SetFontColour({255, 0, 0});
    Window->Get<tk::ListBox>("SlotList")->OnChange = [this] { Picked(); };
    Window->Get<tk::ComboBox>("PortCombo")->OnChange = [this] { PortPicked(); };
    Window->Get<tk::Button>("AddButton")->OnClick = [this] { Add(); };
    Window->Get<tk::Button>("ChangeButton")->OnClick = [this] { Change(); };
    Window->Get<tk::Button>("RemoveButton")->OnClick = [this] { Remove(); };
    Window->Get<tk::Button>("OkButton")->OnClick = [this] { Confirm(); };
    Window->Get<tk::Button>("CancelButton")->OnClick = [this] { Window->Close(); };
    FillPorts();
    ShowSlots(-1);
}

// The ports present, as the main window lists them, each with the device behind it.
void SlotDialog::FillPorts() {
    auto* combo = Window->Get<tk::ComboBox>("PortCombo");
    std::string lines;
    const std::vector<int> present = PresentPortNumbers();
    for (size_t i = 0; i < present.size(); ++i)
        lines += (i ? "\r\n" : "") + ComPortName(present[i]);
    combo->SetItems(lines);
    for (size_t i = 0; i < present.size(); ++i)
        combo->SetItemHint(int(i), PortDevicePath(present[i]));
}

void SlotDialog::ShowSlots(int selected) {
    auto* list = Window->Get<tk::ListBox>("SlotList");
    list->SetItems(Editor.Lines());
    list->SetItemIndex(selected);
    const bool any = selected >= 0 && size_t(selected) < Editor.Slots().size();
    Window->Find("ChangeButton")->SetEnabled(any);
    Window->Find("RemoveButton")->SetEnabled(any);
    Window->Find("AddButton")->SetEnabled(Editor.Slots().size() < MaxSlots);
    if (any) {
        Window->Get<tk::Edit>("NameEdit")->SetText(Editor.Slots()[size_t(selected)].Name);
        Window->Get<tk::ComboBox>("PortCombo")->SetText(Editor.Slots()[size_t(selected)].Port);
    } else {
        Window->Get<tk::Edit>("NameEdit")->SetText(Editor.NextName());
        Window->Get<tk::ComboBox>("PortCombo")->SetText("");
    }
    PortPicked();
}

void SlotDialog::Picked() {
    Say("");
    ShowSlots(Window->Get<tk::ListBox>("SlotList")->ItemIndex());
}

void SlotDialog::PortPicked() {
    const std::string port = PortOfText(Window->Get<tk::ComboBox>("PortCombo")->Text());
    std::string device;
    if (const int number = ComPortNumber(port)) device = PortDevicePath(number);
    Window->Get<tk::Label>("PortHint")->SetCaption(device.empty() ? TypeHint : "设备：" + device);
}

void SlotDialog::Say(const std::string& why) {
    Window->Get<tk::Label>("ErrorLabel")->SetCaption(why);
}

void SlotDialog::Add() {
    const std::string why = Editor.Add(Window->Get<tk::Edit>("NameEdit")->Text(),
                                       Window->Get<tk::ComboBox>("PortCombo")->Text());
    Say(why);
    if (why.empty()) ShowSlots(-1);
}

void SlotDialog::Change() {
    const int at = Window->Get<tk::ListBox>("SlotList")->ItemIndex();
    const std::string why = Editor.Change(size_t(at < 0 ? Editor.Slots().size() : size_t(at)),
                                          Window->Get<tk::Edit>("NameEdit")->Text(),
                                          Window->Get<tk::ComboBox>("PortCombo")->Text());
    Say(why);
    if (why.empty()) ShowSlots(at);
}

void SlotDialog::Remove() {
    const int at = Window->Get<tk::ListBox>("SlotList")->ItemIndex();
    if (at < 0) return;
    Editor.Remove(size_t(at));
    Say("");
    ShowSlots(-1);
}

void SlotDialog::Confirm() {
    Chosen = Editor.Slots();
    Window->Close();
}

std::optional<std::vector<station::SlotSetup>> SlotDialog::Run() {
    Window->ShowModal();
    return Chosen;
}

std::optional<std::vector<station::SlotSetup>>
EditSlots(const std::vector<station::SlotSetup>& slots) {
    SlotDialog dialog(slots);
    return dialog.Run();
}

} // namespace stationapp
