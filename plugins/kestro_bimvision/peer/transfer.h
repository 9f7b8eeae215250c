// Outbound transfer: the three triggers and the window-enumeration callback.
#pragma once

#include <cstdint>

#include "core/plugin.h"

namespace kb {

/// Ribbon button (REQUEST_UPDATE); tells the user when KESTRO does not run.
void handle_button_click(Plugin& plugin);
/// Selection change (REQUEST_SELECTION); silent when KESTRO does not run.
void handle_selection_change(Plugin& plugin);
/// The work of on_drag_enter (REQUEST_DRAG); silent when KESTRO does not run.
void handle_drag_enter(Plugin& plugin);

/// Called for each top-level window; at the peer's first window collects and builds the records
/// for `request_code` and sends them. Returns true to go on with the next window, false to stop.
bool transfer_to_peer_window(Plugin& plugin, std::int32_t request_code,
                             platform::WindowHandle window, platform::ProcessId peer);

}  // namespace kb
