#include "stationapp/SlotEditor.h"

#include "serial/PortName.h"

#include <algorithm>

namespace stationapp {

namespace {

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A name goes into Station.ini and the records line by line: no control characters.
bool Printable(const std::string& text) {
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return (unsigned char)c < 0x20 || c == 0x7f; });
}

} // namespace

std::string PortOfText(const std::string& typed) {
    const std::string text = Trimmed(typed);
    if (int number = ComPortNumber(text)) return ComPortName(number);
    if (!Printable(text)) return {};
    // An absolute device path, the Linux or the Windows way.
    if (text.size() > 1 && text[0] == '/') return text;
    if (text.rfind("\\\\.\\", 0) == 0 && text.size() > 4) return text;
    return {};
}

SlotEditor::SlotEditor(std::vector<station::SlotSetup> slots) : Items(std::move(slots)) {}

bool SlotEditor::NameTaken(const std::string& name, size_t self) const {
    for (size_t i = 0; i < Items.size(); ++i)
        if (i != self && Items[i].Name == name) return true;
    return false;
}

std::string SlotEditor::Check(const std::string& name, const std::string& port, size_t self) const {
    if (name.empty()) return "请输入工位名称";
    if (!Printable(name)) return "工位名称含有控制字符";
    if (NameTaken(name, self)) return "已有工位 " + name;
    if (Trimmed(port).empty()) return "请选择或输入端口";
    const std::string opened = PortOfText(port);
    if (opened.empty()) return "端口应为 COM<n> 或设备路径\n（/dev/serial/by-path/...）";
    for (size_t i = 0; i < Items.size(); ++i)
        if (i != self && Items[i].Port == opened)
            return "端口 " + opened + " 已用于工位 " + Items[i].Name;
    return {};
}

std::string SlotEditor::Add(const std::string& typedName, const std::string& port) {
    if (Items.size() >= MaxSlots) return "最多 " + std::to_string(MaxSlots) + " 个工位";
    const std::string name = Trimmed(typedName);
    if (std::string why = Check(name, port, Items.size()); !why.empty()) return why;
    Items.push_back({name, PortOfText(port)});
    return {};
}

std::string SlotEditor::Change(size_t index, const std::string& typedName,
                               const std::string& port) {
    if (index >= Items.size()) return "请先选择一个工位";
    const std::string name = Trimmed(typedName);
    if (std::string why = Check(name, port, index); !why.empty()) return why;
    Items[index] = {name, PortOfText(port)};
    return {};
}

void SlotEditor::Remove(size_t index) {
    if (index < Items.size()) Items.erase(Items.begin() + std::ptrdiff_t(index));
}

std::string SlotEditor::NextName() const {
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        if (!NameTaken(std::string(1, letter), Items.size())) return std::string(1, letter);
    for (size_t n = 27;; ++n)
        if (!NameTaken(std::to_string(n), Items.size())) return std::to_string(n);
}

std::string SlotEditor::Lines() const {
    std::string lines;
    for (size_t i = 0; i < Items.size(); ++i)
        lines += (i ? "\r\n" : "") + Items[i].Name + "  " + Items[i].Port;
    return lines;
}

} // namespace stationapp
