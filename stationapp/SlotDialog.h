#pragma once
// The "工位设置" dialog: the ports present (each device in its hint), the slots added, named,
// changed and removed; a device path may be typed instead of a COM number.
#include "stationapp/SlotEditor.h"
#include "toolkit/Toolkit.h"

#include <memory>
#include <optional>
#include <vector>

namespace stationapp {

class SlotDialog {
  public:
    explicit SlotDialog(std::vector<station::SlotSetup> slots);
    SlotDialog(const SlotDialog&) = delete;
    SlotDialog& operator=(const SlotDialog&) = delete;

    tk::Form& Form() { return *Window; }
    // The slots once "确定" was clicked; none after "取消" or the window closed.
    const std::optional<std::vector<station::SlotSetup>>& Result() const { return Chosen; }
    // Shows the dialog modally and returns its result.
    std::optional<std::vector<station::SlotSetup>> Run();

  private:
    void FillPorts();
    void ShowSlots(int selected);
    void Picked();
    void PortPicked();
    void Add();
    void Change();
    void Remove();
    void Confirm();
    void Say(const std::string& why);

    SlotEditor Editor;
    std::unique_ptr<tk::Form> Window;
    std::optional<std::vector<station::SlotSetup>> Chosen;
};

// The dialog shown modally over the station window.
std::optional<std::vector<station::SlotSetup>>
EditSlots(const std::vector<station::SlotSetup>& slots);

} // namespace stationapp
