#pragma once
// The controls of a form, each on its own window of a system class.
#include "toolkit/win32/Win32Images.h"

namespace tk::win32 {

// A tile's area: a text-less static in its own colour. Its controls are the form's children
// like all others (see Win32Form); the labels among them paint with the panel's brush.
class Win32Panel : public Win32Control<Panel> {
  public:
    ~Win32Panel() override {
        if (Brush) DeleteObject(Brush);
    }
    void SetBackground(Colour colour) override {
        HBRUSH made = CreateSolidBrush(RGB(colour.Red, colour.Green, colour.Blue));
        if (Brush) DeleteObject(Brush);
        Brush = made;
        InvalidateRect(Handle, nullptr, TRUE);
        for (HWND child : Children)
            InvalidateRect(child, nullptr, TRUE);
    }
    HBRUSH CtlColour(HDC) override { return Brush ? Brush : GetSysColorBrush(COLOR_BTNFACE); }
    HBRUSH Backdrop() const { return Brush; }
    std::vector<HWND> Children;

  private:
    HBRUSH Brush = nullptr;
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
        if (On && On->Backdrop()) return On->Backdrop();
        return GetSysColorBrush(COLOR_BTNFACE);
    }
    const Win32Panel* On = nullptr; // the panel the label lies on

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
    std::string Text() const override { return WindowText(); }
    void SetText(const std::string& text) override {
        const std::wstring wide = WideFromUtf8(text);
        const LRESULT at =
            SendMessageW(Handle, CB_FINDSTRINGEXACT, WPARAM(-1), LPARAM(wide.c_str()));
        SendMessageW(Handle, CB_SETCURSEL, WPARAM(at), 0);
        if (at == CB_ERR) SetWindowTextW(Handle, wide.c_str());
    }
    void Command(WORD code) override {
        // A pick that moves the selection, and a pick of the item already selected.
        if ((code == CBN_SELCHANGE || code == CBN_SELENDOK) && OnChange) Guarded(OnChange);
    }
};

class Win32ListBox : public Win32Control<ListBox> {
  public:
    void SetItems(const std::string& lines) override {
        SendMessageW(Handle, LB_RESETCONTENT, 0, 0);
        if (lines.empty()) return;
        for (size_t start = 0;;) {
            const size_t end = lines.find("\r\n", start);
            const std::string item = lines.substr(start, end - start);
            SendMessageW(Handle, LB_ADDSTRING, 0, LPARAM(WideFromUtf8(item).c_str()));
            if (end == std::string::npos) break;
            start = end + 2;
        }
    }
    int ItemCount() const override { return int(SendMessageW(Handle, LB_GETCOUNT, 0, 0)); }
    std::string ItemText(int index) const override {
        const LRESULT n = SendMessageW(Handle, LB_GETTEXTLEN, WPARAM(index), 0);
        if (n == LB_ERR) return {};
        std::wstring text(size_t(n) + 1, L'\0');
        SendMessageW(Handle, LB_GETTEXT, WPARAM(index), LPARAM(text.data()));
        text.resize(size_t(n));
        return Utf8FromWide(text);
    }
    int ItemIndex() const override { return int(SendMessageW(Handle, LB_GETCURSEL, 0, 0)); }
    void SetItemIndex(int index) override { SendMessageW(Handle, LB_SETCURSEL, WPARAM(index), 0); }
    // The list tells of moves by the user only.
    void Command(WORD code) override {
        if (code == LBN_SELCHANGE && OnChange) Guarded(OnChange);
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

} // namespace tk::win32
