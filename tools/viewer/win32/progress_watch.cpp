#include "progress_watch.h"

#include <commctrl.h>

#include <memory>
#include <string>

#include "text.h"

namespace bvs {

namespace {

// The plugin's names for its progress window and the parts a user sees.
const wchar_t progress_class[] = L"KestroBimVisionProgress";
constexpr int text_id = 2;
constexpr int bar_id = 3;
constexpr int cancel_id = 4;

std::string utf8_of(const std::wstring& text) {
    return utf16_to_utf8(std::u16string(text.begin(), text.end()));
}

std::wstring text_of(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

// The progress window of this process, while it shows.
HWND find_progress() {
    HWND found = FindWindowW(progress_class, nullptr);
    DWORD process = 0;
    if (found != nullptr) GetWindowThreadProcessId(found, &process);
    return process == GetCurrentProcessId() && IsWindowVisible(found) ? found : nullptr;
}

void log_view(EventLog& log, HWND progress, const std::wstring& text) {
    HWND label = GetDlgItem(progress, text_id);
    HWND bar = GetDlgItem(progress, bar_id);
    HWND cancel = GetDlgItem(progress, cancel_id);
    SIZE extent{};
    RECT client{};
    GetClientRect(label, &client);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0));
    if (HDC dc = GetDC(label)) {
        const HGDIOBJ old = SelectObject(dc, font != nullptr ? font : GetStockObject(SYSTEM_FONT));
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        SelectObject(dc, old);
        ReleaseDC(label, dc);
    }
    int dpi = 0;
    if (HDC screen = GetDC(nullptr)) {
        dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
    }
    RECT window{};
    GetWindowRect(progress, &window);
    log.write({{"event", "progress"},
               {"text", utf8_of(text)},
               {"text_width", extent.cx},
               {"text_height", extent.cy},
               {"label_width", client.right},
               {"label_height", client.bottom},
               {"bar", bar != nullptr ? SendMessageW(bar, PBM_GETPOS, 0, 0) : -1},
               {"bar_max", bar != nullptr ? SendMessageW(bar, PBM_GETRANGE, FALSE, 0) : -1},
               {"moving", bar != nullptr && (GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE) != 0},
               {"cancel_enabled", cancel != nullptr && IsWindowEnabled(cancel) != FALSE},
               {"window", {window.left, window.top, window.right, window.bottom}},
               {"dpi", dpi}});
}

// Moves the mouse over "Cancelar" and clicks it.
void press(EventLog& log, HWND main, HWND progress) {
    HWND cancel = GetDlgItem(progress, cancel_id);
    const DWORD thread = GetWindowThreadProcessId(progress, nullptr);
    RECT r{};
    GetWindowRect(cancel, &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    INPUT clicks[2] = {};
    clicks[0].type = clicks[1].type = INPUT_MOUSE;
    clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    const UINT sent = SendInput(2, clicks, sizeof(INPUT));
    // The window's thread takes the click in its own time: wait until the button says so.
    for (int i = 0; i < 250 && IsWindow(cancel) && IsWindowEnabled(cancel); ++i) Sleep(20);
    // The window goes as soon as the plugin has seen the press: what its thread holds active
    // is told only while it is still there (asked of a thread that has ended, the system
    // answers for the foreground thread).
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    const bool still_there = IsWindow(progress) && GetGUIThreadInfo(thread, &gui) && IsWindow(progress);
    nlohmann::json event = {{"event", "progress_cancel"},
                            {"sent", sent},
                            {"cancel_enabled", IsWindow(cancel) && IsWindowEnabled(cancel)},
                            {"viewer_foreground", GetForegroundWindow() == main},
                            {"window_still_there", still_there}};
    if (still_there) {
        event["progress_active"] = gui.hwndActive != nullptr;
        event["progress_focus"] = gui.hwndFocus != nullptr;
    }
    log.write(event);
}

}  // namespace

struct ProgressWatch::State {
    EventLog* log;
    HWND main;
    bool press_cancel;
    DWORD timeout_ms;
    HANDLE stop;  // manual reset: the viewer is ending
};

namespace {

// Waits `ms`, or less when the watch is told to end; false then.
bool pause(const ProgressWatch::State& w, DWORD ms) { return WaitForSingleObject(w.stop, ms) == WAIT_TIMEOUT; }

DWORD WINAPI watch(void* parameter) {
    const auto* w = static_cast<ProgressWatch::State*>(parameter);
    try {
        w->log->write({{"event", "progress_watch"}, {"cancel", w->press_cancel}});
        const ULONGLONG end = GetTickCount64() + w->timeout_ms;
        bool seen = false;
        bool pressed = false;
        std::wstring last;
        while (GetTickCount64() < end) {
            HWND progress = find_progress();
            if (progress == nullptr) {
                if (seen) {
                    w->log->write({{"event", "progress_gone"}});
                    return 0;
                }
                if (!pause(*w, 20)) return 0;
                continue;
            }
            seen = true;
            const std::wstring text = text_of(GetDlgItem(progress, text_id));
            if (text != last) {
                last = text;
                log_view(*w->log, progress, text);
            }
            HWND cancel = GetDlgItem(progress, cancel_id);
            if (w->press_cancel && !pressed && cancel != nullptr && IsWindowEnabled(cancel)) {
                pressed = true;
                press(*w->log, w->main, progress);
            }
            if (!pause(*w, 20)) return 0;
        }
        w->log->write({{"event", "progress_watch_ended"}, {"seen", seen}});
    } catch (...) {
        // A watch that cannot log has nothing more to do.
    }
    return 0;
}

}  // namespace

std::unique_ptr<ProgressWatch> ProgressWatch::start(EventLog& log, HWND main, bool press_cancel,
                                                    DWORD timeout_ms) {
    std::unique_ptr<ProgressWatch> watching(new ProgressWatch);
    watching->state_.reset(new State{&log, main, press_cancel, timeout_ms,
                                     CreateEventW(nullptr, TRUE, FALSE, nullptr)});
    if (watching->state_->stop == nullptr) return nullptr;
    // A small stack of its own: a thread's default is the viewer's, which is half a gigabyte.
    watching->thread_ = CreateThread(nullptr, 256 * 1024, &watch, watching->state_.get(),
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (watching->thread_ == nullptr) {
        CloseHandle(watching->state_->stop);
        return nullptr;
    }
    return watching;
}

ProgressWatch::~ProgressWatch() {
    SetEvent(state_->stop);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(state_->stop);
}

}  // namespace bvs
