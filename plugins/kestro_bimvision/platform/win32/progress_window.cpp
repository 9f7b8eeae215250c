#include "progress_window.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <new>
#include <string>

namespace kb::win32 {

namespace {

const wchar_t progress_class[] = L"KestroBimVisionProgress";
const wchar_t progress_caption[] = L"KESTRO";
constexpr int progress_width = 380;
constexpr int progress_height = 100;
constexpr int label_id = 1;

// The module the window procedure lives in: its class is registered under it.
HINSTANCE own_module() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&own_module), &module);
    return module;
}

// The window cannot be closed by the user: it goes when the update ends.
LRESULT CALLBACK progress_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CLOSE:
            return 0;
        case WM_MOUSEACTIVATE:
            return MA_NOACTIVATE;
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

}  // namespace

/// Everything the window's thread and the caller share. The caller owns it and destroys it only
/// after the thread has ended.
struct Win32ProgressWindow::Shared {
    CRITICAL_SECTION lock;
    std::wstring text;          // under `lock`
    UniqueHandle stop;          // manual reset: the window goes, the thread ends
    UniqueHandle text_changed;  // auto reset
    RECT over{};                // the viewer's window, or empty when it has none
    DWORD delay_ms = 0;

    Shared() { InitializeCriticalSection(&lock); }
    ~Shared() { DeleteCriticalSection(&lock); }
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    std::wstring current_text() {
        EnterCriticalSection(&lock);
        std::wstring copy;
        try {
            copy = text;
        } catch (...) {
        }
        LeaveCriticalSection(&lock);
        return copy;
    }
};

std::unique_ptr<Win32ProgressWindow> Win32ProgressWindow::open(platform::WindowHandle over,
                                                               const char16_t* text,
                                                               std::uint32_t delay_ms) noexcept {
    try {
        std::unique_ptr<Win32ProgressWindow> progress(new Win32ProgressWindow);
        Shared& shared = *progress->shared_;
        shared.stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        shared.text_changed.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!shared.stop || !shared.text_changed) return nullptr;
        if (text != nullptr) shared.text.assign(reinterpret_cast<const wchar_t*>(text));
        shared.delay_ms = delay_ms;
        // Read here, on the viewer's thread: GetWindowRect sends no message.
        if (over == nullptr || !GetWindowRect(static_cast<HWND>(over), &shared.over))
            shared.over = RECT{};
        progress->thread_.reset(CreateThread(nullptr, 0, &Win32ProgressWindow::run,
                                             progress->shared_.get(), 0, nullptr));
        if (!progress->thread_) return nullptr;
        return progress;
    } catch (...) {
        return nullptr;
    }
}

Win32ProgressWindow::Win32ProgressWindow() : shared_(new Shared) {}

Win32ProgressWindow::~Win32ProgressWindow() {
    if (thread_) {
        // The thread takes its window down and returns; it never waits for this thread, so the
        // wait ends. Nothing of it outlives the call that opened it: no thread of the module's
        // is left to run when the module is unloaded.
        SetEvent(shared_->stop.get());
        WaitForSingleObject(thread_.get(), INFINITE);
    }
}

void Win32ProgressWindow::set_text(const char16_t* text) {
    if (text == nullptr) return;
    EnterCriticalSection(&shared_->lock);
    try {
        shared_->text.assign(reinterpret_cast<const wchar_t*>(text));
    } catch (...) {
    }
    LeaveCriticalSection(&shared_->lock);
    SetEvent(shared_->text_changed.get());
}

// The window's thread: waits out the delay, shows the window, and keeps it current until told
// to stop. It sends nothing to the viewer's thread (no owner, never activated), so a viewer that
// waits for it never waits on itself.
unsigned long __stdcall Win32ProgressWindow::run(void* parameter) noexcept {
    auto& shared = *static_cast<Shared*>(parameter);
    try {
        if (WaitForSingleObject(shared.stop.get(), shared.delay_ms) != WAIT_TIMEOUT) return 0;

        const HINSTANCE module = own_module();
        WNDCLASSW cls{};
        cls.lpfnWndProc = &progress_proc;
        cls.hInstance = module;
        cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT));
        cls.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        cls.lpszClassName = progress_class;
        const bool registered = RegisterClassW(&cls) != 0;

        // Over the middle of the viewer's window; over the middle of the screen without one.
        RECT area = shared.over;
        if (area.right <= area.left || area.bottom <= area.top)
            area = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        const int x = (area.left + area.right - progress_width) / 2;
        const int y = (area.top + area.bottom - progress_height) / 2;
        // No owner and never active: a window of the viewer's would join the two threads' input.
        HWND window = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE,
                                      progress_class, progress_caption, WS_POPUP | WS_CAPTION, x,
                                      y, progress_width, progress_height, nullptr, nullptr, module,
                                      nullptr);
        if (window != nullptr) {
            RECT client{};
            GetClientRect(window, &client);
            HWND label = CreateWindowExW(
                0, L"STATIC", shared.current_text().c_str(),
                WS_CHILD | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX, 0, 0,
                client.right, client.bottom, window,
                reinterpret_cast<HMENU>(static_cast<INT_PTR>(label_id)), module, nullptr);
            if (label != nullptr)
                SendMessageW(label, WM_SETFONT,
                             reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
            ShowWindow(window, SW_SHOWNOACTIVATE);
            UpdateWindow(window);

            HANDLE events[2] = {shared.stop.get(), shared.text_changed.get()};
            for (;;) {
                const DWORD woke =
                    MsgWaitForMultipleObjects(2, events, FALSE, INFINITE, QS_ALLINPUT);
                if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) break;
                if (woke == WAIT_OBJECT_0 + 1) {
                    if (label != nullptr) SetWindowTextW(label, shared.current_text().c_str());
                    continue;
                }
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    TranslateMessage(&msg);
                    DispatchMessageW(&msg);
                }
            }
            DestroyWindow(window);
        }
        if (registered) UnregisterClassW(progress_class, module);
    } catch (...) {
        // Nothing may unwind out of a thread: the progress is gone, the update goes on.
    }
    return 0;
}

}  // namespace kb::win32
