// The object list: a virtual list view of the model's objects (Guid, Name, IfcEntity, ObjectType)
// whose selection is the host's. Selections made in the list go to the host and call the plugin's
// selection-change handler; selections the plugin makes through the host show in the list.
#include "viewer_app.h"

#include <commctrl.h>

#include "window_common.h"

namespace bvs {

void ViewerApp::set_up_list() {
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
}

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

LRESULT ViewerApp::on_list_notify(const NMHDR& hdr, LPARAM lp) {
    if (hdr.code == LVN_GETDISPINFOW) {
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
    if (hdr.code == NM_CUSTOMDRAW) {
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
    if (hdr.code == LVN_ITEMCHANGED) {
        const auto* nm = reinterpret_cast<const NMLISTVIEW*>(lp);
        selection = (nm->uChanged & LVIF_STATE) &&
                    ((nm->uNewState ^ nm->uOldState) & LVIS_SELECTED);
    } else if (hdr.code == LVN_ODSTATECHANGED) {
        const auto* nm = reinterpret_cast<const NMLVODSTATECHANGE*>(lp);
        selection = ((nm->uNewState ^ nm->uOldState) & LVIS_SELECTED) != 0;
    }
    // The list reads its selection once, after the changes of one user action have all arrived.
    if (selection && syncing_list_ == 0 && !list_sync_posted_) {
        list_sync_posted_ = true;
        PostMessageW(main_, msg_list_selection, 0, 0);
    }
    return 0;
}

// ---- HostObserver: what the plugin changed through the host ---------------------------------

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

void ViewerApp::zoom_to(std::size_t index) {
    ListView_EnsureVisible(list_, static_cast<int>(index), FALSE);
    InvalidateRect(view_, nullptr, FALSE);
}

}  // namespace bvs
