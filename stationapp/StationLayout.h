#pragma once
// The station window's layout as data, made for a number of slots: the package, modes, lot and
// buttons at the top, one tile per slot in a grid that fits the count, the footer below. Both
// toolkits build the window from it.
#include "toolkit/Layout.h"

#include <deque>
#include <string>
#include <vector>

namespace stationapp {

// Tiles in a row: all of up to 4, then about twice as many columns as rows (8 for 32).
int TileColumns(int slots);

// The names of slot i's controls (i from 0).
struct TileNames {
    std::string Panel, Title, State, Id, Bar, Counts, Revive;
};
TileNames TileNamesOf(int index);

class StationLayout {
  public:
    explicit StationLayout(int slots);
    StationLayout(const StationLayout&) = delete;
    StationLayout& operator=(const StationLayout&) = delete;
    const tk::FormLayout& Form() const { return Layout; }

  private:
    void Add(tk::Kind kind, const std::string& name, const char* parent, int left, int top,
             int width, int height, const std::string& caption, bool hidden = false);
    void AddTop(int width);
    void AddTile(int index, int left, int top);

    std::deque<std::string> Texts; // the names and captions the rows point at
    std::vector<tk::ControlLayout> Rows;
    tk::FormLayout Layout{};
    int Tabs = 0;
};

} // namespace stationapp
