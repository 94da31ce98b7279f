// window-probe: reads what the window program shows, for the window tests under wine (clicks
// and typing come from xdotool, as a person's would).
//   window-probe box        waits for a message box of "Tolvane", prints its text, presses OK
//   window-probe wait TEXT  waits until a control of the main window shows TEXT
// Exit status 0 when seen, 1 when not within the wait (generous: a whole upgrade fits).
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

#include "package/win32/WideText.h"

namespace {

constexpr int kWaitMs = 120000;

std::string TextOf(HWND window) {
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return Utf8FromWide(text, wcslen(text));
}

HWND FindBox() {
    return FindWindowW(L"#32770", L"Tolvane");
}

struct Search {
    std::string Text;
    bool Found = false;
};

BOOL CALLBACK Visit(HWND child, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (IsWindowVisible(child) && TextOf(child) == search->Text) search->Found = true;
    return !search->Found;
}

bool Shows(const std::string& text) {
    HWND main = FindWindowW(L"TolvaneForm", nullptr);
    if (!main) return false;
    Search search{text};
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
    for (int waited = 0; waited < kWaitMs; waited += 50, Sleep(50)) {
        if (mode == "box") {
            if (HWND box = FindBox()) {
                std::printf("%s\n", TextOf(GetDlgItem(box, 0xFFFF)).c_str());
                SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
                return 0;
            }
        } else if (mode == "wait" && argc > 2) {
            if (Shows(text)) return 0;
        } else {
            std::fprintf(stderr, "usage: window-probe box | wait TEXT\n");
            return 2;
        }
    }
    return 1;
}
