// The toolkit on the Windows common controls: BUTTON, STATIC, COMBOBOX, EDIT,
// msctls_progress32 and msctls_statusbar32 in a plain top-level window, SetTimer, the common
// file dialog, MessageBoxW and a message-only window for the port's notifications.
// Texts are UTF-8 above this file and UTF-16 below it.

#ifndef UNICODE
#define UNICODE // the wide forms of the system's names (IDC_ARROW, ...)
#endif
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
// The toolkit's own MessageBox below, not the system's macro.
#undef MessageBox

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

#include "base/win32/WideText.h"
#include "toolkit/Toolkit.h"

namespace tk {
namespace {

void (*exceptionSink)() = nullptr;
std::wstring applicationTitle = L"Tolvane";
HWND mainWindow = nullptr; // the first form: its keyboard navigation, its closing ends Run

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

// The dialog font: 8 points at 96 dpi, the face the layout was drawn for.
HFONT DialogFont() {
    static HFONT font = CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                    DEFAULT_PITCH | FF_DONTCARE, L"MS Shell Dlg 2");
    return font;
}

template <typename Fn> void Guarded(Fn fn) {
    // An exception must never unwind through the system's frames.
    try {
        fn();
    } catch (...) {
        if (exceptionSink) exceptionSink();
    }
}

// --- images --------------------------------------------------------------------------------

// A 16 x 16 lamp with a radial highlight, antialiased by 4 x 4 supersampling; premultiplied
// BGRA, top row first.
std::vector<uint32_t> DrawLamp(const LampImage& lamp) {
    auto scale = [](Colour c, double f) {
        auto channel = [f](uint8_t v) { return uint8_t(std::clamp(v * f, 0.0, 255.0)); };
        return Colour{channel(c.Red), channel(c.Green), channel(c.Blue)};
    };
    auto mix = [](Colour a, Colour b, double t) {
        auto channel = [t](uint8_t x, uint8_t y) { return uint8_t(x + (y - x) * t); };
        return Colour{channel(a.Red, b.Red), channel(a.Green, b.Green), channel(a.Blue, b.Blue)};
    };
    Colour base = lamp.Hue;
    if (lamp.Look == LampLook::Dark) base = scale(base, 1 / 2.6);
    if (lamp.Look == LampLook::Grey) base = {150, 150, 150};
    const bool lit = lamp.Look == LampLook::Lit;
    const Colour centre = lit ? Colour{255, 255, 255} : scale(base, 1.4);
    const double stop = lit ? 0.35 : 0.25;
    const Colour edge = scale(base, 1 / 1.5);
    const Colour outline{60, 60, 60};

    std::vector<uint32_t> pixels(16 * 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            double r = 0, g = 0, b = 0, a = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx) {
                    const double px = x + (sx + 0.5) / 4, py = y + (sy + 0.5) / 4;
                    // Distance outside the body (negative inside): circle or rounded square.
                    double d;
                    if (lamp.Round) {
                        d = std::hypot(px - 8, py - 8) - 6.5;
                    } else {
                        const double qx = std::max(std::abs(px - 8) - 4.0, 0.0);
                        const double qy = std::max(std::abs(py - 8) - 4.0, 0.0);
                        d = std::hypot(qx, qy) - 2.5;
                    }
                    if (d > 0.5) continue;
                    Colour c = outline;
                    if (d < -0.5) {
                        const double t = std::min(std::hypot(px - 6, py - 6) / 9, 1.0);
                        c = t < stop ? mix(centre, base, t / stop)
                                     : mix(base, edge, (t - stop) / (1 - stop));
                    }
                    r += c.Red, g += c.Green, b += c.Blue, a += 1;
                }
            const double alpha = a / 16;
            const auto premultiplied = [&](double sum) { return uint32_t(sum / 16 + 0.5); };
            pixels[size_t(y * 16 + x)] = uint32_t(alpha * 255 + 0.5) << 24 |
                                         premultiplied(r) << 16 | premultiplied(g) << 8 |
                                         premultiplied(b);
        }
    return pixels;
}

HICON IconFrom(const std::vector<uint32_t>& pixels) {
    BITMAPV5HEADER header{};
    header.bV5Size = sizeof(header);
    header.bV5Width = 16;
    header.bV5Height = -16;
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP colour = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                                      DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (!colour) return nullptr;
    std::copy(pixels.begin(), pixels.end(), static_cast<uint32_t*>(bits));
    HBITMAP mask = CreateBitmap(16, 16, 1, 1, nullptr);
    ICONINFO info{TRUE, 0, 0, mask, colour};
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    DeleteObject(colour);
    return icon;
}

class Win32ImageList : public ImageList {
  public:
    explicit Win32ImageList(const std::vector<LampImage>& images) {
        for (const LampImage& image : images)
            Icons.push_back(IconFrom(DrawLamp(image)));
    }
    ~Win32ImageList() override {
        for (HICON icon : Icons)
            DestroyIcon(icon);
    }
    int Count() const override { return int(Icons.size()); }
    HICON At(int index) const {
        return index >= 0 && index < Count() ? Icons[size_t(index)] : nullptr;
    }
    std::vector<HICON> Icons;
};

HICON IconAt(const ImageList& images, int index) {
    return static_cast<const Win32ImageList&>(images).At(index);
}

// --- controls ------------------------------------------------------------------------------

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
    // Screen readers read a control's window text and its label; nothing else to keep.
    void SetAccessibleName(const std::string&) override {}

  protected:
    std::string WindowText() const {
        const int n = GetWindowTextLengthW(Handle);
        std::wstring text(size_t(n) + 1, L'\0');
        GetWindowTextW(Handle, text.data(), n + 1);
        text.resize(size_t(n));
        return Utf8FromWide(text);
    }
};

class Win32Label : public Win32Control<Label> {
  public:
    ~Win32Label() override {
        if (Font) DeleteObject(Font);
    }
    void SetCaption(const std::string& text) override {
        SetWindowTextW(Handle, WideFromUtf8(text).c_str());
    }
    std::string Caption() const override { return WindowText(); }
    void SetFontColour(Colour colour) override {
        TextColour = RGB(colour.Red, colour.Green, colour.Blue);
        InvalidateRect(Handle, nullptr, TRUE);
    }
    void SetFont(const Font& font) override {
        HFONT made =
            CreateFontW(-font.PixelSize, 0, 0, 0, font.Bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                        FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                        DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                        font.Families.empty() ? L"" : WideFromUtf8(font.Families[0]).c_str());
        SendMessageW(Handle, WM_SETFONT, WPARAM(made), TRUE);
        if (Font) DeleteObject(Font);
        Font = made;
    }
    void SetBuddy(Control*) override {}
    HBRUSH CtlColour(HDC dc) override {
        SetTextColor(dc, TextColour);
        SetBkMode(dc, TRANSPARENT);
        return GetSysColorBrush(COLOR_BTNFACE);
    }

  private:
    COLORREF TextColour = GetSysColor(COLOR_BTNTEXT);
    HFONT Font = nullptr;
};

class Win32GroupBox : public Win32Control<GroupBox> {
  public:
    void SetCaption(const std::string& text) override {
        SetWindowTextW(Handle, WideFromUtf8(text).c_str());
    }
    std::string Caption() const override { return WindowText(); }
    void SetFontColour(Colour) override {}
    void SetFont(const Font&) override {}
    void SetBuddy(Control*) override {}
};

// One pane of a status bar.
class Win32Pane : public Win32Control<Label> {
  public:
    int Part = 0;
    void SetCaption(const std::string& text) override {
        Text = text;
        SendMessageW(Handle, SB_SETTEXTW, WPARAM(Part), LPARAM(WideFromUtf8(text).c_str()));
    }
    std::string Caption() const override { return Text; }
    void SetVisible(bool) override {}
    bool Visible() const override { return IsWindowVisible(Handle); }
    void SetFontColour(Colour) override {}
    void SetFont(const Font&) override {}
    void SetBuddy(Control*) override {}

  private:
    std::string Text;
};

class Win32ComboBox : public Win32Control<ComboBox> {
  public:
    void SetItems(const std::string& lines) override {
        SendMessageW(Handle, CB_RESETCONTENT, 0, 0);
        SetWindowTextW(Handle, L"");
        if (lines.empty()) return;
        for (size_t start = 0;;) {
            const size_t end = lines.find("\r\n", start);
            const std::string item = lines.substr(start, end - start);
            SendMessageW(Handle, CB_ADDSTRING, 0, LPARAM(WideFromUtf8(item).c_str()));
            if (end == std::string::npos) break;
            start = end + 2;
        }
    }
    std::string Items() const override {
        std::string items;
        for (int i = 0; i < ItemCount(); ++i)
            items += (i ? "\r\n" : "") + ItemText(i);
        return items;
    }
    int ItemCount() const override { return int(SendMessageW(Handle, CB_GETCOUNT, 0, 0)); }
    std::string ItemText(int index) const override {
        const LRESULT n = SendMessageW(Handle, CB_GETLBTEXTLEN, WPARAM(index), 0);
        if (n == CB_ERR) return {};
        std::wstring text(size_t(n) + 1, L'\0');
        SendMessageW(Handle, CB_GETLBTEXT, WPARAM(index), LPARAM(text.data()));
        text.resize(size_t(n));
        return Utf8FromWide(text);
    }
    // Item hints are tooltips on Qt; the Windows list has none.
    void SetItemHint(int, const std::string&) override {}
    int ItemIndex() const override { return int(SendMessageW(Handle, CB_GETCURSEL, 0, 0)); }
    void SetItemIndex(int index) override { SendMessageW(Handle, CB_SETCURSEL, WPARAM(index), 0); }
    // The kind is fixed at creation (CBS_DROPDOWNLIST or CBS_DROPDOWN), as the layout gives it.
    void SetEditable(bool) override {}
    void Command(WORD code) override {
        // A pick that moves the selection, and a pick of the item already selected.
        if ((code == CBN_SELCHANGE || code == CBN_SELENDOK) && OnChange) Guarded(OnChange);
    }
};

class Win32Button : public Win32Control<Button> {
  public:
    void SetCaption(const std::string& text) override {
        SetWindowTextW(Handle, WideFromUtf8(text).c_str());
    }
    std::string Caption() const override { return WindowText(); }
    void SetGlyph(const ImageList& images, int index) override {
        glyphIndex_ = index;
        SendMessageW(Handle, BM_SETIMAGE, IMAGE_ICON, LPARAM(IconAt(images, index)));
    }
    void Command(WORD code) override {
        if (code == BN_CLICKED && OnClick) Guarded(OnClick);
    }
};

class Win32Edit : public Win32Control<Edit> {
  public:
    void SetText(const std::string& text) override {
        SetWindowTextW(Handle, WideFromUtf8(text).c_str());
    }
    std::string Text() const override { return WindowText(); }
};

class Win32Memo : public Win32Control<Memo> {
  public:
    void Clear() override { SetWindowTextW(Handle, L""); }
    void AppendLine(const std::string& line) override {
        const int end = GetWindowTextLengthW(Handle);
        const std::wstring text = (end > 0 ? L"\r\n" : L"") + WideFromUtf8(line);
        SendMessageW(Handle, EM_SETSEL, WPARAM(end), LPARAM(end));
        SendMessageW(Handle, EM_REPLACESEL, FALSE, LPARAM(text.c_str()));
    }
    // The memo's background is the system colour of highlighted text (white by default).
    HBRUSH CtlColour(HDC dc) override {
        SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
        return GetSysColorBrush(COLOR_HIGHLIGHTTEXT);
    }
};

class Win32ProgressBar : public Win32Control<ProgressBar> {
  public:
    void SetPercent(int percent) override {
        Value = percent;
        SendMessageW(Handle, PBM_SETPOS, WPARAM(percent), 0);
    }
    int Percent() const override { return Value; }

  private:
    int Value = 0;
};

class Win32StatusBar : public Win32Control<Control> {};

class Win32Image : public Win32Control<Image> {
  public:
    void SetImage(const ImageList& images, int index) override {
        SendMessageW(Handle, STM_SETIMAGE, IMAGE_ICON, LPARAM(IconAt(images, index)));
    }
    void Repaint() override {
        InvalidateRect(Handle, nullptr, TRUE);
        UpdateWindow(Handle);
    }
};

class Win32Timer : public Timer {
  public:
    Win32Timer(HWND owner, UINT_PTR id, int interval) : Owner(owner), Id(id), Ms(interval) {}
    ~Win32Timer() override { Stop(); }
    void SetInterval(int ms) override { Ms = ms; }
    int Interval() const override { return Ms; }
    // Windows timers never fire early.
    void Start() override {
        SetTimer(Owner, Id, UINT(Ms), nullptr);
        Running = true;
    }
    void Stop() override {
        KillTimer(Owner, Id);
        Running = false;
    }
    bool Enabled() const override { return Running; }
    void Fire() {
        Stop(); // one-shot
        if (OnTimer) Guarded(OnTimer);
    }

  private:
    HWND Owner;
    UINT_PTR Id;
    int Ms;
    bool Running = false;
};

// --- the form ------------------------------------------------------------------------------

const wchar_t kFormClass[] = L"TolvaneForm";

class Win32Form : public Form {
  public:
    explicit Win32Form(const FormLayout& layout);
    ~Win32Form() override {
        Timers.clear();
        if (Handle) DestroyWindow(Handle);
    }
    void SetCaption(const std::string& text) override {
        SetWindowTextW(Handle, WideFromUtf8(text).c_str());
    }
    std::string Caption() const override {
        const int n = GetWindowTextLengthW(Handle);
        std::wstring text(size_t(n) + 1, L'\0');
        GetWindowTextW(Handle, text.data(), n + 1);
        text.resize(size_t(n));
        return Utf8FromWide(text);
    }
    void Show() override {
        ShowWindow(Handle, SW_SHOW);
        UpdateWindow(Handle);
    }
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
    HWND AddControl(const ControlLayout& c, const Placed& parent, int x, int y);
    void OrderTabStops(std::vector<std::pair<int, HWND>> tabStops);

    HWND Handle = nullptr;
    int PaneRight[8] = {};
    int Panes = 0;
    std::vector<std::unique_ptr<Native>> Controls;
    std::map<std::string, Control*> ByName;
    std::map<HWND, Native*> ByHandle;
    std::vector<std::unique_ptr<Win32Timer>> Timers;
    std::vector<std::unique_ptr<Win32ImageList>> Lists;
};

template <typename T>
T* Win32Form::Add(const ControlLayout& c, const wchar_t* cls, DWORD style, DWORD exStyle,
                  HWND parent, int x, int y, int height) {
    auto control = std::make_unique<T>();
    T* raw = control.get();
    const DWORD visible = c.Hidden ? 0 : WS_VISIBLE;
    raw->Handle = CreateWindowExW(exStyle, cls, WideFromUtf8(c.Caption).c_str(),
                                  WS_CHILD | visible | style | (c.TabOrder > 0 ? WS_TABSTOP : 0), x,
                                  y, c.Width, height, parent, nullptr, Instance(), nullptr);
    SendMessageW(raw->Handle, WM_SETFONT, WPARAM(DialogFont()), FALSE);
    ByName[c.Name] = raw;
    ByHandle[raw->Handle] = raw;
    Controls.push_back(std::move(control));
    return raw;
}

void RegisterFormClass() {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &Win32Form::Proc;
        wc.hInstance = Instance();
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = HBRUSH(COLOR_BTNFACE + 1);
        wc.hIcon = LoadIconW(Instance(), MAKEINTRESOURCEW(1));
        wc.hIconSm = wc.hIcon;
        wc.lpszClassName = kFormClass;
        return RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
}

void Win32Form::CreateFrame(const FormLayout& layout) {
    RegisterFormClass();
    // Not WS_CLIPCHILDREN: group boxes draw no interior of their own.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, layout.ClientWidth, layout.ClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    Handle = CreateWindowExW(0, kFormClass, applicationTitle.c_str(), style,
                             (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                             (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr,
                             nullptr, Instance(), this);
    if (!mainWindow) mainWindow = Handle;
}

HWND Win32Form::AddComboBox(const ControlLayout& c, int x, int y) {
    const DWORD kind = c.Kind == Kind::ComboBox ? CBS_DROPDOWNLIST : CBS_DROPDOWN;
    // The height of a combo box includes its drop-down list.
    return Add<Win32ComboBox>(c, L"COMBOBOX", kind | CBS_AUTOHSCROLL | WS_VSCROLL, 0, Handle, x, y,
                              200)
        ->Handle;
}

HWND Win32Form::AddProgressBar(const ControlLayout& c, int x, int y) {
    const HWND bar =
        Add<Win32ProgressBar>(c, PROGRESS_CLASSW, 0, 0, Handle, x, y, c.Height)->Handle;
    SendMessageW(bar, PBM_SETRANGE32, 0, 100);
    return bar;
}

// A pane is a part of its status bar, not a window of its own.
void Win32Form::AddStatusPane(const ControlLayout& c, HWND statusBar) {
    auto pane = std::make_unique<Win32Pane>();
    pane->Handle = statusBar;
    pane->Part = Panes;
    ByName[c.Name] = pane.get();
    Controls.push_back(std::move(pane));
    if (Panes < 7) PaneRight[Panes++] = c.Left + c.Width;
    SendMessageW(statusBar, SB_SETPARTS, WPARAM(Panes), LPARAM(PaneRight));
}

HWND Win32Form::AddImage(const ControlLayout& c, const Placed& parent, int x, int y) {
    const bool inBar = parent.StatusBar;
    return Add<Win32Image>(c, L"STATIC", SS_ICON | SS_REALSIZECONTROL, 0,
                           inBar ? parent.Window : Handle, inBar ? c.Left : x, inBar ? c.Top : y,
                           c.Height)
        ->Handle;
}

HWND Win32Form::AddControl(const ControlLayout& c, const Placed& parent, int x, int y) {
    switch (c.Kind) {
    case Kind::Label:
        return Add<Win32Label>(c, L"STATIC", SS_LEFT | SS_NOPREFIX, 0, Handle, x, y, c.Height)
            ->Handle;
    case Kind::GroupBox:
        return Add<Win32GroupBox>(c, L"BUTTON", BS_GROUPBOX, 0, Handle, x, y, c.Height)->Handle;
    case Kind::ComboBox:
    case Kind::EditCombo:
        return AddComboBox(c, x, y);
    case Kind::Button:
    case Kind::GlyphButton:
        return Add<Win32Button>(c, L"BUTTON", BS_PUSHBUTTON, 0, Handle, x, y, c.Height)->Handle;
    case Kind::Edit:
        return Add<Win32Edit>(c, L"EDIT", ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, Handle, x, y, c.Height)
            ->Handle;
    case Kind::Memo:
        return Add<Win32Memo>(c, L"EDIT", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL,
                              0, Handle, x, y, c.Height)
            ->Handle;
    case Kind::ProgressBar:
        return AddProgressBar(c, x, y);
    case Kind::StatusBar:
        return Add<Win32StatusBar>(c, STATUSCLASSNAMEW, 0, 0, Handle, x, y, c.Height)->Handle;
    case Kind::StatusPane:
        AddStatusPane(c, parent.Window);
        return nullptr;
    case Kind::Image:
        return AddImage(c, parent, x, y);
    }
    return nullptr;
}

// The tab key follows the windows' order among their siblings.
void Win32Form::OrderTabStops(std::vector<std::pair<int, HWND>> tabStops) {
    std::sort(tabStops.begin(), tabStops.end());
    HWND previous = HWND_TOP;
    for (const auto& stop : tabStops) {
        SetWindowPos(stop.second, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        previous = stop.second;
    }
}

Win32Form::Win32Form(const FormLayout& layout) {
    CreateFrame(layout);
    std::map<std::string, Placed> placed;
    std::vector<std::pair<int, HWND>> tabStops;
    for (int i = 0; i < layout.ControlCount; ++i) {
        const ControlLayout& c = layout.Controls[i];
        const auto at = placed.find(c.Parent ? c.Parent : "");
        const Placed parent = at == placed.end() ? Placed{0, 0, Handle, false} : at->second;
        const int x = parent.X + c.Left, y = parent.Y + c.Top;
        const HWND created = AddControl(c, parent, x, y);
        // A status bar's images are placed in it; its panes are no windows.
        if (c.Kind == Kind::StatusBar) placed[c.Name] = {0, 0, created, true};
        if (c.Kind == Kind::StatusBar || c.Kind == Kind::StatusPane) continue;
        if (c.TabOrder > 0) tabStops.emplace_back(c.TabOrder, created);
        placed[c.Name] = {x, y, created, false};
    }
    OrderTabStops(std::move(tabStops));
}

LRESULT CALLBACK Win32Form::Proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(l);
        SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(create->lpCreateParams));
    }
    auto* form = reinterpret_cast<Win32Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!form) return DefWindowProcW(window, message, w, l);
    switch (message) {
    case WM_COMMAND:
        if (Native* control = form->NativeOf(HWND(l))) control->Command(HIWORD(w));
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
        if (Native* control = form->NativeOf(HWND(l)))
            if (HBRUSH brush = control->CtlColour(HDC(w))) return LRESULT(brush);
        break;
    case WM_ERASEBKGND: {
        RECT area;
        GetClientRect(window, &area);
        FillRect(HDC(w), &area, GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    case WM_TIMER:
        if (w >= 1 && w <= form->Timers.size()) form->Timers[w - 1]->Fire();
        return 0;
    case WM_CLOSE:
        if (form->OnClose) Guarded(form->OnClose);
        ShowWindow(window, SW_HIDE);
        if (window == mainWindow) PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, w, l);
}

// Dispatches one message, with the keyboard navigation of a dialog in the main window.
void Dispatch(MSG& msg) {
    if (mainWindow && IsDialogMessageW(mainWindow, &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

class Win32Application : public Application {
  public:
    void Run() override {
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            Dispatch(msg);
    }
};

// --- notifications -------------------------------------------------------------------------

const wchar_t kNotifyClass[] = L"TolvanePortNotify";

class Win32NotifyWindow : public NotifyWindow {
  public:
    explicit Win32NotifyWindow(std::function<void(int)> handler) : Handler(std::move(handler)) {
        static const bool registered = [] {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = &Win32NotifyWindow::Proc;
            wc.hInstance = Instance();
            wc.lpszClassName = kNotifyClass;
            return RegisterClassExW(&wc) != 0;
        }();
        (void)registered;
        Window = CreateWindowExW(0, kNotifyClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 Instance(), this);
        Thread = GetCurrentThreadId();
    }
    ~Win32NotifyWindow() override { Release(); }
    bool Send(int message) override {
        HWND window;
        {
            std::lock_guard<std::mutex> lock(Lock);
            window = Window;
        }
        if (!window) return false;
        if (GetCurrentThreadId() == Thread) {
            // Already on the user-interface thread.
            Handler(message);
            return true;
        }
        // Returns once the handler has run; at once once the window is gone.
        SendMessageW(window, UINT(message), 0, 0);
        return true;
    }
    void Release() override {
        HWND window;
        {
            std::lock_guard<std::mutex> lock(Lock);
            window = Window;
            Window = nullptr;
        }
        if (!window) return;
        DestroyWindow(window);
        // Sends that were already waiting now fail and release their threads.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    bool Released() const override {
        std::lock_guard<std::mutex> lock(Lock);
        return !Window;
    }

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l) {
        if (message == WM_NCCREATE)
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              LONG_PTR(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams));
        auto* self = reinterpret_cast<Win32NotifyWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && message > WM_USER && message < WM_USER + 16) {
            self->Handler(int(message));
            return 0;
        }
        return DefWindowProcW(window, message, w, l);
    }

    const std::function<void(int)> Handler;
    mutable std::mutex Lock;
    HWND Window = nullptr;
    DWORD Thread = 0;
};

} // namespace

void SetExceptionSink(void (*sink)()) {
    exceptionSink = sink;
}

void SetApplicationTitle(const std::string& title) {
    applicationTitle = WideFromUtf8(title);
}

std::unique_ptr<Application> MakeApplication(int&, char**) {
    INITCOMMONCONTROLSEX controls{sizeof(controls),
                                  ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    return std::make_unique<Win32Application>();
}

std::unique_ptr<Form> MakeForm(const FormLayout& layout) {
    return std::make_unique<Win32Form>(layout);
}

void MessageBox(const std::string& text) {
    MessageBoxW(nullptr, WideFromUtf8(text).c_str(), applicationTitle.c_str(),
                MB_OK | MB_TASKMODAL);
}

void ExceptionBox(const std::string& text) {
    MessageBoxW(nullptr, WideFromUtf8(text).c_str(), applicationTitle.c_str(),
                MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

std::string OpenFileDialog(const std::string& filter) {
    // "*.enc2" is both the filter's name and its pattern.
    std::wstring filters = WideFromUtf8(filter) + L'\0' + WideFromUtf8(filter) + L'\0' + L'\0';
    wchar_t path[32768] = L"";
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = mainWindow;
    dialog.lpstrFilter = filters.c_str();
    dialog.lpstrFile = path;
    dialog.nMaxFile = DWORD(std::size(path));
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameW(&dialog)) return {};
    return Utf8FromWide(path, wcslen(path));
}

std::string ProgramVersion() {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe, &ignored);
    std::vector<char> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!size || !GetFileVersionInfoW(exe, 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info)
        return "0.0.0.0";
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionLS));
}

void WaitOnce() {
    // Sleeps until a message or a sent notification arrives, then handles all that is there.
    MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(int(msg.wParam)); // for the loop that waits for it
            return;
        }
        Dispatch(msg);
    }
}

void DeliverPending() {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

std::unique_ptr<NotifyWindow> MakeNotifyWindow(std::function<void(int)> handler) {
    return std::make_unique<Win32NotifyWindow>(std::move(handler));
}

} // namespace tk
