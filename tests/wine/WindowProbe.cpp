// window-probe: reads what the window program shows, for the window tests under wine (clicks
// and typing come from xdotool, as a person's would).
//   window-probe box        waits for a message box of "Tolvane", prints its text, presses OK
//   window-probe wait TEXT  waits until a control of the main window shows TEXT
//   window-probe where      waits for the file dialog's name field, prints its centre (screen)
//   window-probe field TEXT waits briefly until the file dialog's name field holds TEXT
//   window-probe version FILE...  prints each FILE's version strings and icon count as Explorer
//                                 reads them ("[FILE]", then name=value lines)
// Exit status 0 when seen, 1 when not within the wait (generous but for the field: a whole
// upgrade fits; keys typed into a dialog not yet taking input are lost, and the caller retypes).
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

#include "base/win32/WideText.h"

namespace {

constexpr int kWaitMs = 120000;
constexpr int kFieldWaitMs = 3000;

// A control's text from the control itself: across processes GetWindowText gives only the
// caption, which an edit's typed or set text need not be.
std::string TextOf(HWND window) {
    wchar_t text[1024] = L"";
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, LPARAM(text), SMTO_ABORTIFHUNG, 1000,
                             &length))
        return {};
    return Utf8FromWide(text, length);
}

HWND FindBox() {
    return FindWindowW(L"#32770", L"Tolvane");
}

BOOL CALLBACK FindEdit(HWND child, LPARAM param) {
    wchar_t name[16] = L"";
    GetClassNameW(child, name, 16);
    if (_wcsicmp(name, L"Edit") != 0) return TRUE;
    *reinterpret_cast<HWND*>(param) = child;
    return FALSE;
}

// The file name field of the open dialog: the edit inside the name control (an editable combo
// box, itself inside an extended one in the explorer style), or the control itself.
HWND NameField() {
    HWND dialog = FindWindowW(L"#32770", L"Open");
    if (!dialog) dialog = FindWindowW(L"#32770", L"打开");
    HWND name = dialog ? GetDlgItem(dialog, 0x47C) : nullptr;
    if (!name) return dialog ? GetDlgItem(dialog, 0x480) : nullptr;
    HWND edit = nullptr;
    EnumChildWindows(name, &FindEdit, LPARAM(&edit));
    return edit;
}

struct Search {
    std::string Text;
    bool Found = false;
    bool List = false; // print every visible control's text (when the wait has failed)
};

BOOL CALLBACK Visit(HWND child, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (!IsWindowVisible(child)) return TRUE;
    const std::string shown = TextOf(child);
    if (search->List && !shown.empty()) std::fprintf(stderr, "  shows \"%s\"\n", shown.c_str());
    if (shown == search->Text) search->Found = true;
    return search->List || !search->Found;
}

// The strings Explorer shows from a program's version resource (its first translation), and
// how many icons it carries. Status 1 when the file has no version resource.
int PrintVersion(const wchar_t* file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
    std::string data(size, '\0');
    if (!size || !GetFileVersionInfoW(file, 0, size, data.data())) return 1;
    WORD* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < 4)
        return 1;
    for (const wchar_t* name :
         {L"FileVersion", L"ProductVersion", L"ProductName", L"FileDescription"}) {
        wchar_t key[128];
        swprintf(key, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1],
                 name);
        wchar_t* value = nullptr;
        UINT chars = 0;
        const bool found =
            VerQueryValueW(data.data(), key, reinterpret_cast<void**>(&value), &chars) && value;
        std::printf("%s=%s\n", Utf8FromWide(name, wcslen(name)).c_str(),
                    found ? Utf8FromWide(value, wcslen(value)).c_str() : "");
    }
    std::printf("icons=%u\n", ExtractIconExW(file, -1, nullptr, nullptr, 0));
    return 0;
}

bool Shows(const std::string& text, bool list = false) {
    HWND main = FindWindowW(L"TolvaneForm", nullptr);
    if (!main) return false;
    Search search{text, false, list};
    EnumChildWindows(main, &Visit, LPARAM(&search));
    return search.Found;
}

} // namespace

int main() {
    // The wide command line: the narrow one loses what the code page cannot hold.
    int argc = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    const std::string mode = argc > 1 ? Utf8FromWide(wide[1], wcslen(wide[1])) : "";
    const std::string text = argc > 2 ? Utf8FromWide(wide[2], wcslen(wide[2])) : "";
    if (mode == "version") {
        int status = argc > 2 ? 0 : 2;
        for (int i = 2; i < argc; ++i) {
            std::printf("[%s]\n", Utf8FromWide(wide[i], wcslen(wide[i])).c_str());
            status |= PrintVersion(wide[i]);
        }
        return status;
    }
    const int wait = mode == "field" ? kFieldWaitMs : kWaitMs;
    for (int waited = 0; waited < wait; waited += 50, Sleep(50)) {
        if (mode == "box") {
            if (HWND box = FindBox()) {
                std::printf("%s\n", TextOf(GetDlgItem(box, 0xFFFF)).c_str());
                SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
                return 0;
            }
        } else if (mode == "wait" && argc > 2) {
            if (Shows(text)) return 0;
        } else if (mode == "where") {
            // Where the field is now: a dialog found early may still be moving into place.
            RECT box{};
            if (HWND field = NameField();
                field && IsWindowVisible(field) && GetWindowRect(field, &box)) {
                std::printf("%ld %ld\n", (box.left + box.right) / 2, (box.top + box.bottom) / 2);
                return 0;
            }
        } else if (mode == "field" && argc > 2) {
            if (HWND field = NameField(); field && TextOf(field) == text) return 0;
        } else {
            std::fprintf(stderr, "usage: window-probe box | wait TEXT | where | field TEXT\n");
            return 2;
        }
    }
    if (mode == "wait") {
        std::fprintf(stderr, "window-probe: \"%s\" not shown; the window:\n", text.c_str());
        Shows(text, true);
    } else if (mode == "field") {
        HWND field = NameField();
        std::fprintf(stderr, "window-probe: the name field %s\n",
                     field ? ("holds \"" + TextOf(field) + "\"").c_str() : "is not there");
    }
    return 1;
}
