#include "record_list.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>

namespace monitor {

void create_children(MonitorWindow& w) {
    w.status = CreateWindowExW(0, STATUSCLASSNAMEW, status_waiting().c_str(), WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                               w.hwnd, nullptr, GetModuleHandleW(nullptr), nullptr);
    w.list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                             WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | LVS_SINGLESEL,
                             0, 0, 0, 0, w.hwnd, nullptr, GetModuleHandleW(nullptr), nullptr);
    ListView_SetExtendedListViewStyle(w.list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (int c = 0; c < column_count; ++c) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(columns[c].title);
        column.cx = columns[c].width;
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

void show_rows(MonitorWindow& w) {
    ListView_SetItemCountEx(w.list, static_cast<int>(w.rows.size()), LVSICF_NOSCROLL);
    InvalidateRect(w.list, nullptr, TRUE);
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

}  // namespace monitor
