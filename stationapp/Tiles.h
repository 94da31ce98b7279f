#pragma once
// The station window's tiles as plain data: one per slot, moved from state to state by the
// station's events, with the words, colours and names the window shows for them.
#include "toolkit/Toolkit.h"

#include <chrono>
#include <string>

namespace stationapp {

enum class TileState {
    Waiting,      // 等待: no unit in the slot
    Busy,         // 占用: another program holds the port
    Upgrading,    // 升级中, with the percent
    Verifying,    // 校验中: asking the new version
    Passed,       // 通过
    Failed,       // 失败, with the reason
    TakeAway,     // 请取走, in the colour of the result
    OutOfService, // 停用, with the reason
    Stopped,      // 已停止: the station has ended
};

struct Tile {
    std::string Name, Port;
    TileState State = TileState::Waiting;
    bool LastOk = false; // the result the unit in the slot had
    std::string Reason;  // of a failure or of the slot going out of service
    std::string Id;      // the unit's identity, empty when not known
    int Percent = 0;
    // While a unit is in: when it was found; afterwards the seconds it took.
    std::chrono::steady_clock::time_point Since;
    double Seconds = 0;
    int Passed = 0, Failed = 0;
};

// The port as a tile shows it: a device path by its last part ("COM3" stays "COM3").
std::string ShortPort(const std::string& port);
// The state in words: "升级中 42 %", "失败：<reason>", "停用：<reason>", ...
std::string StateWords(const Tile& tile);
tk::Colour StateColour(const Tile& tile);
// The colour of the texts on the tile's background.
tk::Colour TextColour(const Tile& tile);
// What a screen reader announces: "工位 A：通过 86000000000001".
std::string AccessibleName(const Tile& tile);
// "12 s  通过 3  失败 1" (no seconds while waiting for a first unit).
std::string CountsLine(const Tile& tile, std::chrono::steady_clock::time_point now);
// Whether a unit is being upgraded or verified (closing then asks).
bool UnderWay(const Tile& tile);

} // namespace stationapp
