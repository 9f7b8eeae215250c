// The plan view: the objects' bounds seen from above (src/plan_layout works out where), selected
// ones in orange, active ones framed in red. Every paint calls the plugin's draw handler.
#include "plan_layout.h"
#include "viewer_app.h"
#include "window_common.h"

namespace bvs {

void ViewerApp::paint_view(HDC dc, const RECT& area) {
    HBRUSH back = CreateSolidBrush(RGB(250, 250, 246));
    FillRect(dc, &area, back);
    DeleteObject(back);
    if (model_) {
        const PlanRect plan{static_cast<int>(area.left), static_cast<int>(area.top),
                            static_cast<int>(area.right), static_cast<int>(area.bottom)};
        const std::vector<PlanBox> boxes = plan_layout(*model_, plan);
        if (!boxes.empty()) {
            HPEN edge = CreatePen(PS_SOLID, 1, RGB(90, 90, 90));
            HPEN active = CreatePen(PS_SOLID, 3, RGB(200, 30, 30));
            HGDIOBJ old_pen = SelectObject(dc, edge);
            for (const PlanBox& box : boxes) {
                const std::size_t i = box.index;
                COLORREF c = host_.is_selected(i) ? RGB(255, 160, 40)
                                                  : entity_colour(model_->objects()[i].entity);
                HBRUSH fill = CreateSolidBrush(c);
                HGDIOBJ old_brush = SelectObject(dc, fill);
                SelectObject(dc, host_.is_active(i) ? active : edge);
                Rectangle(dc, box.rect.left, box.rect.top, box.rect.right, box.rect.bottom);
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

// HostObserver: the plugin asked for a repaint.
void ViewerApp::invalidate_view() {
    if (view_) InvalidateRect(view_, nullptr, FALSE);
}

}  // namespace bvs
