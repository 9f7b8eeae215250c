#include "viewer_requests.h"

#include "kestro_records.h"

namespace monitor {

namespace {

void log_sent(const char* kind, const std::string& mode, const std::string& text, HWND to, ULONG_PTR dw_data,
              DWORD cb_data, bool null_data, const SendResult& r) {
    std::string line = "{\"event\":\"sent\"";
    auto field = [&line](const char* name, const std::string& json) {
        line += ",\"";
        line += name;
        line += "\":";
        line += json;
    };
    field("kind", json_string(kind));
    if (!mode.empty()) field("mode", json_string(mode));
    field("guid", json_string(latin1_to_utf8(text)));
    field("to", handle_number(to));
    field("dwData", std::to_string(dw_data));
    field("cbData", std::to_string(cb_data));
    field("lpData_null", null_data ? "true" : "false");
    field("delivered", r.delivered ? "true" : "false");
    field("result", std::to_string(static_cast<unsigned long long>(r.result)));
    field("time_ms", json_number(now_ms()));
    line += '}';
    log_line(line);
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

}  // namespace

SendResult send_copydata(HWND to, HWND from, ULONG_PTR dw_data, DWORD cb_data, const void* data) {
    COPYDATASTRUCT cds;
    cds.dwData = dw_data;
    cds.cbData = cb_data;
    cds.lpData = const_cast<void*>(data);
    DWORD_PTR result = 0;
    // SMTO_NORMAL keeps this thread answering messages sent to it while it waits.
    LRESULT ok = SendMessageTimeoutW(to, WM_COPYDATA, reinterpret_cast<WPARAM>(from), reinterpret_cast<LPARAM>(&cds),
                                     SMTO_NORMAL, send_timeout_ms, &result);
    return {ok != 0, result};
}

void send_guid(HWND viewer, HWND from, const std::string& guid) {
    SendResult r{false, 0};
    r.delivered = kestro_send_guid_request(viewer, from, guid.c_str(), send_timeout_ms, &r.result) != 0;
    log_sent("guid", "", guid, viewer, 0, static_cast<DWORD>(guid.size() + 1), false, r);
    if (!app.windows.empty())
        set_status(app.windows.front(), status_guid_sent(guid, reinterpret_cast<std::uintptr_t>(viewer), r.delivered,
                                                         r.result, send_timeout_ms / 1000));
}

void run_action(const Action& action) {
    HWND viewer = action.viewer ? reinterpret_cast<HWND>(action.viewer) : app.last_viewer;
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
            send_guid(action.viewer ? viewer : reinterpret_cast<HWND>(row.viewer), from, row.record.guid);
            break;
        }
    }
}

}  // namespace monitor
