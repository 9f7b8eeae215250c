// KESTRO monitor: a stand-in for the estimating program. It owns one or more top-level windows
// that take the viewer's element records by WM_COPYDATA, shows them decoded in a list and logs
// them as JSON lines; it sends element GUIDs back to the viewer (double-click on a row, or from
// the command line), and has a plain sender mode for raw messages of a given size.
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <charconv>
#include <cwchar>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <string>
#include <vector>

#include "records.h"
#include "utf8.h"

namespace {

using monitor::json_number;
using monitor::json_string;

constexpr wchar_t window_class[] = L"KestroMonitorWindow";
constexpr UINT msg_step = WM_APP + 1;  // run queued sends, then see whether to quit
constexpr UINT_PTR timeout_timer = 1;
constexpr UINT send_timeout_ms = 60000;
// Sender mode without --timeout: how long it looks for the window of the class.
constexpr long long default_sender_timeout_ms = 10000;

// Exit codes (also in the usage text and the README).
constexpr int exit_ok = 0;
constexpr int exit_usage = 2;
constexpr int exit_timeout = 3;        // --timeout ran out before --quit-after was reached
constexpr int exit_no_window = 4;      // sender mode: no window of the class within the time-out
constexpr int exit_no_ui = 5;          // the monitor's windows could not be created
constexpr int exit_internal = 6;
constexpr int exit_not_delivered = 7;  // sender mode: a send was not answered within the time-out

enum class ActionKind { guid, row, raw };

struct Action {
    ActionKind kind;
    std::string text;  // guid: the 8-bit GUID text; raw: the mode
    int row = 0;
    HWND viewer = nullptr;  // null: the viewer window of the latest message
};

struct Options {
    std::wstring out;
    int windows = 1;
    std::vector<Action> after_first;  // --send-guid / --send-row / --send-raw, in command-line order
    long long send_after = 1;         // the sends go out after this many messages
    long long quit_after = -1;
    long long timeout_ms = -1;
    std::wstring screenshot;
    // Sender mode.
    long long raw_bytes = -1;
    std::wstring to_class;
    long long raw_dw_data = -1;
    int raw_fill = 0;
    int raw_repeat = 1;
    bool close_monitors = false;
    // Answering from inside the handler: 0 never, 1 the first message only, 2 every message.
    int answer_inside = 0;
    long long stall_seconds = 0;  // once ready, take no messages for this long
};

struct Row {
    monitor::Record record;
    monitor::Properties properties;
    HWND viewer;
    unsigned long long message;
};

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
};

App app;

// ---------------------------------------------------------------------------------------------
// Small helpers

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

/// Wide command-line text to 8-bit: code points up to U+00FF keep their value, others become '?'.
std::string to_latin1(const std::wstring& wide) {
    std::string out;
    for (wchar_t c : wide) out += c <= 0xFF ? static_cast<char>(c) : '?';
    return out;
}

std::string utf16_to_utf8(const std::wstring& wide) {
    return kbtools::utf16_to_utf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

std::wstring widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::wstring latin1_wide(const std::string& latin1) {
    std::wstring out;
    out.reserve(latin1.size());
    for (char c : latin1) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

std::wstring fixed3(double value) {
    char buffer[400];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3);
    if (ec != std::errc()) return L"?";
    return widen(std::string(buffer, end));
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

/// The top-level windows of this process, in the system's order.
std::vector<HWND> own_top_level_windows() {
    OwnWindows own{GetCurrentProcessId(), {}};
    EnumWindows(collect_own_window, reinterpret_cast<LPARAM>(&own));
    return own.found;
}

// ---------------------------------------------------------------------------------------------
// Sending to the viewer

struct SendResult {
    bool delivered;
    DWORD_PTR result;
};

SendResult send_copydata(HWND to, HWND from, ULONG_PTR dw_data, DWORD cb_data, const void* data) {
    COPYDATASTRUCT cds;
    cds.dwData = dw_data;
    cds.cbData = cb_data;
    cds.lpData = const_cast<void*>(data);
    DWORD_PTR result = 0;
    // SMTO_NORMAL keeps this thread answering messages sent to it while it waits.
    LRESULT ok = SendMessageTimeoutW(to, WM_COPYDATA, reinterpret_cast<WPARAM>(from),
                                     reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, send_timeout_ms, &result);
    return {ok != 0, result};
}

void log_sent(const char* kind, const std::string& mode, const std::string& text, HWND to,
              ULONG_PTR dw_data, DWORD cb_data, bool null_data, const SendResult& r) {
    std::string line = "{\"event\":\"sent\",\"kind\":";
    line += json_string(kind);
    if (!mode.empty()) line += ",\"mode\":" + json_string(mode);
    line += ",\"guid\":" + json_string(monitor::latin1_to_utf8(text));
    line += ",\"to\":" + handle_number(to);
    line += ",\"dwData\":" + std::to_string(dw_data);
    line += ",\"cbData\":" + std::to_string(cb_data);
    line += ",\"lpData_null\":";
    line += null_data ? "true" : "false";
    line += ",\"delivered\":";
    line += r.delivered ? "true" : "false";
    line += ",\"result\":" + std::to_string(static_cast<unsigned long long>(r.result));
    line += ",\"time_ms\":" + json_number(now_ms()) + "}";
    log_line(line);
}

void send_guid(HWND viewer, HWND from, const std::string& guid) {
    std::string bytes = guid;  // the text and its NUL
    SendResult r = send_copydata(viewer, from, 0, static_cast<DWORD>(bytes.size() + 1), bytes.c_str());
    log_sent("guid", "", guid, viewer, 0, static_cast<DWORD>(bytes.size() + 1), false, r);
    if (!app.windows.empty()) {
        // The result is the viewer's own answer to WM_COPYDATA: it says the message arrived, not
        // whether an element with that GUID was found (the viewer's selection shows that).
        std::wstring status =
            r.delivered ? L"Sent GUID " + latin1_wide(guid) + L" to viewer window " + widen(handle_number(viewer)) +
                              L": delivered, viewer's result " +
                              widen(std::to_string(static_cast<unsigned long long>(r.result))) +
                              L" (its answer to the message, not whether the element was found)"
                        : L"GUID " + latin1_wide(guid) + L" NOT delivered to viewer window " +
                              widen(handle_number(viewer)) + L": no answer within " +
                              widen(std::to_string(send_timeout_ms / 1000)) +
                              L" s, or the window is gone";
        set_status(app.windows.front(), status);
    }
}

/// Hostile GUID requests: messages a careless peer might send.
void send_raw(HWND viewer, HWND from, const std::string& mode) {
    std::string base = app.first_guid;
    std::string text;
    SendResult r{false, 0};
    if (mode == "null") {
        r = send_copydata(viewer, from, 0, 0, nullptr);
        log_sent("raw", mode, "", viewer, 0, 0, true, r);
        return;
    }
    if (mode == "empty") {
        static const char nothing[1] = {'\0'};
        r = send_copydata(viewer, from, 0, 0, nothing);
        log_sent("raw", mode, "", viewer, 0, 0, false, r);
        return;
    }
    if (mode == "nonul") {
        text = base;
        while (text.size() < 200) text += 'Y';
        text.resize(200);
        r = send_copydata(viewer, from, 0, 200, text.data());  // no NUL within cbData
        log_sent("raw", mode, text, viewer, 0, 200, false, r);
        return;
    }
    if (mode == "bare") {
        text = base;  // the GUID alone, cbData its length, no NUL
        r = send_copydata(viewer, from, 0, static_cast<DWORD>(text.size()), text.data());
        log_sent("raw", mode, text, viewer, 0, static_cast<DWORD>(text.size()), false, r);
        return;
    }
    if (mode == "long") {
        text = base;
        while (text.size() < 150) text += 'X';
        text.resize(150);
        r = send_copydata(viewer, from, 0, 151, text.c_str());
        log_sent("raw", mode, text, viewer, 0, 151, false, r);
        return;
    }
    log_line("{\"event\":\"error\",\"message\":" + json_string("unknown --send-raw mode " + mode) + "}");
}

void run_action(const Action& action) {
    HWND viewer = action.viewer ? action.viewer : app.last_viewer;
    HWND from = app.windows.empty() ? nullptr : app.windows.front().hwnd;
    if (!viewer) {
        log_line("{\"event\":\"error\",\"message\":\"no viewer window known to send to\"}");
        return;
    }
    switch (action.kind) {
        case ActionKind::guid: send_guid(viewer, from, action.text); break;
        case ActionKind::raw: send_raw(viewer, from, action.text); break;
        case ActionKind::row: {
            const std::vector<Row>& rows = app.windows.front().rows;
            if (action.row < 0 || static_cast<std::size_t>(action.row) >= rows.size()) {
                log_line("{\"event\":\"error\",\"message\":" +
                         json_string("no row " + std::to_string(action.row) + " to send") + "}");
                return;
            }
            const Row& row = rows[action.row];
            send_guid(action.viewer ? action.viewer : row.viewer, from, row.record.guid);
            break;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Shutting down

/// Saves what the screen shows of the window's client area, after raising it above the others.
bool save_window_bmp(HWND hwnd, const std::wstring& path) {
    SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
    // The client area: without a window manager the frame is not on the screen.
    RECT rect;
    if (!GetClientRect(hwnd, &rect)) return false;
    MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;  // bottom-up, as a BMP file stores it
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<unsigned char> pixels(static_cast<std::size_t>(stride) * height);
    int lines = GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
                          DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (lines != height) return false;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    bool ok = std::fwrite(&file, sizeof file, 1, f) == 1 && std::fwrite(&info, sizeof info, 1, f) == 1 &&
              std::fwrite(pixels.data(), 1, pixels.size(), f) == pixels.size();
    return std::fclose(f) == 0 && ok;
}

void quit(int exit_code, const char* why) {
    if (app.quitting) return;
    app.quitting = true;
    app.exit_code = exit_code;
    if (!app.options.screenshot.empty() && !app.windows.empty()) {
        HWND shown = app.last_receiver;
        if (!shown) {
            std::vector<HWND> own = own_top_level_windows();
            for (HWND h : own)
                if (window_of(h)) {
                    shown = h;
                    break;
                }
        }
        bool ok = shown && save_window_bmp(shown, app.options.screenshot);
        log_line(std::string("{\"event\":\"screenshot\",\"file\":") +
                 json_string(utf16_to_utf8(app.options.screenshot)) + ",\"ok\":" + (ok ? "true" : "false") + "}");
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
        quit(0, "quit-after");
}

// ---------------------------------------------------------------------------------------------
// Receiving

LRESULT receive(MonitorWindow& w, WPARAM w_param, const COPYDATASTRUCT* cds) {
    ++app.messages;
    app.last_receiver = w.hwnd;
    monitor::Message message;
    monitor::Arrival arrival;
    arrival.window = w.index;
    arrival.hwnd = reinterpret_cast<UINT_PTR>(w.hwnd);
    arrival.w_param = w_param;
    arrival.sequence = app.messages;
    arrival.time_ms = now_ms();
    if (!cds) {
        message.reason = "lParam is null";
    } else {
        arrival.dw_data = cds->dwData;
        arrival.cb_data = cds->cbData;
        message = monitor::decode_message(cds->dwData, cds->cbData, cds->lpData);
    }
    std::vector<HWND> own = own_top_level_windows();
    arrival.first_own_window = own.empty() ? 0 : reinterpret_cast<UINT_PTR>(own.front());
    log_line(monitor::arrival_json(arrival, message));

    std::wstring number = widen(std::to_string(app.messages));
    if (!message.valid) {
        set_status(w, L"Message " + number + L" rejected: " + widen(message.reason));
    } else {
        HWND viewer = reinterpret_cast<HWND>(w_param);
        app.last_viewer = viewer;
        if (app.first_guid.empty() && !message.records.empty()) app.first_guid = message.records.front().guid;
        for (monitor::Record& record : message.records) {
            Row row{std::move(record), {}, viewer, app.messages};
            row.properties = monitor::split_properties(row.record.propiedad);
            w.rows.push_back(std::move(row));
        }
        ListView_SetItemCountEx(w.list, static_cast<int>(w.rows.size()), LVSICF_NOSCROLL);
        InvalidateRect(w.list, nullptr, TRUE);
        set_status(w, L"Message " + number + L": " + widen(std::to_string(message.records.size())) +
                          L" records, " + widen(std::to_string(arrival.cb_data)) + L" bytes, viewer window " +
                          widen(handle_number(viewer)));
    }
    if (!app.first_seen && app.messages >= static_cast<unsigned long long>(app.options.send_after)) {
        app.first_seen = true;
        for (const Action& a : app.options.after_first) app.pending.push_back(a);
    }
    // --answer-inside: a GUID request straight from this handler, while the viewer still waits
    // in its send, as some peers do.
    if (message.valid && !message.records.empty() && app.options.answer_inside != 0 &&
        (app.options.answer_inside == 2 || !app.answered_inside)) {
        app.answered_inside = true;
        // The first record of this message (its records were moved into the last rows).
        const std::string guid = w.rows[w.rows.size() - message.records.size()].record.guid;
        log_line("{\"event\":\"answer-inside\",\"sequence\":" + std::to_string(arrival.sequence) + "}");
        send_guid(reinterpret_cast<HWND>(w_param), w.hwnd, guid);
    }
    // The viewer is blocked in its send until we return: anything else we send goes out later.
    PostMessageW(w.hwnd, msg_step, 0, 0);
    return message.valid ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// The list

const wchar_t* const column_titles[] = {L"Msg", L"GUID", L"Name", L"Entity", L"Type",   L"Files", L"dx",
                                        L"dy",  L"dz",   L"Code", L"Volume", L"Area", L"Properties"};
const int column_widths[] = {36, 170, 170, 120, 120, 110, 55, 55, 55, 45, 80, 80, 400};

std::wstring cell_text(const Row& row, int column) {
    const monitor::Record& r = row.record;
    switch (column) {
        case 0: return widen(std::to_string(row.message));
        case 1: return latin1_wide(r.guid);
        case 2: return latin1_wide(r.texto);
        case 3: return latin1_wide(r.entidad);
        case 4: return latin1_wide(r.tipo);
        case 5: return latin1_wide(r.ficheros);
        case 6: return fixed3(r.dx);
        case 7: return fixed3(r.dy);
        case 8: return fixed3(r.dz);
        case 9: return widen(std::to_string(r.codigo));
        case 10: return latin1_wide(row.properties.volume);
        case 11: return latin1_wide(row.properties.area);
        case 12: {
            std::wstring text;
            for (const monitor::PropertyPair& p : row.properties.pairs) {
                if (!text.empty()) text += L"; ";
                text += latin1_wide(p.name) + L" = " + latin1_wide(p.value);
            }
            return text;
        }
        default: return L"";
    }
}

void create_children(MonitorWindow& w) {
    w.status = CreateWindowExW(0, STATUSCLASSNAMEW, L"Waiting for the viewer", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                               w.hwnd, nullptr, GetModuleHandleW(nullptr), nullptr);
    w.list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                             WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | LVS_SINGLESEL,
                             0, 0, 0, 0, w.hwnd, nullptr, GetModuleHandleW(nullptr), nullptr);
    ListView_SetExtendedListViewStyle(w.list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (int c = 0; c < static_cast<int>(sizeof column_widths / sizeof column_widths[0]); ++c) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(column_titles[c]);
        column.cx = column_widths[c];
        column.iSubItem = c;
        SendMessageW(w.list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
    }
}

void layout(MonitorWindow& w) {
    RECT client;
    GetClientRect(w.hwnd, &client);
    SendMessageW(w.status, WM_SIZE, 0, 0);
    RECT status_rect{};
    GetWindowRect(w.status, &status_rect);
    int status_height = status_rect.bottom - status_rect.top;
    MoveWindow(w.list, 0, 0, client.right, client.bottom - status_height, TRUE);
}

LRESULT on_notify(MonitorWindow& w, NMHDR* header) {
    if (header->hwndFrom != w.list) return 0;
    if (header->code == LVN_GETDISPINFOW) {
        auto* info = reinterpret_cast<NMLVDISPINFOW*>(header);
        if ((info->item.mask & LVIF_TEXT) && info->item.iItem >= 0 &&
            static_cast<std::size_t>(info->item.iItem) < w.rows.size() && info->item.cchTextMax > 0) {
            static std::wstring text;  // lives until the next request, as the list expects
            text = cell_text(w.rows[info->item.iItem], info->item.iSubItem);
            std::size_t n = std::min<std::size_t>(text.size(), info->item.cchTextMax - 1);
            std::wmemcpy(info->item.pszText, text.c_str(), n);
            info->item.pszText[n] = L'\0';
        }
        return 0;
    }
    if (header->code == NM_DBLCLK) {
        auto* item = reinterpret_cast<NMITEMACTIVATE*>(header);
        if (item->iItem >= 0 && static_cast<std::size_t>(item->iItem) < w.rows.size()) {
            const Row& row = w.rows[item->iItem];
            app.pending.push_back(Action{ActionKind::guid, row.record.guid, 0, row.viewer});
            PostMessageW(w.hwnd, msg_step, 0, 0);
        }
    }
    return 0;
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
                quit(0, "closed");
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

// ---------------------------------------------------------------------------------------------
// Sender mode: one raw message of a given size to the first window of a class, timed.

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

/// Asks every running monitor to leave, as closing its window would.
int run_close_monitors() {
    int count = 0;
    EnumWindows(close_monitor_window, reinterpret_cast<LPARAM>(&count));
    std::printf("{\"event\":\"close-monitors\",\"windows\":%d}\n", count);
    return 0;
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
            std::string message = "no top-level window of class \"" + utf16_to_utf8(o.to_class) + "\" within " +
                                  std::to_string(timeout_ms) + " ms";
            log_line("{\"event\":\"error\",\"message\":" + json_string(message) + "}");
            std::fprintf(stderr, "KESTRO_monitor: %s\n", message.c_str());
            return exit_no_window;
        }
        Sleep(50);
    }
    int code = exit_ok;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(o.raw_bytes), static_cast<unsigned char>(o.raw_fill));
    ULONG_PTR dw_data = o.raw_dw_data >= 0 ? static_cast<ULONG_PTR>(o.raw_dw_data)
                                           : static_cast<ULONG_PTR>(o.raw_bytes / monitor::record_size);
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
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    if (code != exit_ok)
        std::fprintf(stderr, "KESTRO_monitor: a send to class \"%s\" was not answered within %u ms\n",
                     utf16_to_utf8(o.to_class).c_str(), send_timeout_ms);
    return code;
}

// ---------------------------------------------------------------------------------------------
// Start-up

/// Why the command line was refused: the option and the value at fault.
struct ParseError {
    enum Kind { none, unknown, no_value, not_a_number, out_of_range, bad_value, pairing } kind = none;
    std::wstring option, value;
};
ParseError parse_error;

std::string describe(const ParseError& e) {
    std::string option = utf16_to_utf8(e.option), value = utf16_to_utf8(e.value);
    switch (e.kind) {
        case ParseError::unknown: return "unknown argument \"" + option + "\"";
        case ParseError::no_value: return option + " needs a value";
        case ParseError::not_a_number: return option + ": \"" + value + "\" is not a whole number";
        case ParseError::out_of_range: return option + ": " + value + " is out of range";
        case ParseError::bad_value: return option + ": \"" + value + "\" is not an accepted value";
        case ParseError::pairing: return "--send-raw-bytes and --to-class go together";
        default: return "bad command line";
    }
}

bool parse_number(const std::wstring& text, long long& out) {
    if (text.empty()) return false;
    wchar_t* end = nullptr;
    out = std::wcstoll(text.c_str(), &end, 10);
    return end && *end == L'\0';
}

const char usage[] =
    "usage: KESTRO_monitor.exe [--out FILE.jsonl] [--windows N] [--send-guid GUID] [--send-row N]\n"
    "         [--send-raw null|nonul|long|empty|bare] [--send-after N] [--quit-after N] [--timeout MS]\n"
    "         [--screenshot FILE.bmp] [--answer-inside once|always] [--stall SECONDS]\n"
    "       KESTRO_monitor.exe --send-raw-bytes N --to-class CLASS [--dwdata D] [--fill BYTE] [--repeat R]\n"
    "         [--out FILE.jsonl] [--timeout MS]\n"
    "       KESTRO_monitor.exe --close-monitors\n"
    "       KESTRO_monitor.exe --help\n";

const char help_text[] =
    "Stands in for KESTRO: takes the viewer plugin's element records by WM_COPYDATA, lists them\n"
    "decoded and sends GUIDs back (double-click a row). Its file name must contain KESTRO.\n"
    "Sender mode sends N raw bytes to the first window of CLASS; it looks for the window for\n"
    "--timeout MS (default 10000) and waits at most 60 s for each send.\n"
    "Exit codes: 0 ok; 2 bad command line; 3 --timeout ran out; 4 no window of the class (sender);\n"
    "  5 the windows could not be created; 6 internal error; 7 a send was not answered (sender).\n"
    "See tools/monitor/README.md.\n";

std::vector<std::wstring> command_line_arguments() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return {};
    std::vector<std::wstring> args(argv + 1, argv + argc);
    LocalFree(argv);
    return args;
}

bool parse_options(Options& o) {
    std::vector<std::wstring> args = command_line_arguments();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        // A refusal after a value was read blames that value; before, the missing value.
        auto value = [&](std::wstring& out) {
            parse_error = {ParseError::no_value, a, L""};
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            parse_error = {ParseError::bad_value, a, out};
            return true;
        };
        auto number = [&](long long& out) {
            std::wstring text;
            if (!value(text)) return false;
            if (!parse_number(text, out)) {
                parse_error = {ParseError::not_a_number, a, text};
                return false;
            }
            parse_error = {ParseError::out_of_range, a, text};
            return true;
        };
        std::wstring text;
        long long n = 0;
        if (a == L"--out") {
            if (!value(o.out)) return false;
        } else if (a == L"--windows") {
            if (!number(n) || n < 1 || n > 16) return false;
            o.windows = static_cast<int>(n);
        } else if (a == L"--send-guid") {
            if (!value(text)) return false;
            o.after_first.push_back(Action{ActionKind::guid, to_latin1(text), 0, nullptr});
        } else if (a == L"--send-row") {
            if (!number(n) || n < 0) return false;
            o.after_first.push_back(Action{ActionKind::row, "", static_cast<int>(n), nullptr});
        } else if (a == L"--send-raw") {
            if (!value(text)) return false;
            std::string mode = to_latin1(text);
            if (mode != "null" && mode != "nonul" && mode != "long" && mode != "empty" && mode != "bare") return false;
            o.after_first.push_back(Action{ActionKind::raw, mode, 0, nullptr});
        } else if (a == L"--send-after") {
            if (!number(o.send_after) || o.send_after < 1) return false;
        } else if (a == L"--quit-after") {
            if (!number(o.quit_after) || o.quit_after < 0) return false;
        } else if (a == L"--timeout") {
            if (!number(o.timeout_ms) || o.timeout_ms < 0) return false;
        } else if (a == L"--screenshot") {
            if (!value(o.screenshot)) return false;
        } else if (a == L"--answer-inside") {
            if (!value(text)) return false;
            if (text == L"once")
                o.answer_inside = 1;
            else if (text == L"always")
                o.answer_inside = 2;
            else
                return false;
        } else if (a == L"--stall") {
            if (!number(o.stall_seconds) || o.stall_seconds < 0 || o.stall_seconds > 3600) return false;
        } else if (a == L"--close-monitors") {
            o.close_monitors = true;
        } else if (a == L"--send-raw-bytes") {
            if (!number(o.raw_bytes) || o.raw_bytes < 0 || o.raw_bytes > 0x7FFFFFFF) return false;
        } else if (a == L"--to-class") {
            if (!value(o.to_class)) return false;
        } else if (a == L"--dwdata") {
            if (!number(o.raw_dw_data) || o.raw_dw_data < 0) return false;
        } else if (a == L"--fill") {
            if (!number(n) || n < 0 || n > 255) return false;
            o.raw_fill = static_cast<int>(n);
        } else if (a == L"--repeat") {
            if (!number(n) || n < 1) return false;
            o.raw_repeat = static_cast<int>(n);
        } else {
            parse_error = {ParseError::unknown, a, L""};
            return false;
        }
    }
    if ((o.raw_bytes >= 0) != !o.to_class.empty()) {
        parse_error = {ParseError::pairing, L"", L""};
        return false;
    }
    return true;
}

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
        std::wstring title = L"KESTRO monitor";
        if (i > 0) title += L" (" + widen(std::to_string(i + 1)) + L")";
        // The window is known to window_of from its first message on.
        w.hwnd = CreateWindowExW(0, window_class, title.c_str(), WS_OVERLAPPEDWINDOW, 30 * i, 810 + 30 * i,
                                 1200, 420, nullptr, nullptr, instance, nullptr);
        if (!w.hwnd) return exit_no_ui;
        create_children(w);
        layout(w);
        ShowWindow(w.hwnd, SW_SHOWNORMAL);
        UpdateWindow(w.hwnd);
    }
    if (app.options.timeout_ms >= 0)
        SetTimer(app.windows.front().hwnd, timeout_timer, static_cast<UINT>(app.options.timeout_ms), nullptr);

    std::string ready = "{\"event\":\"ready\",\"pid\":" + std::to_string(GetCurrentProcessId()) + ",\"windows\":[";
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
        ready += "{\"hwnd\":" + handle_number(h) + ",\"class\":" + json_string(utf16_to_utf8(name)) +
                 ",\"visible\":" + (IsWindowVisible(h) ? "true" : "false") + "}";
    }
    ready += "]}";
    log_line(ready);

    if (app.options.stall_seconds > 0) {
        // A KESTRO busy in a long calculation: the thread takes no messages at all meanwhile.
        log_line("{\"event\":\"stall\",\"seconds\":" + std::to_string(app.options.stall_seconds) +
                 ",\"time_ms\":" + json_number(now_ms()) + "}");
        Sleep(static_cast<DWORD>(app.options.stall_seconds * 1000));
        log_line("{\"event\":\"awake\",\"time_ms\":" + json_number(now_ms()) + "}");
    }

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return app.exit_code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    try {
        for (const std::wstring& a : command_line_arguments())
            if (a == L"--help" || a == L"-h" || a == L"/?") {
                std::fputs(usage, stdout);
                std::fputs(help_text, stdout);
                return exit_ok;
            }
        if (!parse_options(app.options)) {
            std::fprintf(stderr, "KESTRO_monitor: %s\n", describe(parse_error).c_str());
            std::fputs(usage, stderr);
            return exit_usage;
        }
        if (!app.options.out.empty()) {
            app.log = _wfopen(app.options.out.c_str(), L"wb");
            if (!app.log) {
                std::fprintf(stderr, "KESTRO_monitor: --out: cannot write \"%s\"\n",
                             utf16_to_utf8(app.options.out).c_str());
                return exit_usage;
            }
        }
        int code = app.options.close_monitors ? run_close_monitors()
                   : app.options.raw_bytes >= 0 ? run_sender()
                                                : run_monitor(instance);
        if (app.log) std::fclose(app.log);
        return code;
    } catch (...) {
        return exit_internal;
    }
}
