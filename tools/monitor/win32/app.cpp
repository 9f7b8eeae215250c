#include "app.h"

namespace monitor {

App app;

double now_ms() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    // 100 ns ticks since 1601 to milliseconds since 1970.
    return static_cast<double>(t.QuadPart - 116444736000000000ULL) / 10000.0;
}

std::string handle_number(const void* h) {
    return std::to_string(static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(h)));
}

void log_line(const std::string& line) {
    if (app.log) {
        std::fwrite(line.data(), 1, line.size(), app.log);
        std::fputc('\n', app.log);
        std::fflush(app.log);
    }
}

void set_status(MonitorWindow& w, const std::wstring& text) {
    if (w.status) SendMessageW(w.status, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

MonitorWindow* window_of(HWND hwnd) {
    for (MonitorWindow& w : app.windows)
        if (w.hwnd == hwnd) return &w;
    return nullptr;
}

namespace {

struct OwnWindows {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK collect_own_window(HWND hwnd, LPARAM param) {
    auto* own = reinterpret_cast<OwnWindows*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == own->pid) own->found.push_back(hwnd);
    return TRUE;
}

}  // namespace

std::vector<HWND> own_top_level_windows() {
    OwnWindows own{GetCurrentProcessId(), {}};
    EnumWindows(collect_own_window, reinterpret_cast<LPARAM>(&own));
    return own.found;
}

}  // namespace monitor
