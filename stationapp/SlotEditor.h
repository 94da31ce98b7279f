#pragma once
// The slots as the "工位设置" dialog edits them: added, named, changed and removed, each with a
// name and a port no other slot has. Plain logic, driven by the dialog and by the tests.
#include "station/Station.h"

#include <string>
#include <vector>

namespace stationapp {

// The most slots a station window shows.
constexpr size_t MaxSlots = 32;

class SlotEditor {
  public:
    explicit SlotEditor(std::vector<station::SlotSetup> slots);

    const std::vector<station::SlotSetup>& Slots() const { return Items; }
    // Each returns an empty text when done, otherwise why nothing was changed.
    std::string Add(const std::string& name, const std::string& port);
    std::string Change(size_t index, const std::string& name, const std::string& port);
    void Remove(size_t index);
    // A name no slot has yet: A, B, ... Z, then 27, 28, ...
    std::string NextName() const;
    // One line a slot, "A  COM3", CR LF separated.
    std::string Lines() const;

  private:
    std::string Check(const std::string& name, const std::string& port, size_t self) const;
    bool NameTaken(const std::string& name, size_t self) const;

    std::vector<station::SlotSetup> Items;
};

// A port as the station opens it: COM<n> (any letter case, written in capitals) or a device path
// such as /dev/serial/by-path/...; empty when the text is neither.
std::string PortOfText(const std::string& text);

} // namespace stationapp
