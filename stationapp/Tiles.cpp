#include "stationapp/Tiles.h"

#include <cstdio>

namespace stationapp {

namespace {

const tk::Colour Grey{160, 160, 160}, Orange{240, 140, 20}, Blue{40, 100, 220}, Green{0, 150, 60},
    Red{220, 30, 30}, Dark{60, 60, 60}, Black{0, 0, 0}, White{255, 255, 255};

std::string WithReason(const char* words, const std::string& reason) {
    return reason.empty() ? words : std::string(words) + "：" + reason;
}

} // namespace

std::string ShortPort(const std::string& port) {
    const size_t slash = port.find_last_of("/\\");
    return slash == std::string::npos || slash + 1 == port.size() ? port : port.substr(slash + 1);
}

std::string StateWords(const Tile& tile) {
    switch (tile.State) {
    case TileState::Waiting:
        return "等待";
    case TileState::Busy:
        return "占用";
    case TileState::Upgrading:
        return "升级中 " + std::to_string(tile.Percent) + " %";
    case TileState::Verifying:
        return "校验中";
    case TileState::Passed:
        return "通过";
    case TileState::Failed:
        return WithReason("失败", tile.Reason);
    case TileState::TakeAway:
        return "请取走";
    case TileState::OutOfService:
        return WithReason("停用", tile.Reason);
    case TileState::Stopped:
        return "已停止";
    }
    return {};
}

tk::Colour StateColour(const Tile& tile) {
    switch (tile.State) {
    case TileState::Busy:
        return Orange;
    case TileState::Upgrading:
    case TileState::Verifying:
        return Blue;
    case TileState::Passed:
        return Green;
    case TileState::Failed:
        return Red;
    case TileState::TakeAway:
        return tile.LastOk ? Green : Red;
    case TileState::OutOfService:
        return Dark;
    case TileState::Waiting:
    case TileState::Stopped:
        break;
    }
    return Grey;
}

tk::Colour TextColour(const Tile& tile) {
    const tk::Colour back = StateColour(tile);
    return back.Red == Grey.Red && back.Green == Grey.Green && back.Blue == Grey.Blue ? Black
                                                                                      : White;
}

std::string AccessibleName(const Tile& tile) {
    std::string name = "工位 " + tile.Name + "：" + StateWords(tile);
    if (!tile.Id.empty()) name += " " + tile.Id;
    return name;
}

std::string CountsLine(const Tile& tile, std::chrono::steady_clock::time_point now) {
    std::string line;
    double seconds = tile.Seconds;
    if (UnderWay(tile)) seconds = std::chrono::duration<double>(now - tile.Since).count();
    if (UnderWay(tile) || tile.Seconds > 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%.0f s  ", seconds);
        line = text;
    }
    return line + "通过 " + std::to_string(tile.Passed) + "  失败 " + std::to_string(tile.Failed);
}

bool UnderWay(const Tile& tile) {
    return tile.State == TileState::Upgrading || tile.State == TileState::Verifying;
}

} // namespace stationapp
