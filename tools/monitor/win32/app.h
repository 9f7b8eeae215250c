// The monitor's state, shared by its Windows files: the options, the log, the windows and the
// sends waiting to go out. One process, one user-interface thread.
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "options.h"
#include "table.h"

namespace monitor {

inline constexpr wchar_t window_class[] = L"KestroMonitorWindow";
inline constexpr wchar_t window_title[] = L"Monitor de KESTRO";
inline constexpr UINT msg_step = WM_APP + 1;  // run queued sends, then see whether to quit
inline constexpr UINT msg_awake = WM_APP + 2;  // the first message taken after a stall
inline constexpr UINT_PTR timeout_timer = 1;
inline constexpr UINT send_timeout_ms = 60000;

struct MonitorWindow {
    HWND hwnd = nullptr;
    HWND list = nullptr;
    HWND status = nullptr;
    int index = 0;
    std::vector<Row> rows;
};

struct App {
    Options options;
    std::FILE* log = nullptr;
    std::vector<MonitorWindow> windows;
    std::deque<Action> pending;
    bool running_actions = false;
    bool first_seen = false;  // the command-line sends were queued
    unsigned long long messages = 0;
    HWND last_viewer = nullptr;
    HWND last_receiver = nullptr;  // the window that took the latest message
    std::string first_guid;  // GUID of the first record of the first accepted message
    int exit_code = 0;
    bool quitting = false;
    bool answered_inside = false;
    std::size_t stack_reserve = 0;  // of the thread that owns the windows
};

extern App app;

/// Wall clock in milliseconds since 1970, comparable between processes.
double now_ms();
/// A window handle as the number the log shows.
std::string handle_number(const void* handle);
/// Writes one line to the --out log, when there is one.
void log_line(const std::string& line);
void set_status(MonitorWindow& window, const std::wstring& text);
/// The monitor window of a handle, or null.
MonitorWindow* window_of(HWND hwnd);
/// The top-level windows of this process, in the system's order.
std::vector<HWND> own_top_level_windows();

}  // namespace monitor
