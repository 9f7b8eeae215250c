#include "receiver.h"

#include <commctrl.h>

#include <exception>

#include "record_list.h"
#include "screenshot.h"
#include "viewer_requests.h"

namespace monitor {

namespace {

void quit(int exit_code, const char* why) {
    if (app.quitting) return;
    app.quitting = true;
    app.exit_code = exit_code;
    if (!app.options.screenshot.empty() && !app.windows.empty()) {
        HWND shown = app.last_receiver;
        if (!shown) {
            for (HWND h : own_top_level_windows())
                if (window_of(h)) {
                    shown = h;
                    break;
                }
        }
        bool ok = shown && save_window_bmp(shown, app.options.screenshot);
        log_line(std::string("{\"event\":\"screenshot\",\"file\":") + json_string(wide_to_utf8(app.options.screenshot)) +
                 ",\"ok\":" + (ok ? "true" : "false") + "}");
    }
    log_line(std::string("{\"event\":\"quit\",\"why\":") + json_string(why) +
             ",\"messages\":" + std::to_string(app.messages) + "}");
    for (MonitorWindow& w : app.windows)
        if (w.hwnd) DestroyWindow(w.hwnd);
    PostQuitMessage(exit_code);
}

void step() {
    if (app.quitting) return;
    if (!app.running_actions) {
        // Sends may re-enter the window procedure (the viewer can send us records while we wait),
        // so the queue is drained by the outermost call only.
        app.running_actions = true;
        while (!app.pending.empty()) {
            Action action = app.pending.front();
            app.pending.pop_front();
            run_action(action);
        }
        app.running_actions = false;
    }
    if (app.options.quit_after >= 0 && app.messages >= static_cast<unsigned long long>(app.options.quit_after) &&
        app.pending.empty() && !app.running_actions)
        quit(exit_ok, "quit-after");
}

// Waits `ms` milliseconds or, when `file` names one, until it exists (looked for every 50 ms) and
// at most `ms`: a test ends the wait once it has seen what it waited for. No message is taken
// meanwhile.
void pause(long long ms, const std::wstring& file) {
    if (file.empty()) {
        Sleep(static_cast<DWORD>(ms));
        return;
    }
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(ms);
    while (GetTickCount64() < end && GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(50);
}

LRESULT receive(MonitorWindow& w, WPARAM w_param, const COPYDATASTRUCT* cds) {
    ++app.messages;
    if (app.options.exit_inside > 0 && app.messages == static_cast<unsigned long long>(app.options.exit_inside)) {
        // KESTRO failing while it takes a message: the process ends inside the handler, and the
        // viewer's send never gets its answer.
        log_line("{\"event\":\"exit-inside\",\"sequence\":" + std::to_string(app.messages) + "}");
        ExitProcess(exit_inside);
    }
    // A KESTRO slow to take an update: the viewer's send waits (the monitor is not hung, it is
    // busy with the message).
    if (app.options.slow_inside_ms > 0) pause(app.options.slow_inside_ms, app.options.slow_until);
    app.last_receiver = w.hwnd;
    Message message;
    Arrival arrival;
    arrival.window = w.index;
    arrival.hwnd = reinterpret_cast<UINT_PTR>(w.hwnd);
    arrival.w_param = w_param;
    arrival.sequence = app.messages;
    arrival.time_ms = now_ms();
    if (!cds) {
        message = missing_message();
    } else {
        arrival.dw_data = cds->dwData;
        arrival.cb_data = cds->cbData;
        message = decode_message(cds->dwData, cds->cbData, cds->lpData);
    }
    std::vector<HWND> own = own_top_level_windows();
    arrival.first_own_window = own.empty() ? 0 : reinterpret_cast<UINT_PTR>(own.front());
    log_line(arrival_json(arrival, message));

    const std::size_t count = message.records.size();
    if (message.valid) {
        app.last_viewer = reinterpret_cast<HWND>(w_param);
        if (app.first_guid.empty() && count != 0) app.first_guid = message.records.front().guid;
        for (Record& record : message.records) {
            Row row{std::move(record), {}, w_param, app.messages};
            row.properties = split_properties(row.record.propiedad);
            w.rows.push_back(std::move(row));
        }
        show_rows(w);
    }
    set_status(w, status_received(app.messages, message, arrival.cb_data, w_param));
    if (!app.first_seen && app.messages >= static_cast<unsigned long long>(app.options.send_after)) {
        app.first_seen = true;
        for (const Action& a : app.options.after_first) app.pending.push_back(a);
    }
    // --answer-inside: a GUID request straight from this handler, while the viewer still waits
    // in its send, as some peers do.
    if (message.valid && count != 0 && app.options.answer_inside != 0 &&
        (app.options.answer_inside == 2 || !app.answered_inside)) {
        app.answered_inside = true;
        // The first record of this message (its records were moved into the last rows).
        const std::string guid = w.rows[w.rows.size() - count].record.guid;
        log_line("{\"event\":\"answer-inside\",\"sequence\":" + std::to_string(arrival.sequence) + "}");
        send_guid(reinterpret_cast<HWND>(w_param), w.hwnd, guid);
    }
    // The viewer is blocked in its send until we return: anything else we send goes out later.
    PostMessageW(w.hwnd, msg_step, 0, 0);
    return message.valid ? 1 : 0;
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM w_param, LPARAM l_param) {
    try {
        MonitorWindow* w = window_of(hwnd);
        switch (message) {
            case WM_COPYDATA:
                if (w) return receive(*w, w_param, reinterpret_cast<const COPYDATASTRUCT*>(l_param));
                return 0;
            case msg_step:
                step();
                return 0;
            case msg_awake:
                log_line("{\"event\":\"awake\",\"time_ms\":" + json_number(now_ms()) + "}");
                return 0;
            case WM_SIZE:
                if (w && w->list) layout(*w);
                return 0;
            case WM_NOTIFY:
                if (w) return on_notify(*w, reinterpret_cast<NMHDR*>(l_param));
                return 0;
            case WM_TIMER:
                if (w_param == timeout_timer) {
                    KillTimer(hwnd, timeout_timer);
                    log_line("{\"event\":\"timeout\"}");
                    quit(exit_timeout, "timeout");
                }
                return 0;
            case WM_CLOSE:
                quit(exit_ok, "closed");
                return 0;
            default:
                break;
        }
    } catch (const std::exception& e) {
        log_line("{\"event\":\"error\",\"message\":" + json_string(e.what()) + "}");
        return 0;
    } catch (...) {
        log_line("{\"event\":\"error\",\"message\":\"unknown failure\"}");
        return 0;
    }
    return DefWindowProcW(hwnd, message, w_param, l_param);
}

std::string ready_line() {
    std::string ready = "{\"event\":\"ready\",\"pid\":" + std::to_string(GetCurrentProcessId()) +
                        ",\"stack_reserve\":" + std::to_string(app.stack_reserve) + ",\"windows\":[";
    for (std::size_t i = 0; i < app.windows.size(); ++i) {
        if (i) ready += ',';
        ready += handle_number(app.windows[i].hwnd);
    }
    ready += "],\"own_top_level\":[";
    bool first = true;
    for (HWND h : own_top_level_windows()) {
        wchar_t name[256] = L"";
        GetClassNameW(h, name, 256);
        if (!first) ready += ',';
        first = false;
        ready += "{\"hwnd\":" + handle_number(h) + ",\"class\":" + json_string(wide_to_utf8(name)) +
                 ",\"visible\":" + (IsWindowVisible(h) ? "true" : "false") + "}";
    }
    ready += "]}";
    return ready;
}

}  // namespace

int run_monitor(HINSTANCE instance) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = window_class;
    if (!RegisterClassExW(&wc)) return exit_no_ui;

    app.windows.resize(app.options.windows);
    for (int i = 0; i < app.options.windows; ++i) {
        MonitorWindow& w = app.windows[i];
        w.index = i;
        std::wstring title = window_title;
        if (i > 0) title += L" (" + std::to_wstring(i + 1) + L")";
        // The window is known to window_of from its first message on.
        w.hwnd = CreateWindowExW(0, window_class, title.c_str(), WS_OVERLAPPEDWINDOW, 30 * i, 810 + 30 * i, 1200, 420,
                                 nullptr, nullptr, instance, nullptr);
        if (!w.hwnd) return exit_no_ui;
        create_children(w);
        layout(w);
        ShowWindow(w.hwnd, SW_SHOWNORMAL);
        UpdateWindow(w.hwnd);
    }
    if (app.options.timeout_ms >= 0)
        SetTimer(app.windows.front().hwnd, timeout_timer, static_cast<UINT>(app.options.timeout_ms), nullptr);
    log_line(ready_line());

    if (app.options.stall_seconds > 0) {
        // A KESTRO busy in a long calculation: the thread takes no messages at all meanwhile.
        log_line("{\"event\":\"stall\",\"seconds\":" + std::to_string(app.options.stall_seconds) +
                 ",\"time_ms\":" + json_number(now_ms()) + "}");
        pause(app.options.stall_seconds * 1000, app.options.stall_until);
        // Logged from the first message taken: once it is there, the windows answer again.
        PostMessageW(app.windows.front().hwnd, msg_awake, 0, 0);
    }

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return app.exit_code;
}

}  // namespace monitor
