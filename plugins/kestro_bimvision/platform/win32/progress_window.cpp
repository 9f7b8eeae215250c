#include "progress_window.h"

#include <commctrl.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "progress_resources.h"

namespace kb::win32 {

namespace {

const wchar_t progress_caption[] = L"KESTRO";
const wchar_t cancel_text[] = L"Cancelar";

// Sizes at 96 DPI (scaled to the viewer's).
constexpr int margin = 12;
constexpr int line_gap = 6;
constexpr int bar_height = 16;
constexpr int bar_gap = 12;
constexpr int min_text_width = 320;
constexpr int button_min_width = 88;
constexpr int button_min_height = 25;
constexpr int button_padding = 24;  // beside the button's text, both sides together
constexpr UINT marquee_period_ms = 30;
constexpr SIZE_T progress_stack_bytes = 256 * 1024;

// No caption: under Wine a captioned window is handed to the window manager, and taking it
// down then waits up to 2 s for a manager that may not be there (an X server without one, as
// on a test machine). A dialog frame and a title of its own show the same.
constexpr DWORD window_style = WS_POPUP | WS_DLGFRAME;
constexpr DWORD window_ex_style = WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE;

// The module the window procedure lives in: its class is registered under it.
HINSTANCE own_module() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&own_module), &module);
    return module;
}

// The width and height of `text` in `font`.
SIZE text_size(HFONT font, const std::wstring& text) {
    SIZE size{};
    HDC dc = GetDC(nullptr);
    if (dc == nullptr) return size;
    const HGDIOBJ old = SelectObject(dc, font);
    if (!GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size))
        size = SIZE{};
    TEXTMETRICW metrics{};
    if (GetTextMetricsW(dc, &metrics)) size.cy = std::max<LONG>(size.cy, metrics.tmHeight);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return size;
}

/// One view as the window's thread takes it from the caller.
struct View {
    std::wstring text;
    std::uint32_t done = 0;
    std::uint32_t total = 0;
    bool receiving = false;
};

}  // namespace

/// Everything the window's thread and the caller share. The caller owns it and destroys it only
/// after the thread has ended.
struct Win32ProgressWindow::Shared {
    CRITICAL_SECTION lock;
    View view;                  // under `lock`
    volatile LONG stop_pressed = 0;
    UniqueHandle stop;          // manual reset: the window goes, the thread ends
    UniqueHandle view_changed;  // auto reset
    // Set before the thread starts, only read after.
    std::vector<std::wstring> fits;
    RECT over{};  // the viewer's window, or empty when it has none
    UINT dpi = 96;
    DpiCalls dpi_calls;
    DWORD delay_ms = 0;

    Shared() { InitializeCriticalSection(&lock); }
    ~Shared() { DeleteCriticalSection(&lock); }
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    View current_view() {
        EnterCriticalSection(&lock);
        View copy;
        try {
            copy = view;
        } catch (...) {
        }
        LeaveCriticalSection(&lock);
        return copy;
    }
};

namespace {

/// The window and its parts, on the window's thread.
struct Ui {
    Win32ProgressWindow::Shared* shared = nullptr;
    HINSTANCE module = nullptr;
    HWND window = nullptr;
    HWND title = nullptr;
    HWND label = nullptr;
    HWND bar = nullptr;
    HWND cancel = nullptr;
    WNDPROC button_proc = nullptr;
    HFONT title_font = nullptr;
    HFONT text_font = nullptr;
    bool own_title_font = false;
    bool own_text_font = false;
    UINT dpi = 96;
    POINT center{};
    int text_width = 0;  // the widest text yet, in pixels
    int text_height = 0;
    SIZE title_size{};
    int cancel_width = 0;
    bool receiving = false;
    bool pressing = false;  // the mouse went down on "Cancelar" and has not come up yet
};

void press_cancel(Ui& ui) {
    InterlockedExchange(&ui.shared->stop_pressed, 1);
    EnableWindow(ui.cancel, FALSE);
}

// "Cancelar" follows the mouse itself: the button's own handling of a press takes the focus,
// which would activate the window and take the viewer's focus with it.
LRESULT CALLBACK cancel_proc(HWND button, UINT message, WPARAM wparam, LPARAM lparam) {
    Ui* ui = reinterpret_cast<Ui*>(GetWindowLongPtrW(button, GWLP_USERDATA));
    if (ui == nullptr) return DefWindowProcW(button, message, wparam, lparam);
    switch (message) {
        case WM_MOUSEACTIVATE:
            return MA_NOACTIVATE;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            if (IsWindowEnabled(button)) {
                ui->pressing = true;
                SetCapture(button);
                SendMessageW(button, BM_SETSTATE, TRUE, 0);
            }
            return 0;
        case WM_MOUSEMOVE:
        case WM_LBUTTONUP: {
            if (!ui->pressing) return 0;
            RECT client{};
            GetClientRect(button, &client);
            const POINT at{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
            const bool inside = PtInRect(&client, at) != FALSE;
            if (message == WM_MOUSEMOVE) {
                SendMessageW(button, BM_SETSTATE, inside, 0);
                return 0;
            }
            ui->pressing = false;
            ReleaseCapture();
            SendMessageW(button, BM_SETSTATE, FALSE, 0);
            if (inside) press_cancel(*ui);
            return 0;
        }
        case WM_CAPTURECHANGED:
            if (ui->pressing) {
                ui->pressing = false;
                SendMessageW(button, BM_SETSTATE, FALSE, 0);
            }
            return 0;
        default:
            return CallWindowProcW(ui->button_proc, button, message, wparam, lparam);
    }
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

HWND make_child(Ui& ui, const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
    return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, ui.window,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ui.module, nullptr);
}

// The bar, moving (`marquee`) or at a position.
HWND make_bar(Ui& ui, bool marquee) {
    return make_child(ui, PROGRESS_CLASSW, L"", marquee ? PBS_MARQUEE : PBS_SMOOTH,
                      progress_bar_id);
}

// Places the parts at the window's DPI and sizes the window around them, about its centre.
void lay_out(Ui& ui) {
    const UINT dpi = ui.dpi;
    const int m = scaled(margin, dpi);
    const int gap = scaled(line_gap, dpi);
    const int content = std::max({ui.text_width, static_cast<int>(ui.title_size.cx),
                                  scaled(min_text_width, dpi)});
    const int button_width = std::max(scaled(button_min_width, dpi),
                                      ui.cancel_width + scaled(button_padding, dpi));
    const int button_height = std::max(scaled(button_min_height, dpi),
                                       ui.text_height + scaled(10, dpi));
    const int client_width = content + 2 * m;
    int y = m;
    const auto place = [](HWND part, int x, int top, int w, int h) {
        if (part != nullptr) SetWindowPos(part, nullptr, x, top, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    };
    place(ui.title, m, y, content, ui.title_size.cy);
    y += ui.title_size.cy + gap;
    place(ui.label, m, y, content, ui.text_height);
    y += ui.text_height + gap;
    place(ui.bar, m, y, content, scaled(bar_height, dpi));
    y += scaled(bar_height, dpi) + scaled(bar_gap, dpi);
    place(ui.cancel, client_width - m - button_width, y, button_width, button_height);
    y += button_height + m;

    RECT frame{0, 0, client_width, y};
    ui.shared->dpi_calls.window_rect(frame, window_style, window_ex_style, dpi);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(ui.window, nullptr, ui.center.x - width / 2, ui.center.y - height / 2, width,
                 height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Shows `view`: its text (the window grows first if the text is wider than any before), and
// the bar at its place, or moving (full where it cannot move) once KESTRO receives.
void apply(Ui& ui, const View& view) {
    const int width = text_size(ui.text_font, view.text).cx;
    if (width > ui.text_width) {
        ui.text_width = width;
        lay_out(ui);
    }
    SetWindowTextW(ui.label, view.text.c_str());
    if (view.receiving && !ui.receiving) {
        ui.receiving = true;
        EnableWindow(ui.cancel, FALSE);
        if (ui.bar != nullptr) {
            DestroyWindow(ui.bar);
            ui.bar = make_bar(ui, true);
            lay_out(ui);
        }
        // Common controls before version 6 know no moving bar and answer 0.
        if (ui.bar != nullptr && SendMessageW(ui.bar, PBM_SETMARQUEE, TRUE, marquee_period_ms) == 0) {
            SendMessageW(ui.bar, PBM_SETRANGE32, 0, 1);
            SendMessageW(ui.bar, PBM_SETPOS, 1, 0);
        }
    } else if (!view.receiving && ui.bar != nullptr) {
        SendMessageW(ui.bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(std::max<std::uint32_t>(view.total, 1)));
        SendMessageW(ui.bar, PBM_SETPOS, static_cast<WPARAM>(view.done), 0);
    }
}

void release_fonts(Ui& ui) {
    if (ui.own_title_font) DeleteObject(ui.title_font);
    if (ui.own_text_font) DeleteObject(ui.text_font);
}

// The system's message font for the text and "Cancelar", its caption font for the title, both
// at the viewer's DPI; the stock GUI font where the system gives none.
void make_fonts(Ui& ui) {
    NONCLIENTMETRICSW metrics{};
    const HFONT stock = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    ui.title_font = ui.text_font = stock;
    if (!ui.shared->dpi_calls.metrics(ui.dpi, metrics)) return;
    if (HFONT font = CreateFontIndirectW(&metrics.lfMessageFont)) {
        ui.text_font = font;
        ui.own_text_font = true;
    }
    if (HFONT font = CreateFontIndirectW(&metrics.lfCaptionFont)) {
        ui.title_font = font;
        ui.own_title_font = true;
    }
}

// The common controls of version 6 for this thread alone, through an activation context of the
// module's own (its manifest resource): the host's controls stay whatever the host chose.
class ControlsContext {
public:
    explicit ControlsContext(HMODULE module) {
        const std::u16string path = Win32ModuleSystem().module_file_name(module);
        ACTCTXW request{};
        request.cbSize = sizeof request;
        request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.hModule = module;
        request.lpResourceName = MAKEINTRESOURCEW(KB_CONTROLS_MANIFEST);
        request.lpSource = path.empty() ? nullptr : reinterpret_cast<const wchar_t*>(path.c_str());
        context_ = CreateActCtxW(&request);
        if (context_ != INVALID_HANDLE_VALUE && !ActivateActCtx(context_, &cookie_)) {
            ReleaseActCtx(context_);
            context_ = INVALID_HANDLE_VALUE;
        }
        // Loaded inside the context: version 6 where the system has it.
        controls_ = LoadLibraryW(L"comctl32.dll");
        using Init = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
        if (controls_ != nullptr) {
            const auto init = reinterpret_cast<Init>(reinterpret_cast<void (*)()>(
                GetProcAddress(controls_, "InitCommonControlsEx")));
            const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
            if (init != nullptr) init(&classes);
        }
    }
    ~ControlsContext() {
        if (controls_ != nullptr) FreeLibrary(controls_);
        if (context_ != INVALID_HANDLE_VALUE) {
            DeactivateActCtx(0, cookie_);
            ReleaseActCtx(context_);
        }
    }
    ControlsContext(const ControlsContext&) = delete;
    ControlsContext& operator=(const ControlsContext&) = delete;

private:
    HANDLE context_ = INVALID_HANDLE_VALUE;
    ULONG_PTR cookie_ = 0;
    HMODULE controls_ = nullptr;
};

// Makes the window and its parts, sized for the widest text it will show. False when the window
// itself cannot be had.
bool build(Ui& ui, const View& first) {
    Win32ProgressWindow::Shared& shared = *ui.shared;
    make_fonts(ui);
    ui.text_height = text_size(ui.text_font, L"Ag").cy;
    ui.title_size = text_size(ui.title_font, progress_caption);
    ui.cancel_width = text_size(ui.text_font, cancel_text).cx;
    for (const std::wstring& text : shared.fits)
        ui.text_width = std::max(ui.text_width, static_cast<int>(text_size(ui.text_font, text).cx));

    // Over the middle of the viewer's window; over the middle of the screen without one.
    RECT area = shared.over;
    if (area.right <= area.left || area.bottom <= area.top)
        area = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    ui.center = POINT{(area.left + area.right) / 2, (area.top + area.bottom) / 2};

    // No owner and never active: a window of the viewer's would join the two threads' input.
    ui.window = CreateWindowExW(window_ex_style, progress_class_name, progress_caption,
                                window_style, 0, 0, 0, 0, nullptr, nullptr, ui.module, nullptr);
    if (ui.window == nullptr) return false;
    ui.title = make_child(ui, L"STATIC", progress_caption, SS_LEFT | SS_NOPREFIX, progress_title_id);
    ui.label = make_child(ui, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, progress_text_id);
    ui.bar = make_bar(ui, false);
    ui.cancel = make_child(ui, L"BUTTON", cancel_text, BS_PUSHBUTTON, progress_cancel_id);
    for (const auto& [part, font] : {std::pair{ui.title, ui.title_font},
                                     std::pair{ui.label, ui.text_font},
                                     std::pair{ui.cancel, ui.text_font}})
        if (part != nullptr) SendMessageW(part, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (ui.cancel != nullptr) {
        SetWindowLongPtrW(ui.cancel, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&ui));
        ui.button_proc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
            ui.cancel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&cancel_proc)));
    }
    lay_out(ui);
    apply(ui, first);
    return true;
}

}  // namespace

std::unique_ptr<Win32ProgressWindow> Win32ProgressWindow::open(
    const DpiCalls& dpi, platform::WindowHandle over, const platform::ProgressView& view,
    const char16_t* const* fits, std::size_t fit_count, std::uint32_t delay_ms) noexcept {
    try {
        std::unique_ptr<Win32ProgressWindow> progress(new Win32ProgressWindow);
        Shared& shared = *progress->shared_;
        shared.stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        shared.view_changed.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!shared.stop || !shared.view_changed) return nullptr;
        progress->show(view);
        for (std::size_t i = 0; i < fit_count; ++i)
            if (fits[i] != nullptr) shared.fits.emplace_back(reinterpret_cast<const wchar_t*>(fits[i]));
        shared.delay_ms = delay_ms;
        shared.dpi_calls = dpi;
        // Read here, on the viewer's thread: neither call sends a message.
        const HWND viewer = static_cast<HWND>(over);
        if (viewer == nullptr || !GetWindowRect(viewer, &shared.over)) shared.over = RECT{};
        shared.dpi = dpi.dpi_of(viewer);
        // A stack of its own size: by default a thread reserves the viewer's, which a viewer
        // that takes big messages on its stack sets at hundreds of megabytes, address space the
        // update's records need (or that is not there, and the window never shows).
        progress->thread_.reset(CreateThread(nullptr, progress_stack_bytes,
                                             &Win32ProgressWindow::run, progress->shared_.get(),
                                             STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
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

void Win32ProgressWindow::show(const platform::ProgressView& view) {
    EnterCriticalSection(&shared_->lock);
    try {
        shared_->view.text.assign(view.text != nullptr ? reinterpret_cast<const wchar_t*>(view.text)
                                                       : L"");
        shared_->view.done = view.done;
        shared_->view.total = view.total;
        shared_->view.receiving = view.receiving;
    } catch (...) {
    }
    LeaveCriticalSection(&shared_->lock);
    if (shared_->view_changed) SetEvent(shared_->view_changed.get());
}

bool Win32ProgressWindow::stop_requested() {
    return InterlockedCompareExchange(&shared_->stop_pressed, 0, 0) != 0;
}

// The window's thread: waits out the delay, shows the window, and keeps it current until told
// to stop. It sends nothing to the viewer's thread (no owner, never activated), so a viewer that
// waits for it never waits on itself; and it never calls the host: "Cancelar" only sets a flag
// the host's thread reads between two objects.
unsigned long __stdcall Win32ProgressWindow::run(void* parameter) noexcept {
    auto& shared = *static_cast<Shared*>(parameter);
    try {
        if (WaitForSingleObject(shared.stop.get(), shared.delay_ms) != WAIT_TIMEOUT) return 0;

        Ui ui;
        ui.shared = &shared;
        ui.module = own_module();
        ui.dpi = shared.dpi;
        ControlsContext controls(ui.module);

        WNDCLASSW cls{};
        cls.lpfnWndProc = &progress_proc;
        cls.hInstance = ui.module;
        cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT));
        cls.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        cls.lpszClassName = progress_class_name;
        const bool registered = RegisterClassW(&cls) != 0;

        if (build(ui, shared.current_view())) {
            ShowWindow(ui.window, SW_SHOWNOACTIVATE);
            UpdateWindow(ui.window);

            HANDLE events[2] = {shared.stop.get(), shared.view_changed.get()};
            for (;;) {
                const DWORD woke =
                    MsgWaitForMultipleObjects(2, events, FALSE, INFINITE, QS_ALLINPUT);
                if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) break;
                if (woke == WAIT_OBJECT_0 + 1) {
                    apply(ui, shared.current_view());
                    continue;
                }
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    TranslateMessage(&msg);
                    DispatchMessageW(&msg);
                }
            }
        }
        if (ui.window != nullptr) DestroyWindow(ui.window);
        release_fonts(ui);
        if (registered) UnregisterClassW(progress_class_name, ui.module);
    } catch (...) {
        // Nothing may unwind out of a thread: the progress is gone, the update goes on.
    }
    return 0;
}

}  // namespace kb::win32
