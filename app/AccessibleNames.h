#pragma once
// Names a screen reader announces for the window's controls. Without them the toolkit falls
// back to the title of the surrounding group box, and the lamps and status panes have nothing
// to say.

#include <string>

#include "toolkit/Toolkit.h"

class TMForm;

// Once, when the window is set up: labels become the buddies of the controls beside them, and
// every control without a caption of its own gets a name.
void SetUpAccessibleNames(TMForm* form);

// The status bar's controls change their content at run time; their names follow it.
// Sets the pane's text and a name that says what the pane shows, followed by that text.
void SetPaneText(tk::Label* pane, const std::string& text);
// A lamp's name says what it shows and whether it is lit.
void NameLamp(tk::Image* lamp, bool lit);
