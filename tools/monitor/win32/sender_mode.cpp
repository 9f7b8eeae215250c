#include "sender_mode.h"

#include <cwchar>

#include "app.h"
#include "user_output.h"
#include "viewer_requests.h"

namespace monitor {

namespace {

// Sender mode without --timeout: how long it looks for the window of the class.
constexpr long long default_sender_timeout_ms = 10000;

struct ClassSearch {
    const wchar_t* name;
    HWND found;
};

BOOL CALLBACK find_class(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<ClassSearch*>(param);
    wchar_t name[256];
    if (GetClassNameW(hwnd, name, 256) && std::wcscmp(name, search->name) == 0) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK close_monitor_window(HWND hwnd, LPARAM count) {
    wchar_t name[256];
    if (GetClassNameW(hwnd, name, 256) && std::wcscmp(name, window_class) == 0) {
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
        ++*reinterpret_cast<int*>(count);
    }
    return TRUE;
}

}  // namespace

int run_close_monitors() {
    int count = 0;
    EnumWindows(close_monitor_window, reinterpret_cast<LPARAM>(&count));
    write_output("{\"event\":\"close-monitors\",\"windows\":" + std::to_string(count) + "}\n");
    return exit_ok;
}

int run_sender() {
    const Options& o = app.options;
    ClassSearch search{o.to_class.c_str(), nullptr};
    // Never waits for ever: for the window, and for each send.
    const long long timeout_ms = o.timeout_ms >= 0 ? o.timeout_ms : default_sender_timeout_ms;
    DWORD start = GetTickCount();
    while (true) {
        EnumWindows(find_class, reinterpret_cast<LPARAM>(&search));
        if (search.found) break;
        if (GetTickCount() - start > static_cast<DWORD>(timeout_ms)) {
            std::string message = "no top-level window of class \"" + wide_to_utf8(o.to_class) + "\" within " +
                                  std::to_string(timeout_ms) + " ms";
            log_line("{\"event\":\"error\",\"message\":" + json_string(message) + "}");
            show_error("KESTRO_monitor: " + message + "\n");
            return exit_no_window;
        }
        Sleep(50);
    }
    int code = exit_ok;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(o.raw_bytes), static_cast<unsigned char>(o.raw_fill));
    ULONG_PTR dw_data = o.raw_dw_data >= 0 ? static_cast<ULONG_PTR>(o.raw_dw_data)
                                           : static_cast<ULONG_PTR>(o.raw_bytes / record_size);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int i = 0; i < o.raw_repeat; ++i) {
        LARGE_INTEGER t0, t1;
        double start_ms = now_ms();  // comparable with the receiver's time_ms
        QueryPerformanceCounter(&t0);
        SendResult r = send_copydata(search.found, nullptr, dw_data, static_cast<DWORD>(o.raw_bytes),
                                     bytes.empty() ? nullptr : bytes.data());
        if (!r.delivered) code = exit_not_delivered;
        QueryPerformanceCounter(&t1);
        double ms = static_cast<double>(t1.QuadPart - t0.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
        std::string line = "{\"event\":\"raw-bytes\",\"to\":" + handle_number(search.found) +
                           ",\"bytes\":" + std::to_string(o.raw_bytes) + ",\"dwData\":" + std::to_string(dw_data) +
                           ",\"delivered\":" + (r.delivered ? "true" : "false") +
                           ",\"result\":" + std::to_string(static_cast<unsigned long long>(r.result)) +
                           ",\"start_ms\":" + json_number(start_ms) + ",\"ms\":" + json_number(ms) + "}";
        log_line(line);
        write_output(line + "\n");
    }
    if (code != exit_ok)
        show_error("KESTRO_monitor: a send to class \"" + wide_to_utf8(o.to_class) + "\" was not answered within " +
                   std::to_string(send_timeout_ms) + " ms\n");
    return code;
}

}  // namespace monitor
