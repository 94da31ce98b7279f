// A message-only window carries the port's notifications to the user-interface thread.
#include "toolkit/win32/Win32Base.h"

#include <mutex>

namespace tk {

namespace {

using win32::Instance;

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

std::unique_ptr<NotifyWindow> MakeNotifyWindow(std::function<void(int)> handler) {
    return std::make_unique<Win32NotifyWindow>(std::move(handler));
}

} // namespace tk
