// The scripted actions: each runs from a posted message inside the message loop, so messages sent
// to the viewer (a peer's WM_COPYDATA) are handled while a script waits. Waits for requests, files
// and dialogs poll on a timer and end the viewer with exit_timeout when their time is up.
#include "viewer_app.h"

#include <commctrl.h>

#include <algorithm>

#include "file_io.h"
#include "window_common.h"

namespace bvs {

void ViewerApp::post_next_step() {
    if (finished_ || step_pending_) return;
    step_pending_ = true;
    PostMessageW(main_, msg_step, 0, 0);
}

void ViewerApp::step_done() {
    waiting_ = Waiting::none;
    post_next_step();
}

void ViewerApp::run_step() {
    if (finished_ || waiting_ != Waiting::none) return;
    if (next_step_ >= script_.size()) {
        if (!script_.empty()) log_.write({{"event", "script_done"}});
        return;  // the viewer stays open until it is closed
    }
    const Action& a = script_[next_step_++];
    current_step_ = a.source;
    log_.write({{"event", "action"}, {"index", next_step_ - 1}, {"action", utf8(a.source)}});
    switch (a.kind) {
    case ActionKind::click:
        if (a.number >= host_.buttons().size()) {
            error("script: there is no ribbon button " + std::to_string(a.number));
            finish(exit_script_failed);
            return;
        }
        // The next action is queued first: a message box opened by the handler runs its own
        // message loop, in which the following actions (dismiss-dialog) then run.
        post_next_step();
        click(a.number, "script");
        return;
    case ActionKind::select:
        if (!do_select(a)) return;
        break;
    case ActionKind::drag:
        post_next_step();
        drag_enter("script");
        return;
    case ActionKind::wait_requests:
    case ActionKind::wait_file:
        waiting_ = a.kind == ActionKind::wait_file ? Waiting::file : Waiting::requests;
        wait_target_ = a.number;
        wait_file_ = a.text;
        wait_deadline_ = GetTickCount64() + a.timeout_ms;
        if (!check_wait()) SetTimer(main_, timer_poll, poll_ms, nullptr);
        return;
    case ActionKind::sleep:
        waiting_ = Waiting::sleep;
        SetTimer(main_, timer_sleep, std::max<UINT>(a.number, 1), nullptr);
        return;
    case ActionKind::screenshot:
        if (!do_screenshot(a.text)) {
            finish(exit_script_failed);
            return;
        }
        break;
    case ActionKind::copydata: {
        std::string bytes = utf16_to_latin1(a.text);
        COPYDATASTRUCT cds{};
        cds.dwData = 0;
        cds.cbData = static_cast<DWORD>(bytes.size() + 1);
        cds.lpData = bytes.data();
        LRESULT r = SendMessageW(main_, WM_COPYDATA, reinterpret_cast<WPARAM>(main_),
                                 reinterpret_cast<LPARAM>(&cds));
        log_.write({{"event", "copydata_sent"}, {"text", utf8(a.text)},
                    {"result", static_cast<std::int64_t>(r)}});
        break;
    }
    case ActionKind::dismiss_dialog:
        waiting_ = Waiting::dialog;
        wait_deadline_ = GetTickCount64() + a.timeout_ms;
        if (!try_dismiss_dialog()) SetTimer(main_, timer_poll, poll_ms, nullptr);
        return;
    case ActionKind::watch_progress:
        // A watch still running from an earlier action ends first.
        progress_watch_.reset();
        progress_watch_ = ProgressWatch::start(log_, main_, a.number == 1, a.timeout_ms);
        if (!progress_watch_) {
            error("script: the progress watch could not start (error " +
                  std::to_string(GetLastError()) + ")");
            finish(exit_script_failed);
            return;
        }
        break;
    case ActionKind::load: {
        std::u16string path = a.text.empty() ? options_.model : a.text;
        std::string why;
        auto model = load_model_file(path, why);
        if (!model) {
            error(why);
            finish(exit_bad_model);
            return;
        }
        options_.model = path;
        install_model(std::move(model));
        break;
    }
    case ActionKind::quit:
        finish(exit_ok);
        return;
    }
    step_done();
}

bool ViewerApp::check_wait() {
    if ((waiting_ == Waiting::requests && copydata_count_ >= wait_target_) ||
        (waiting_ == Waiting::file &&
         GetFileAttributesW(reinterpret_cast<const wchar_t*>(wait_file_.c_str())) != INVALID_FILE_ATTRIBUTES)) {
        KillTimer(main_, timer_poll);
        step_done();
        return true;
    }
    return false;
}

void ViewerApp::on_timer(UINT_PTR id) {
    if (id == timer_sleep) {
        KillTimer(main_, timer_sleep);
        if (waiting_ == Waiting::sleep) step_done();
        return;
    }
    if (id != timer_poll) return;
    if (waiting_ == Waiting::requests || waiting_ == Waiting::file) {
        if (check_wait()) return;
    } else if (waiting_ == Waiting::dialog) {
        if (try_dismiss_dialog()) return;
    } else {
        KillTimer(main_, timer_poll);
        return;
    }
    if (GetTickCount64() >= wait_deadline_) {
        KillTimer(main_, timer_poll);
        if (waiting_ == Waiting::requests)
            error("timeout in \"" + utf8(current_step_) + "\": " + std::to_string(copydata_count_) +
                  " of " + std::to_string(wait_target_) + " WM_COPYDATA messages arrived");
        else if (waiting_ == Waiting::file)
            error("timeout in \"" + utf8(current_step_) + "\": the file did not appear");
        else
            error("timeout in \"" + utf8(current_step_) + "\": no dialog appeared");
        waiting_ = Waiting::none;
        finish(exit_timeout);
    }
}

namespace {

struct DialogSearch {
    HWND found = nullptr;
};

BOOL CALLBACK find_dialog(HWND h, LPARAM lp) {
    wchar_t cls[32] = {};
    GetClassNameW(h, cls, 32);
    if (IsWindowVisible(h) && lstrcmpW(cls, L"#32770") == 0) {
        reinterpret_cast<DialogSearch*>(lp)->found = h;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK longest_static(HWND h, LPARAM lp) {
    wchar_t cls[32] = {};
    GetClassNameW(h, cls, 32);
    if (lstrcmpiW(cls, L"Static") != 0) return TRUE;
    int n = GetWindowTextLengthW(h);
    auto* best = reinterpret_cast<std::wstring*>(lp);
    if (n > static_cast<int>(best->size())) {
        std::wstring t(static_cast<std::size_t>(n) + 1, L'\0');
        GetWindowTextW(h, t.data(), n + 1);
        t.resize(static_cast<std::size_t>(n));
        *best = t;
    }
    return TRUE;
}

}  // namespace

bool ViewerApp::try_dismiss_dialog() {
    DialogSearch s;
    EnumThreadWindows(GetCurrentThreadId(), find_dialog, reinterpret_cast<LPARAM>(&s));
    if (!s.found) return false;
    wchar_t caption[512] = {};
    GetWindowTextW(s.found, caption, 512);
    std::wstring text;
    EnumChildWindows(s.found, longest_static, reinterpret_cast<LPARAM>(&text));
    log_.write({{"event", "dialog"}, {"caption", utf8(caption)}, {"text", utf8(text.c_str())},
                {"owner", handle_value(GetWindow(s.found, GW_OWNER))}});
    KillTimer(main_, timer_poll);
    PostMessageW(s.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(s.found, IDOK)));
    step_done();
    return true;
}

bool ViewerApp::do_select(const Action& a) {
    std::vector<std::size_t> indices;
    for (const std::u16string& item : a.items) {
        const std::size_t i = model_ ? find_select_item(*model_, item) : Model::npos;
        if (i == Model::npos) {
            error("script: no object \"" + utf8(item) + "\" in the model");
            finish(exit_script_failed);
            return false;
        }
        indices.push_back(i);
    }
    if (!host_.replace_selection(indices)) return true;
    sync_list_from_host();
    if (!indices.empty()) ListView_EnsureVisible(list_, static_cast<int>(indices.front()), FALSE);
    UpdateWindow(list_);
    host_.notify_selection_change("script");
    return true;
}

}  // namespace bvs
