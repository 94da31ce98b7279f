#include "stationapp/StationLayout.h"

#include <algorithm>
#include <cmath>

namespace stationapp {

namespace {

constexpr int TileWidth = 150, TileHeight = 112, Gap = 6, TilesTop = 118;

bool TabStop(tk::Kind kind) {
    switch (kind) {
    case tk::Kind::Edit:
    case tk::Kind::ComboBox:
    case tk::Kind::EditCombo:
    case tk::Kind::Button:
        return true;
    default:
        return false;
    }
}

} // namespace

int TileColumns(int slots) {
    if (slots <= 4) return std::max(slots, 1);
    return int(std::ceil(std::sqrt(2.0 * slots)));
}

TileNames TileNamesOf(int index) {
    const std::string n = "Tile" + std::to_string(index + 1);
    return {n, n + "Title", n + "State", n + "Id", n + "Bar", n + "Counts", n + "Revive"};
}

void StationLayout::Add(tk::Kind kind, const std::string& name, const char* parent, int left,
                        int top, int width, int height, const std::string& caption, bool hidden) {
    const char* storedName = Texts.emplace_back(name).c_str();
    const char* storedCaption = Texts.emplace_back(caption).c_str();
    Rows.push_back({kind, storedName, parent, left, top, width, height, storedCaption, hidden,
                    TabStop(kind) ? ++Tabs : 0});
}

void StationLayout::AddTop(int width) {
    using tk::Kind;
    const char* form = "TStationForm";
    Add(Kind::Label, "PackageLabel", form, 8, 12, 40, 13, "固件：");
    Add(Kind::Edit, "PackageEdit", form, 50, 8, width - 154, 21, "");
    Add(Kind::Button, "ChooseButton", form, width - 96, 7, 88, 23, "选择固件");
    Add(Kind::Label, "PackageLine", form, 8, 36, width - 16, 13, "");
    Add(Kind::Label, "ExpectLabel", form, 8, 60, 52, 13, "预期版本");
    Add(Kind::Edit, "ExpectEdit", form, 62, 56, 120, 21, "");
    Add(Kind::Label, "LotLabel", form, 192, 60, 28, 13, "批次");
    Add(Kind::Edit, "LotEdit", form, 222, 56, 110, 21, "");
    Add(Kind::Label, "OperatorLabel", form, 342, 60, 40, 13, "操作员");
    Add(Kind::Edit, "OperatorEdit", form, 384, 56, 110, 21, "");
    Add(Kind::Label, "WorkingLabel", form, 8, 90, 48, 13, "工作时：");
    Add(Kind::ComboBox, "WorkingBaud", form, 58, 86, 89, 21, "");
    Add(Kind::ComboBox, "WorkingParity", form, 150, 86, 64, 21, "");
    Add(Kind::Label, "LoaderLabel", form, 226, 90, 48, 13, "升级时：");
    Add(Kind::ComboBox, "LoaderBaud", form, 276, 86, 89, 21, "");
    Add(Kind::ComboBox, "LoaderParity", form, 368, 86, 64, 21, "");
    // Right of the loader's parity (which ends at 432), in the narrowest window too.
    Add(Kind::Button, "SlotsButton", form, width - 220, 84, 68, 25, "工位设置");
    Add(Kind::Button, "StartButton", form, width - 148, 84, 68, 25, "开始");
    Add(Kind::Button, "StopButton", form, width - 76, 84, 68, 25, "停止");
}

void StationLayout::AddTile(int index, int left, int top) {
    using tk::Kind;
    const TileNames n = TileNamesOf(index);
    Add(Kind::Panel, n.Panel, "TStationForm", left, top, TileWidth, TileHeight, "");
    const char* panel = Texts[Texts.size() - 2].c_str();
    const int inner = TileWidth - 12;
    Add(Kind::Label, n.Title, panel, 6, 5, inner, 14, "");
    Add(Kind::Label, n.State, panel, 6, 23, inner, 14, "");
    Add(Kind::Label, n.Id, panel, 6, 41, inner, 14, "");
    Add(Kind::ProgressBar, n.Bar, panel, 6, 60, inner, 12, "", true);
    Add(Kind::Label, n.Counts, panel, 6, 90, inner, 14, "");
    // Where the progress bar is: a slot out of service upgrades nothing.
    Add(Kind::Button, n.Revive, panel, TileWidth - 62, 58, 56, 24, "恢复", true);
}

StationLayout::StationLayout(int slots) {
    const int columns = TileColumns(slots);
    const int rows = (slots + columns - 1) / columns;
    const int width = std::max(660, 8 + columns * (TileWidth + Gap) + 2);
    AddTop(width);
    // A grid narrower than the top stands in the middle.
    const int left = std::max(8, (width - (columns * (TileWidth + Gap) - Gap)) / 2);
    for (int i = 0; i < slots; ++i)
        AddTile(i, left + i % columns * (TileWidth + Gap),
                TilesTop + i / columns * (TileHeight + Gap));
    const int footer = TilesTop + rows * (TileHeight + Gap) + 2;
    Add(tk::Kind::Label, "FooterLabel", "TStationForm", 8, footer, width - 16, 15, "");
    Add(tk::Kind::Label, "LogLabel", "TStationForm", 8, footer + 18, width - 16, 13, "");
    Layout = {"TStationForm", width, footer + 38, Rows.data(), int(Rows.size()), true};
}

} // namespace stationapp
