#include "viewer_app.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>

#include "image_file.h"
#include "text.h"

namespace bvs {

namespace {

using nlohmann::json;

constexpr UINT msg_step = WM_APP + 1;          // run the next script action
constexpr UINT msg_list_selection = WM_APP + 2;  // the list's selection changed: read it
constexpr UINT msg_host_selection = WM_APP + 3;  // a host call changed the selection
constexpr UINT_PTR timer_sleep = 1;
constexpr UINT_PTR timer_poll = 2;
constexpr UINT poll_ms = 25;
constexpr int ribbon_height = 92;
constexpr int button_width = 124;
constexpr int button_height = 78;
constexpr int first_button_control = 100;
constexpr std::size_t copydata_text_limit = 4096;

const wchar_t* const main_class = L"BvsSubstituteMain";
const wchar_t* const ribbon_class = L"BvsSubstituteRibbon";
const wchar_t* const view_class = L"BvsSubstitutePlan";

ViewerApp* g_app = nullptr;

const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
std::wstring wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }
std::u16string u16(const wchar_t* s) {
    return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string();
}
std::string utf8(const wchar_t* s) { return utf16_to_utf8(u16(s)); }
std::string utf8(const std::u16string& s) { return utf16_to_utf8(s); }

std::uint64_t handle_value(const void* h) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(h));
}

std::u16string file_part(const std::u16string& path) {
    std::size_t cut = path.find_last_of(u"\\/");
    return cut == std::u16string::npos ? path : path.substr(cut + 1);
}

bool is_container(const ModelObject& o) {
    const std::u16string& t = o.object_type;
    const std::u16string& e = o.entity;
    for (const char16_t* c : {u"IfcProject", u"IfcSite", u"IfcBuilding", u"IfcBuildingStorey"})
        if (t == c || e == c) return true;
    return false;
}

COLORREF entity_colour(const std::u16string& entity) {
    auto starts = [&](const char16_t* p) { return entity.rfind(p, 0) == 0; };
    if (starts(u"IfcWall")) return RGB(176, 176, 170);
    if (starts(u"IfcSlab")) return RGB(222, 210, 186);
    if (starts(u"IfcDoor")) return RGB(170, 120, 80);
    if (starts(u"IfcWindow")) return RGB(150, 200, 235);
    if (starts(u"IfcSpace")) return RGB(205, 232, 200);
    return RGB(200, 200, 200);
}

}  // namespace

// ---- files ----------------------------------------------------------------------------------

bool read_whole_file(const std::u16string& path, std::string& out) {
    HANDLE f = CreateFileW(w(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(f, &size) && size.QuadPart < 0x40000000;
    if (ok) {
        out.resize(static_cast<std::size_t>(size.QuadPart));
        std::size_t done = 0;
        while (ok && done < out.size()) {
            DWORD got = 0;
            DWORD want = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1 << 24));
            ok = ReadFile(f, out.data() + done, want, &got, nullptr) && got > 0;
            done += got;
        }
    }
    CloseHandle(f);
    return ok;
}

bool write_whole_file(const std::u16string& path, const std::vector<std::uint8_t>& bytes) {
    HANDLE f = CreateFileW(w(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    bool ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
              put == bytes.size();
    CloseHandle(f);
    return ok;
}

std::shared_ptr<const Model> load_model_file(const std::u16string& path, std::string& error) {
    std::string text;
    if (!read_whole_file(path, text)) {
        error = "cannot read the model file \"" + utf8(path) + "\"";
        return nullptr;
    }
    ModelLoadResult r = Model::parse(text);
    if (!r.model) {
        error = "the model file \"" + utf8(path) + "\" is not a valid snapshot: " + r.error;
        return nullptr;
    }
    return std::shared_ptr<const Model>(std::move(r.model));
}

namespace {
void write_std_handle(DWORD which, const std::string& text) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    DWORD put = 0;
    WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
}
}  // namespace

void write_stderr(const std::string& text) { write_std_handle(STD_ERROR_HANDLE, text); }

void write_stdout(const std::string& text) { write_std_handle(STD_OUTPUT_HANDLE, text); }

// ---- the application ------------------------------------------------------------------------

ViewerApp::ViewerApp(Options options, std::vector<Action> script,
                     std::shared_ptr<const Model> model)
    : options_(std::move(options)), script_(std::move(script)), model_(std::move(model)) {
    g_app = this;
    host_.set_observer(this);
}

ViewerApp::~ViewerApp() {
    host_.set_observer(nullptr);
    for (auto& b : button_windows_)
        if (b.icon) DestroyIcon(b.icon);
    if (font_) DeleteObject(font_);
    g_app = nullptr;
}

HostApi* ViewerApp::host() { return g_app ? &g_app->host_ : nullptr; }

void ViewerApp::report_internal_error() {
    if (g_app == nullptr) return;
    g_app->error("internal error inside a host function");
    g_app->finish(exit_internal);
}

void ViewerApp::error(const std::string& message) {
    write_stderr("bimvision_substitute: " + message + "\n");
    log_.write({{"event", "error"}, {"message", message}});
}

int ViewerApp::run(HINSTANCE instance) {
    instance_ = instance;
    log_.write({{"event", "start"},
                {"model", utf8(options_.model)},
                {"plugin", utf8(options_.plugin)},
                {"script", utf8(options_.script)},
                {"pid", GetCurrentProcessId()}});
    if (!create_windows(instance)) {
        error("cannot create the main window");
        return exit_internal;
    }
    log_.write({{"event", "window"}, {"main", handle_value(main_)}, {"list", handle_value(list_)}});

    if (!options_.plugin.empty() && !load_plugin()) {
        DestroyWindow(main_);
        return exit_bad_plugin;
    }
    install_model(model_);
    post_next_step();

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (plugin_ != nullptr) {
        using UnloadFn = void(__stdcall*)();
        if (auto unload = reinterpret_cast<UnloadFn>(
                reinterpret_cast<void*>(GetProcAddress(plugin_, "on_plugin_unload")))) {
            unload();
            log_.write({{"event", "plugin_unload"}});
        }
    }
    DestroyWindow(main_);
    log_.write({{"event", "exit"}, {"code", exit_code_}});
    return exit_code_;
}

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
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    const wchar_t* headers[] = {L"Guid", L"Name", L"IfcEntity", L"ObjectType"};
    const int widths[] = {190, 220, 130, 150};
    for (int i = 0; i < 4; ++i) {
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        col.pszText = const_cast<wchar_t*>(headers[i]);
        col.cx = widths[i];
        col.iSubItem = i;
        ListView_InsertColumn(list_, i, &col);
    }
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

// ---- plugin ---------------------------------------------------------------------------------

bool ViewerApp::load_plugin() {
    plugin_ = LoadLibraryW(w(options_.plugin));
    if (plugin_ == nullptr) {
        error("cannot load the plugin \"" + utf8(options_.plugin) + "\" (error " +
              std::to_string(GetLastError()) + ")");
        return false;
    }
    auto proc = [&](const char* name) {
        return reinterpret_cast<void*>(GetProcAddress(plugin_, name));
    };
    using ApiVersionFn = void*(__stdcall*)(std::uintptr_t, void*);
    using PluginInfoFn = void*(__stdcall*)(void*);
    using PluginLoadFn = void(__stdcall*)(std::uint32_t, std::uintptr_t, HWND);
    auto api_version = reinterpret_cast<ApiVersionFn>(proc("get_api_verion"));
    auto plugin_info = reinterpret_cast<PluginInfoFn>(proc("get_plugin_info"));
    auto plugin_load = reinterpret_cast<PluginLoadFn>(proc("on_plugin_load"));
    on_drag_enter_ = reinterpret_cast<DragEnterFn>(proc("on_drag_enter"));

    json loaded = {{"event", "plugin"}, {"path", utf8(options_.plugin)},
                   {"module", handle_value(plugin_)}};
    json exports = json::object();
    for (const char* name : {"get_api_verion", "get_plugin_info", "on_plugin_load",
                             "on_plugin_unload", "on_drag_enter", "on_drag_over", "on_drop",
                             "on_gui_colors_change", "on_model_load_v2", "on_model_save_v2"})
        exports[name] = proc(name) != nullptr;
    loaded["exports"] = exports;
    log_.write(loaded);

    if (api_version) {
        std::int32_t pair[2] = {-1, -1};
        void* r = api_version(0, pair);
        log_.write({{"event", "api_version"}, {"values", {pair[0], pair[1]}},
                    {"returned_pair", r == pair}});
    }
    if (plugin_info) {
        const wchar_t* info[5] = {};
        void* r = plugin_info(info);
        log_.write({{"event", "plugin_info"},
                    {"name", info[0] ? json(utf8(info[0])) : json(nullptr)},
                    {"producer", info[1] ? json(utf8(info[1])) : json(nullptr)},
                    {"web", info[2] ? json(utf8(info[2])) : json(nullptr)},
                    {"email", info[3] ? json(utf8(info[3])) : json(nullptr)},
                    {"description", info[4] ? json(utf8(info[4])) : json(nullptr)},
                    {"returned_record", r == info}});
        plugin_name_ = info[0] ? info[0] : L"";
        if (info[4]) plugin_name_ += std::wstring(L" (") + info[4] + L")";
    }
    if (plugin_load) {
        log_.write({{"event", "plugin_load"}, {"plugin_id", plugin_id},
                    {"window", handle_value(main_)}});
        plugin_load(plugin_id, 0, main_);
        log_.write({{"event", "plugin_loaded"}});
    }
    update_status();
    return true;
}

void ViewerApp::drag_enter(const char* source) {
    if (on_drag_enter_ == nullptr) {
        log_.write({{"event", "drag_enter"}, {"source", source}, {"result", nullptr}});
        return;
    }
    log_.write({{"event", "drag_enter"}, {"source", source}});
    std::int32_t r = on_drag_enter_(0, 0, 0);
    log_.write({{"event", "drag_enter_done"}, {"source", source}, {"result", r}});
}

// ---- model and list -------------------------------------------------------------------------

void ViewerApp::install_model(std::shared_ptr<const Model> model) {
    model_ = std::move(model);
    host_.install_model(model_);
    refresh_list();
    host_.notify_model_load();
}

void ViewerApp::refresh_list() {
    ++syncing_list_;
    std::size_t n = model_ ? model_->size() : 0;
    ListView_SetItemCountEx(list_, static_cast<int>(n), 0);
    ListView_SetItemState(list_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    --syncing_list_;
    InvalidateRect(list_, nullptr, TRUE);
    InvalidateRect(view_, nullptr, TRUE);
    update_status();
}

void ViewerApp::sync_list_from_host() {
    ++syncing_list_;
    ListView_SetItemState(list_, -1, 0, LVIS_SELECTED);
    for (std::size_t i : host_.selected_indices())
        ListView_SetItemState(list_, static_cast<int>(i), LVIS_SELECTED, LVIS_SELECTED);
    --syncing_list_;
    InvalidateRect(list_, nullptr, FALSE);
    InvalidateRect(view_, nullptr, FALSE);
    update_status();
}

void ViewerApp::read_list_selection() {
    list_sync_posted_ = false;
    std::vector<std::size_t> indices;
    int i = -1;
    while ((i = ListView_GetNextItem(list_, i, LVNI_SELECTED)) >= 0)
        indices.push_back(static_cast<std::size_t>(i));
    if (!host_.replace_selection(indices)) return;
    InvalidateRect(view_, nullptr, FALSE);
    update_status();
    host_.notify_selection_change("user");
}

void ViewerApp::update_status() {
    if (!status_) return;
    std::wstring s = L"Plugin: " + (plugin_name_.empty() ? std::wstring(L"(none)") : plugin_name_);
    s += L"\r\nModel: " + wide(file_part(options_.model));
    if (model_) {
        s += L"  -  " + std::to_wstring(model_->size()) + L" objects";
        if (!model_->files().empty()) {
            s += L", files:";
            for (const auto& f : model_->files()) s += L" " + wide(f);
        }
    }
    s += L"\r\nSelected: " + std::to_wstring(host_.selected_count());
    SetWindowTextW(status_, s.c_str());
}

// ---- HostObserver ---------------------------------------------------------------------------

void ViewerApp::selection_applied() {
    sync_list_from_host();
    if (options_.host_select_sync) {
        // Synchronous: the handler runs here, inside the plugin's own `select` call.
        host_.notify_selection_change("host");
        return;
    }
    if (options_.host_select_notifies && !host_notify_posted_) {
        host_notify_posted_ = true;
        PostMessageW(main_, msg_host_selection, 0, 0);
    }
}

void ViewerApp::invalidate_view() {
    if (view_) InvalidateRect(view_, nullptr, FALSE);
}

void ViewerApp::zoom_to(std::size_t index) {
    ListView_EnsureVisible(list_, static_cast<int>(index), FALSE);
    InvalidateRect(view_, nullptr, FALSE);
}

bool ViewerApp::load_button_icon(std::size_t index, const std::u16string& path) {
    if (index >= button_windows_.size()) return false;
    ButtonWindow& b = button_windows_[index];
    if (b.icon) DestroyIcon(b.icon), b.icon = nullptr;
    if (path.empty()) return false;
    b.icon = static_cast<HICON>(
        LoadImageW(nullptr, w(path), IMAGE_ICON, 32, 32, LR_LOADFROMFILE));
    if (b.hwnd) InvalidateRect(b.hwnd, nullptr, TRUE);
    return b.icon != nullptr;
}

void ViewerApp::buttons_changed() {
    const auto& buttons = host_.buttons();
    while (button_windows_.size() < buttons.size()) {
        std::size_t i = button_windows_.size();
        ButtonWindow b;
        b.hwnd = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW,
                                 12 + static_cast<int>(i) * (button_width + 8), 7, button_width,
                                 button_height, ribbon_,
                                 reinterpret_cast<HMENU>(first_button_control + i), instance_,
                                 nullptr);
        SendMessageW(b.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
        button_windows_.push_back(b);
        if (tooltip_) {
            TOOLINFOW ti{};
            ti.cbSize = TTTOOLINFOW_V2_SIZE;
            ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            ti.hwnd = ribbon_;
            ti.uId = reinterpret_cast<UINT_PTR>(button_windows_.back().hwnd);
            ti.lpszText = const_cast<wchar_t*>(L"");
            SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
        }
    }
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        ButtonWindow& b = button_windows_[i];
        SetWindowTextW(b.hwnd, w(buttons[i].text));
        if (b.hint != wide(buttons[i].hint) && tooltip_) {
            b.hint = wide(buttons[i].hint);
            TOOLINFOW ti{};
            ti.cbSize = TTTOOLINFOW_V2_SIZE;
            ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            ti.hwnd = ribbon_;
            ti.uId = reinterpret_cast<UINT_PTR>(b.hwnd);
            ti.lpszText = const_cast<wchar_t*>(b.hint.c_str());
            SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
        }
        InvalidateRect(b.hwnd, nullptr, TRUE);
    }
    layout();
}

void ViewerApp::draw_ribbon_button(const DRAWITEMSTRUCT& d) {
    std::size_t i = d.CtlID - first_button_control;
    if (i >= button_windows_.size()) return;
    RECT r = d.rcItem;
    bool pressed = (d.itemState & ODS_SELECTED) != 0;
    DrawFrameControl(d.hDC, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
    SetBkMode(d.hDC, TRANSPARENT);
    HGDIOBJ old = SelectObject(d.hDC, font_);
    const std::u16string& text = host_.buttons()[i].text;
    HICON icon = button_windows_[i].icon;
    RECT tr = r;
    InflateRect(&tr, -4, -4);
    if (icon) {
        int x = (r.left + r.right) / 2 - 16, y = r.top + 8;
        DrawIconEx(d.hDC, x, y, icon, 32, 32, 0, nullptr, DI_NORMAL);
        tr.top = y + 36;
        DrawTextW(d.hDC, w(text), -1, &tr, DT_CENTER | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
    } else {
        DrawTextW(d.hDC, w(text), -1, &tr,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    SelectObject(d.hDC, old);
}

// ---- plan view ------------------------------------------------------------------------------

void ViewerApp::paint_view(HDC dc, const RECT& area) {
    HBRUSH back = CreateSolidBrush(RGB(250, 250, 246));
    FillRect(dc, &area, back);
    DeleteObject(back);
    if (model_) {
        const auto& objects = model_->objects();
        double minx = 1e300, miny = 1e300, maxx = -1e300, maxy = -1e300;
        std::vector<std::size_t> order;
        order.reserve(objects.size());
        for (std::size_t i = 0; i < objects.size(); ++i) {
            const ModelObject& o = objects[i];
            const bv::Bounds& b = o.bounds;
            if (is_container(o) || (b.max_x <= b.min_x && b.max_y <= b.min_y)) continue;
            minx = std::min(minx, b.min_x), miny = std::min(miny, b.min_y);
            maxx = std::max(maxx, b.max_x), maxy = std::max(maxy, b.max_y);
            order.push_back(i);
        }
        if (!order.empty()) {
            // Large footprints first, so that walls, doors and windows stay on top.
            auto footprint = [&](std::size_t i) {
                const bv::Bounds& b = objects[i].bounds;
                return (b.max_x - b.min_x) * (b.max_y - b.min_y);
            };
            std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
                return footprint(a) > footprint(b);
            });
            double margin = 16;
            double sx = (area.right - area.left - 2 * margin) / std::max(maxx - minx, 1e-9);
            double sy = (area.bottom - area.top - 2 * margin) / std::max(maxy - miny, 1e-9);
            double s = std::max(0.0, std::min(sx, sy));
            auto px = [&](double x) { return static_cast<int>(area.left + margin + (x - minx) * s); };
            auto py = [&](double y) {
                return static_cast<int>(area.bottom - margin - (y - miny) * s);
            };
            HPEN edge = CreatePen(PS_SOLID, 1, RGB(90, 90, 90));
            HPEN active = CreatePen(PS_SOLID, 3, RGB(200, 30, 30));
            HGDIOBJ old_pen = SelectObject(dc, edge);
            for (std::size_t i : order) {
                const bv::Bounds& b = objects[i].bounds;
                COLORREF c = host_.is_selected(i) ? RGB(255, 160, 40) : entity_colour(objects[i].entity);
                HBRUSH fill = CreateSolidBrush(c);
                HGDIOBJ old_brush = SelectObject(dc, fill);
                SelectObject(dc, host_.is_active(i) ? active : edge);
                int l = px(b.min_x), r = std::max(px(b.max_x), l + 2);
                int t = py(b.max_y), bt = std::max(py(b.min_y), t + 2);
                Rectangle(dc, l, t, r, bt);
                SelectObject(dc, old_brush);
                DeleteObject(fill);
            }
            SelectObject(dc, old_pen);
            DeleteObject(edge);
            DeleteObject(active);
        }
    }
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ old = SelectObject(dc, font_);
    RECT label = area;
    InflateRect(&label, -6, -4);
    DrawTextW(dc, L"Plan", -1, &label, DT_LEFT | DT_TOP | DT_SINGLELINE);
    SelectObject(dc, old);
    host_.notify_draw();
}

// ---- WM_COPYDATA ----------------------------------------------------------------------------

LRESULT ViewerApp::on_copydata(WPARAM wparam, const COPYDATASTRUCT* cds) {
    ++copydata_count_;
    json e = {{"event", "copydata"}, {"count", copydata_count_}, {"sender", std::uint64_t(wparam)}};
    if (cds == nullptr) {
        e["dwData"] = nullptr;
        e["cbData"] = nullptr;
        e["text"] = nullptr;
    } else {
        e["dwData"] = std::uint64_t(cds->dwData);
        e["cbData"] = cds->cbData;
        if (cds->lpData == nullptr) {
            e["text"] = nullptr;
        } else {
            const char* bytes = static_cast<const char*>(cds->lpData);
            std::size_t n = 0;
            while (n < cds->cbData && bytes[n] != 0) ++n;
            bool cut = n > copydata_text_limit;
            e["text"] = latin1_to_utf8(std::string_view(bytes, cut ? copydata_text_limit : n));
            if (cut) e["truncated"] = true;
        }
    }
    e["result"] = copydata_result;
    log_.write(e);
    if (waiting_ == Waiting::requests && !step_pending_) check_wait();
    return copydata_result;
}

// ---- window procedures ----------------------------------------------------------------------

LRESULT CALLBACK ViewerApp::main_proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    try {
        if (g_app) return g_app->on_main(h, m, wp, lp);
    } catch (...) {
        report_internal_error();
    }
    return m == WM_COPYDATA ? copydata_result : DefWindowProcW(h, m, wp, lp);
}

LRESULT CALLBACK ViewerApp::ribbon_proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    try {
        if (g_app) return g_app->on_ribbon(h, m, wp, lp);
    } catch (...) {
        report_internal_error();
    }
    return DefWindowProcW(h, m, wp, lp);
}

LRESULT CALLBACK ViewerApp::view_proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    try {
        if (g_app) return g_app->on_view(h, m, wp, lp);
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
        if (hdr->code == LVN_GETDISPINFOW) {
            auto* di = reinterpret_cast<NMLVDISPINFOW*>(lp);
            if ((di->item.mask & LVIF_TEXT) && model_ && di->item.iItem >= 0 &&
                static_cast<std::size_t>(di->item.iItem) < model_->size()) {
                const ModelObject& o = model_->objects()[static_cast<std::size_t>(di->item.iItem)];
                const std::u16string* cols[] = {&o.guid, &o.name, &o.entity, &o.object_type};
                int sub = di->item.iSubItem;
                di->item.pszText = const_cast<wchar_t*>(sub >= 0 && sub < 4 ? w(*cols[sub]) : L"");
            }
            return 0;
        }
        if (hdr->code == NM_CUSTOMDRAW) {
            // Selected rows stand out whether or not the list has the focus; active rows in red.
            auto* cd = reinterpret_cast<NMLVCUSTOMDRAW*>(lp);
            if (cd->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
            if (cd->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
                auto i = static_cast<std::size_t>(cd->nmcd.dwItemSpec);
                if (host_.is_selected(i)) {
                    cd->nmcd.uItemState &= ~(CDIS_SELECTED | CDIS_FOCUS);
                    cd->clrTextBk = RGB(255, 196, 112);
                    cd->clrText = host_.is_active(i) ? RGB(170, 0, 0) : RGB(0, 0, 0);
                }
                return CDRF_DODEFAULT;
            }
            return CDRF_DODEFAULT;
        }
        bool selection = false;
        if (hdr->code == LVN_ITEMCHANGED) {
            const auto* nm = reinterpret_cast<const NMLISTVIEW*>(lp);
            selection = (nm->uChanged & LVIF_STATE) &&
                        ((nm->uNewState ^ nm->uOldState) & LVIS_SELECTED);
        } else if (hdr->code == LVN_ODSTATECHANGED) {
            const auto* nm = reinterpret_cast<const NMLVODSTATECHANGE*>(lp);
            selection = ((nm->uNewState ^ nm->uOldState) & LVIS_SELECTED) != 0;
        }
        if (selection && syncing_list_ == 0 && !list_sync_posted_) {
            list_sync_posted_ = true;
            PostMessageW(main_, msg_list_selection, 0, 0);
        }
        return 0;
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

LRESULT ViewerApp::on_ribbon(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    switch (m) {
    case WM_COMMAND:
        if (HIWORD(wp) == BN_CLICKED) {
            std::size_t i = LOWORD(wp) - first_button_control;
            if (i < host_.buttons().size()) host_.click_button(i, "user");
            return 0;
        }
        break;
    case WM_DRAWITEM:
        draw_ribbon_button(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp));
        return TRUE;
    case WM_CTLCOLORSTATIC: {
        static HBRUSH brush = CreateSolidBrush(RGB(232, 238, 247));
        SetBkColor(reinterpret_cast<HDC>(wp), RGB(232, 238, 247));
        return reinterpret_cast<LRESULT>(brush);
    }
    default:
        break;
    }
    return DefWindowProcW(h, m, wp, lp);
}

LRESULT ViewerApp::on_view(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        RECT rc;
        GetClientRect(h, &rc);
        paint_view(dc, rc);
        EndPaint(h, &ps);
        return 0;
    }
    if (m == WM_ERASEBKGND) return 1;
    return DefWindowProcW(h, m, wp, lp);
}

// ---- script ---------------------------------------------------------------------------------

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
        host_.click_button(a.number, "script");
        return;
    case ActionKind::select:
        if (!do_select(a)) return;
        break;
    case ActionKind::drag:
        post_next_step();
        drag_enter("script");
        return;
    case ActionKind::wait_requests:
        waiting_ = Waiting::requests;
        wait_target_ = a.number;
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
    if (waiting_ == Waiting::requests && copydata_count_ >= wait_target_) {
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
    if (waiting_ == Waiting::requests) {
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
        std::size_t i = Model::npos;
        if (model_ && item.size() > 1 && item[0] == u'#') {
            std::uint64_t id = 0;
            bool digits = true;
            for (std::size_t k = 1; k < item.size(); ++k) {
                digits &= item[k] >= u'0' && item[k] <= u'9';
                id = id * 10 + static_cast<std::uint64_t>(item[k] - u'0');
            }
            if (digits) i = model_->index_of(id);
        } else if (model_) {
            i = model_->index_of_guid(item);
        }
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

bool ViewerApp::do_screenshot(const std::u16string& path) {
    RedrawWindow(main_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT rc;
    GetWindowRect(main_, &rc);
    int width = rc.right - rc.left, height = rc.bottom - rc.top;
    if (width <= 0 || height <= 0) {
        error("screenshot: the window has no size");
        return false;
    }
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bmp != nullptr;
    Image img;
    if (ok) {
        HGDIOBJ old = SelectObject(mem, bmp);
        ok = BitBlt(mem, 0, 0, width, height, screen, rc.left, rc.top, SRCCOPY) != 0;
        GdiFlush();
        if (ok) {
            img.width = static_cast<std::uint32_t>(width);
            img.height = static_cast<std::uint32_t>(height);
            const auto* px = static_cast<const std::uint32_t*>(bits);
            img.pixels.assign(px, px + static_cast<std::size_t>(width) * height);
            for (auto& p : img.pixels) p &= 0x00FFFFFF;
        }
        SelectObject(mem, old);
        DeleteObject(bmp);
    }
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    if (!ok) {
        error("screenshot: cannot copy the window");
        return false;
    }
    std::vector<std::uint8_t> bytes = is_png_path(path) ? encode_png(img) : encode_bmp(img);
    if (!write_whole_file(path, bytes)) {
        error("screenshot: cannot write \"" + utf8(path) + "\"");
        return false;
    }
    log_.write({{"event", "screenshot"}, {"path", utf8(path)}, {"width", width},
                {"height", height}});
    return true;
}

void ViewerApp::finish(int code) {
    if (finished_) return;
    if (code == exit_ok && !options_.screenshot.empty() && !do_screenshot(options_.screenshot))
        code = exit_script_failed;
    finished_ = true;
    exit_code_ = code;
    KillTimer(main_, timer_poll);
    KillTimer(main_, timer_sleep);
    host_.log_final_state();
    PostQuitMessage(code);
}

}  // namespace bvs
