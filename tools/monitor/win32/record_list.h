// The list of received records in a monitor window: a virtual list view whose cells come from
// the table (src/table.h); a double-click queues that row's GUID to be sent back.
#pragma once

#include "app.h"

namespace monitor {

/// Creates the window's list and status line.
void create_children(MonitorWindow& window);
/// Fits the list above the status line.
void layout(MonitorWindow& window);
/// Rows were added: the list shows them.
void show_rows(MonitorWindow& window);
/// WM_NOTIFY from the list.
LRESULT on_notify(MonitorWindow& window, NMHDR* header);

}  // namespace monitor
