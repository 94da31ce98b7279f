#include "app/MainFormLayout.h"

#include <iterator>

namespace {

#define TMFORM_ROW(kind, name, parent, left, top, width, height, caption, hidden, tab)             \
    {tk::Kind::kind, #name, #parent, left, top, width, height, caption, hidden, tab},
const tk::ControlLayout Controls[] = {TMFORM_CONTROLS(TMFORM_ROW)};
#undef TMFORM_ROW

} // namespace

const tk::FormLayout MainFormLayout = {"TMForm", 752, 250, Controls, int(std::size(Controls))};
