// The application object, the message pump, modal dialogs and the program's version.
#include "toolkit/win32/Win32Base.h"

#include <vector>

namespace tk {

namespace win32 {

void (*exceptionSink)() = nullptr;
std::wstring applicationTitle = L"Tolvane";
HWND mainWindow = nullptr;
HWND modalWindow = nullptr;

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

HFONT DialogFont() {
    static HFONT font = CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                    DEFAULT_PITCH | FF_DONTCARE, L"MS Shell Dlg 2");
    return font;
}

std::string WindowText(HWND window) {
    const int n = GetWindowTextLengthW(window);
    std::wstring text(size_t(n) + 1, L'\0');
    GetWindowTextW(window, text.data(), n + 1);
    text.resize(size_t(n));
    return Utf8FromWide(text);
}

void Dispatch(MSG& msg) {
    if (modalWindow && IsDialogMessageW(modalWindow, &msg)) return;
    if (mainWindow && IsDialogMessageW(mainWindow, &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

} // namespace win32

namespace {

using namespace win32;

class Win32Application : public Application {
  public:
    void Run() override {
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            Dispatch(msg);
    }
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

void MessageBox(const std::string& text) {
    MessageBoxW(nullptr, WideFromUtf8(text).c_str(), applicationTitle.c_str(),
                MB_OK | MB_TASKMODAL);
}

void ExceptionBox(const std::string& text) {
    MessageBoxW(nullptr, WideFromUtf8(text).c_str(), applicationTitle.c_str(),
                MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

bool ConfirmBox(const std::string& text) {
    return MessageBoxW(nullptr, WideFromUtf8(text).c_str(), applicationTitle.c_str(),
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_TASKMODAL) == IDYES;
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

} // namespace tk
