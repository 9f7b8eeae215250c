// The main window and its children: window classes, creation, layout, the window procedures that
// hand each message to the part of the viewer it concerns, and the viewer's own WM_COPYDATA.
#include "viewer_app.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

#include "window_common.h"

namespace bvs {

namespace {

const wchar_t* const main_class = L"BvsSubstituteMain";
const wchar_t* const ribbon_class = L"BvsSubstituteRibbon";
const wchar_t* const view_class = L"BvsSubstitutePlan";

}  // namespace

bool ViewerApp::create_windows(HINSTANCE instance) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpfnWndProc = main_proc;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = main_class;
    wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    if (!RegisterClassExW(&wc)) return false;
    wc.lpfnWndProc = ribbon_proc;
    wc.hbrBackground = CreateSolidBrush(RGB(232, 238, 247));
    wc.lpszClassName = ribbon_class;
    wc.hIcon = nullptr;
    if (!RegisterClassExW(&wc)) return false;
    wc.lpfnWndProc = view_proc;
    wc.hbrBackground = nullptr;
    wc.lpszClassName = view_class;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    if (!RegisterClassExW(&wc)) return false;

    font_ = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                        DEFAULT_PITCH | FF_SWISS, L"Tahoma");

    std::wstring title = L"BimVision substitute - " + wide(file_part(options_.model));
    main_ = CreateWindowExW(WS_EX_ACCEPTFILES, main_class, title.c_str(),
                            WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 1200, 800, nullptr,
                            nullptr, instance, nullptr);
    if (!main_) return false;
    ribbon_ = CreateWindowExW(0, ribbon_class, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0,
                              0, 100, ribbon_height, main_, nullptr, instance, nullptr);
    status_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0,
                              0, 100, 60, ribbon_, nullptr, instance, nullptr);
    list_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, nullptr,
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA |
                                LVS_SHOWSELALWAYS,
                            0, 0, 100, 100, main_, nullptr, instance, nullptr);
    view_ = CreateWindowExW(WS_EX_CLIENTEDGE, view_class, nullptr, WS_CHILD | WS_VISIBLE, 0, 0,
                            100, 100, main_, nullptr, instance, nullptr);
    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, main_,
                               nullptr, instance, nullptr);
    if (!ribbon_ || !status_ || !list_ || !view_) return false;
    for (HWND h : {status_, list_}) SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    set_up_list();
    DragAcceptFiles(main_, TRUE);
    layout();
    update_status();
    ShowWindow(main_, SW_SHOWNORMAL);
    UpdateWindow(main_);
    return true;
}

void ViewerApp::layout() {
    RECT rc;
    GetClientRect(main_, &rc);
    int width = rc.right - rc.left, height = rc.bottom - rc.top;
    MoveWindow(ribbon_, 0, 0, width, ribbon_height, TRUE);
    int list_width = width * 58 / 100;
    MoveWindow(list_, 0, ribbon_height, list_width, std::max(0, height - ribbon_height), TRUE);
    MoveWindow(view_, list_width, ribbon_height, width - list_width,
               std::max(0, height - ribbon_height), TRUE);
    int status_x = 12 + static_cast<int>(button_windows_.size()) * (button_width + 8);
    MoveWindow(status_, status_x, 8, std::max(0, width - status_x - 8), ribbon_height - 16, TRUE);
}

// ---- WM_COPYDATA ----------------------------------------------------------------------------

LRESULT ViewerApp::on_copydata(WPARAM wparam, const COPYDATASTRUCT* cds) {
    ++copydata_count_;
    CopyDataMessage message;
    if (cds != nullptr) {
        message.data = cds->dwData;
        message.size = cds->cbData;
        message.bytes = cds->lpData;
    }
    log_.write(copydata_event(copydata_count_, wparam, cds != nullptr ? &message : nullptr));
    if (waiting_ == Waiting::requests && !step_pending_) check_wait();
    return copydata_result;
}

// ---- window procedures ----------------------------------------------------------------------

LRESULT CALLBACK ViewerApp::main_proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    try {
        if (running_) return running_->on_main(h, m, wp, lp);
    } catch (...) {
        report_internal_error();
    }
    return m == WM_COPYDATA ? copydata_result : DefWindowProcW(h, m, wp, lp);
}

LRESULT CALLBACK ViewerApp::ribbon_proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    try {
        if (running_) return running_->on_ribbon(h, m, wp, lp);
    } catch (...) {
        report_internal_error();
    }
    return DefWindowProcW(h, m, wp, lp);
}

LRESULT CALLBACK ViewerApp::view_proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    try {
        if (running_) return running_->on_view(h, m, wp, lp);
    } catch (...) {
        report_internal_error();
    }
    return DefWindowProcW(h, m, wp, lp);
}

LRESULT ViewerApp::on_main(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    switch (m) {
    case WM_COPYDATA:
        return on_copydata(wp, reinterpret_cast<const COPYDATASTRUCT*>(lp));
    case WM_SIZE:
        if (ribbon_) layout();
        return 0;
    case WM_NOTIFY: {
        const auto* hdr = reinterpret_cast<const NMHDR*>(lp);
        if (hdr->hwndFrom != list_) break;
        return on_list_notify(*hdr, lp);
    }
    case WM_DROPFILES:
        DragFinish(reinterpret_cast<HDROP>(wp));
        drag_enter("drop");
        return 0;
    case WM_TIMER:
        on_timer(wp);
        return 0;
    case msg_step:
        step_pending_ = false;
        run_step();
        return 0;
    case msg_list_selection:
        read_list_selection();
        return 0;
    case msg_host_selection:
        host_notify_posted_ = false;
        host_.notify_selection_change("host");
        return 0;
    case WM_CLOSE:
        finish(exit_ok);
        return 0;
    case WM_DESTROY:
        return 0;
    default:
        break;
    }
    return DefWindowProcW(h, m, wp, lp);
}

}  // namespace bvs
