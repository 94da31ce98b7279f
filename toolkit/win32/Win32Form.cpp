#include "toolkit/win32/Win32Form.h"

#include <algorithm>

namespace tk::win32 {

namespace {
const wchar_t kFormClass[] = L"TolvaneForm";
// Every form alive, oldest first: a main window rebuilt hands its part to the next one.
std::vector<HWND> forms;
} // namespace

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
    forms.push_back(Handle);
}

Win32Form::~Win32Form() {
    Timers.clear();
    forms.erase(std::remove(forms.begin(), forms.end(), Handle), forms.end());
    if (mainWindow == Handle) mainWindow = forms.empty() ? nullptr : forms.back();
    if (Handle) DestroyWindow(Handle);
}

void Win32Form::ShowModal() {
    // The window that had the keyboard takes no input until this one closes.
    const HWND owner = mainWindow != Handle ? mainWindow : nullptr;
    const HWND before = modalWindow;
    if (owner) EnableWindow(owner, FALSE);
    modalWindow = Handle;
    Show();
    SetActiveWindow(Handle);
    MSG msg;
    while (IsWindowVisible(Handle)) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0) PostQuitMessage(int(msg.wParam)); // for the loop that waits for it
            break;
        }
        Dispatch(msg);
    }
    modalWindow = before;
    if (owner) {
        EnableWindow(owner, TRUE);
        SetActiveWindow(owner);
    }
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
    case Kind::ListBox:
        return Add<Win32ListBox>(c, L"LISTBOX", LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL,
                                 WS_EX_CLIENTEDGE, Handle, x, y, c.Height)
            ->Handle;
    case Kind::Panel:
        return Add<Win32Panel>(c, L"STATIC", SS_LEFT | SS_NOPREFIX, WS_EX_STATICEDGE, Handle, x, y,
                               c.Height)
            ->Handle;
    }
    return nullptr;
}

void Win32Form::Adopt(const ControlLayout& c, HWND created) {
    auto* panel = c.Parent ? dynamic_cast<Win32Panel*>(Find(c.Parent)) : nullptr;
    if (!panel || !created) return;
    panel->Children.push_back(created);
    if (auto* label = dynamic_cast<Win32Label*>(Find(c.Name))) label->On = panel;
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

Win32Form::Win32Form(const FormLayout& layout) : EnterClicks(layout.EnterClicks) {
    CreateFrame(layout);
    std::map<std::string, Placed> placed;
    std::vector<std::pair<int, HWND>> tabStops;
    for (int i = 0; i < layout.ControlCount; ++i) {
        const ControlLayout& c = layout.Controls[i];
        const auto at = placed.find(c.Parent ? c.Parent : "");
        const Placed parent = at == placed.end() ? Placed{0, 0, Handle, false} : at->second;
        const int x = parent.X + c.Left, y = parent.Y + c.Top;
        const HWND created = AddControl(c, parent, x, y);
        Adopt(c, created);
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
        // Enter, as the dialog keys send it when no button is the default: the focused one.
        if (!l && LOWORD(w) == IDOK && form->EnterClicks)
            if (auto* button = dynamic_cast<Win32Button*>(form->NativeOf(GetFocus())))
                if (IsWindowEnabled(button->Handle)) button->Command(BN_CLICKED);
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
    case WM_CLOSE: {
        bool stays = false;
        if (form->OnCloseQuery) Guarded([&] { stays = !form->OnCloseQuery(); });
        if (stays) return 0;
        if (form->OnClose) Guarded(form->OnClose);
        ShowWindow(window, SW_HIDE);
        if (window == mainWindow) PostQuitMessage(0);
        return 0;
    }
    default:
        break;
    }
    return DefWindowProcW(window, message, w, l);
}

} // namespace tk::win32

namespace tk {

std::unique_ptr<Form> MakeForm(const FormLayout& layout) {
    return std::make_unique<win32::Win32Form>(layout);
}

} // namespace tk
