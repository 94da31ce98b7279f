#pragma once
// A window's layout as data: every control with its kind, parent, position, caption, initial
// state and place in the tab order. Each toolkit builds its window from it.

namespace tk {

enum class Kind {
    Label,       // tk::Label
    GroupBox,    // tk::GroupBox (the caption is the box's title)
    ComboBox,    // tk::ComboBox, a drop-down list
    EditCombo,   // tk::ComboBox, an editable drop-down
    Button,      // tk::Button
    GlyphButton, // tk::Button with a 16 x 16 glyph beside its caption
    Edit,        // tk::Edit
    Memo,        // tk::Memo
    ProgressBar, // tk::ProgressBar, 0 to 100 %
    StatusBar,   // tk::Control holding panes and images
    StatusPane,  // tk::Label, a sunken pane of a status bar
    Image,       // tk::Image
    Panel,       // tk::Panel, holding the controls that name it as their parent
    ListBox,     // tk::ListBox, a list of lines, one selected
};

struct ControlLayout {
    tk::Kind Kind;
    const char* Name;
    const char* Parent;           // null: the form itself
    int Left, Top, Width, Height; // within the parent's client area, pixels
    const char* Caption;
    bool Hidden;  // hidden at start
    int TabOrder; // 1, 2, ... along the tab chain; 0 not a tab stop
};

struct FormLayout {
    const char* Name;
    int ClientWidth, ClientHeight; // fixed
    const ControlLayout* Controls; // parents before their children, in painting order
    int ControlCount;
    // Enter clicks the button that has the focus, as Space does (a window run from the keyboard).
    bool EnterClicks = false;
};

} // namespace tk
