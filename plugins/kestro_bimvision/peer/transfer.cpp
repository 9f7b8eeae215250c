#include "peer/transfer.h"

#include <new>

#include "elements/collector.h"
#include "elements/element_record.h"
#include "peer/discovery.h"
#include "shell/fp_guard.h"

namespace kb {

namespace {

const char16_t no_peer_text[] = u"Debe ejecutar el progrma KESTRO";
const char16_t too_large_text[] = u"El modelo es demasiado grande para enviarlo a KESTRO";
const char16_t error_caption[] = u"Error";
constexpr std::uint32_t plain_message_box = 0;  // one OK button, no icon

/// What the window enumeration hands back to the visitor with every window.
struct TransferContext {
    Plugin* plugin;
    platform::ProcessId peer;
};

// Runs inside the system's window enumeration: nothing may unwind out of it. A failure stops
// the enumeration, as the peer's first window has then been reached.
bool visit_window(platform::WindowHandle window, std::uintptr_t context) noexcept {
    FloatingPointGuard fp;
    try {
        auto* transfer = reinterpret_cast<TransferContext*>(context);
        return transfer_to_peer_window(*transfer->plugin, window, transfer->peer);
    } catch (...) {
        return false;
    }
}

void tell_user(Plugin& plugin, const char16_t* text) {
    plugin.platform.windows.message_box(plugin.state.main_window, text, error_caption,
                                        plain_message_box);
}

void run_transfer(Plugin& plugin, std::int32_t request_code, bool from_button) {
    platform::ProcessId peer = find_peer_process(plugin);
    if (peer == 0) {
        if (from_button) tell_user(plugin, no_peer_text);
        return;
    }
    plugin.state.request_code = request_code;
    TransferContext context{&plugin, peer};
    plugin.platform.windows.enum_windows(&visit_window,
                                         reinterpret_cast<std::uintptr_t>(&context));
}

}  // namespace

void handle_button_click(Plugin& plugin) { run_transfer(plugin, REQUEST_UPDATE, true); }

void handle_selection_change(Plugin& plugin) { run_transfer(plugin, REQUEST_SELECTION, false); }

void handle_drag_enter(Plugin& plugin) { run_transfer(plugin, REQUEST_DRAG, false); }

bool transfer_to_peer_window(Plugin& plugin, platform::WindowHandle window,
                             platform::ProcessId peer) {
    if (plugin.platform.windows.window_process_id(window) != peer) return true;

    const bool update = plugin.state.request_code == REQUEST_UPDATE;
    RecordBlock block;
    try {
        collect_elements(plugin);
        if (!update && plugin.lists.guid.empty()) return false;
        block = build_element_records(plugin);
    } catch (...) {
        // Memory ran out, or the host reported more objects or properties than can be held.
        block = RecordBlock{};
        block.ok = false;
    }
    if (!block.ok) {
        // Only the button has a user waiting for an answer.
        if (update) tell_user(plugin, too_large_text);
        return false;
    }

    if (update || block.count >= 1) {
        platform::CopyData cds{block.count, block.total, block.bytes.get()};
        plugin.platform.windows.send_copy_data(window, plugin.state.main_window, cds);
    }
    // The block is released here, once the send has returned; the peer has its own copy.
    return false;
}

}  // namespace kb
