#pragma once
// The toolkit on the Windows common controls: what every part of it shares. Texts are UTF-8
// above these files and UTF-16 below them.
#ifndef UNICODE
#define UNICODE // the wide forms of the system's names (IDC_ARROW, ...)
#endif
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
// The toolkit's own MessageBox, not the system's macro.
#undef MessageBox

#include <string>

#include "base/win32/WideText.h"
#include "toolkit/Toolkit.h"

namespace tk::win32 {

extern void (*exceptionSink)();
extern std::wstring applicationTitle;
extern HWND mainWindow;  // the first form: its keyboard navigation, its closing ends Run
extern HWND modalWindow; // the form shown modally, if any: its keyboard navigation

HINSTANCE Instance();
// The dialog font: 8 points at 96 dpi, the face the layout was drawn for.
HFONT DialogFont();
// Dispatches one message, with the keyboard navigation of a dialog in the main window.
void Dispatch(MSG& msg);

template <typename Fn> void Guarded(Fn fn) {
    // An exception must never unwind through the system's frames.
    try {
        fn();
    } catch (...) {
        if (exceptionSink) exceptionSink();
    }
}

// A window's text as UTF-8.
std::string WindowText(HWND window);

// What every control shares: its window, and the handling of the messages its parent gets for
// it.
class Native {
  public:
    virtual ~Native() = default;
    HWND Handle = nullptr;
    // WM_COMMAND notification code from the control.
    virtual void Command(WORD) {}
    // WM_CTLCOLORSTATIC / WM_CTLCOLOREDIT: a brush, or null for the default.
    virtual HBRUSH CtlColour(HDC) { return nullptr; }
};

template <typename Base> class Win32Control : public Base, public Native {
  public:
    void SetVisible(bool visible) override { ShowWindow(Handle, visible ? SW_SHOW : SW_HIDE); }
    bool Visible() const override { return IsWindowVisible(Handle); }
    void SetEnabled(bool enabled) override { EnableWindow(Handle, enabled); }
    bool Enabled() const override { return IsWindowEnabled(Handle); }
    // Screen readers read a control's window text and its label; the name is kept for those
    // that have neither (a tile) and for the program to read back.
    void SetAccessibleName(const std::string& name) override { Name = name; }
    std::string AccessibleName() const override { return Name; }

  protected:
    std::string WindowText() const { return win32::WindowText(Handle); }

  private:
    std::string Name;
};

} // namespace tk::win32
