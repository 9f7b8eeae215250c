#include "peer/transfer.h"
namespace kb {
void handle_button_click(Plugin&) {}
void handle_selection_change(Plugin&) {}
void handle_drag_enter(Plugin&) {}
bool transfer_to_peer_window(Plugin&, platform::WindowHandle, platform::ProcessId) { return false; }
}  // namespace kb
