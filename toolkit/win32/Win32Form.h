#pragma once
// A form: a plain top-level window holding the controls of its layout.
#include "toolkit/win32/Win32Controls.h"

#include <map>
#include <memory>
#include <vector>

namespace tk::win32 {

class Win32Form : public Form {
  public:
    explicit Win32Form(const FormLayout& layout);
    ~Win32Form() override;
    void SetCaption(const std::string& text) override {
        SetWindowTextW(Handle, WideFromUtf8(text).c_str());
    }
    std::string Caption() const override { return WindowText(Handle); }
    void Show() override {
        ShowWindow(Handle, SW_SHOW);
        UpdateWindow(Handle);
    }
    void ShowModal() override;
    void Close() override { SendMessageW(Handle, WM_CLOSE, 0, 0); }
    Control* Find(const std::string& name) const override {
        const auto at = ByName.find(name);
        return at == ByName.end() ? nullptr : at->second;
    }
    Timer* AddTimer(int intervalMs, bool) override {
        Timers.push_back(std::make_unique<Win32Timer>(Handle, Timers.size() + 1, intervalMs));
        return Timers.back().get();
    }
    ImageList* AddImageList(const std::vector<LampImage>& images) override {
        Lists.push_back(std::make_unique<Win32ImageList>(images));
        return Lists.back().get();
    }

    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l);

  private:
    Native* NativeOf(HWND control) const {
        const auto at = ByHandle.find(control);
        return at == ByHandle.end() ? nullptr : at->second;
    }
    template <typename T>
    T* Add(const ControlLayout& c, const wchar_t* cls, DWORD style, DWORD exStyle, HWND parent,
           int x, int y, int height);

    // Where a control went: its absolute position on the form and its window. Controls inside
    // group boxes are children of the form (a group box passes no notifications on), placed at
    // their absolute position; images of the status bar are children of the status bar.
    struct Placed {
        int X, Y;
        HWND Window;
        bool StatusBar;
    };
    void CreateFrame(const FormLayout& layout);
    // One builder per kind of control; each returns the control's window.
    HWND AddComboBox(const ControlLayout& c, int x, int y);
    HWND AddProgressBar(const ControlLayout& c, int x, int y);
    void AddStatusPane(const ControlLayout& c, HWND statusBar);
    HWND AddImage(const ControlLayout& c, const Placed& parent, int x, int y);
    // A control on a panel is told so, and the panel learns of it.
    void Adopt(const ControlLayout& c, HWND created);
    HWND AddControl(const ControlLayout& c, const Placed& parent, int x, int y);
    void OrderTabStops(std::vector<std::pair<int, HWND>> tabStops);

    HWND Handle = nullptr;
    bool EnterClicks = false;
    int PaneRight[8] = {};
    int Panes = 0;
    std::vector<std::unique_ptr<Native>> Controls;
    std::map<std::string, Control*> ByName;
    std::map<HWND, Native*> ByHandle;
    std::vector<std::unique_ptr<Win32Timer>> Timers;
    std::vector<std::unique_ptr<Win32ImageList>> Lists;
};

} // namespace tk::win32
