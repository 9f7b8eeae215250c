#include "test_window.h"

#include <vector>

namespace kbtest {

WindowLog& window_log() {
    static WindowLog log;
    return log;
}

LRESULT CALLBACK test_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == probe_message) {
        ++window_log().probes;
        return probe_answer;
    }
    if (message == WM_COPYDATA) {
        auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        WindowLog& log = window_log();
        ++log.copydata;
        log.last_copydata_sender = wparam;
        log.last_copydata.assign(static_cast<const char*>(copy->lpData), copy->cbData);
        return copydata_answer;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

HWND create_test_window(const wchar_t* title) {
    static ATOM atom = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = test_window_proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KbWineTestWindow";
        return RegisterClassW(&wc);
    }();
    if (atom == 0) return nullptr;
    return CreateWindowExW(0, L"KbWineTestWindow", title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                           nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

std::wstring executable_directory() {
    std::vector<wchar_t> buf(32768);
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    std::wstring path(buf.data(), n);
    auto slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(0, slash);
}

}  // namespace kbtest
