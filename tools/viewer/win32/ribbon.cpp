// The ribbon strip: one owner-drawn button per create_button, with the icon and tooltip the plugin
// gave it, and beside them the status text (plugin, model, selection count).
#include "viewer_app.h"

#include <commctrl.h>

#include "window_common.h"

namespace bvs {

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

LRESULT ViewerApp::on_ribbon(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    switch (m) {
    case WM_COMMAND:
        if (HIWORD(wp) == BN_CLICKED) {
            std::size_t i = LOWORD(wp) - first_button_control;
            if (i < host_.buttons().size()) click(i, "user");
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

}  // namespace bvs
