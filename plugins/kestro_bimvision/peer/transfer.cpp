#include "peer/transfer.h"

#include <new>

#include "core/fp_guard.h"
#include "elements/collector.h"
#include "elements/element_record.h"
#include "peer/diagnostics.h"
#include "peer/discovery.h"

namespace kb {

namespace {

const char16_t no_peer_text[] = u"Debe ejecutar el progrma KESTRO";
const char16_t too_large_text[] = u"El modelo es demasiado grande para enviarlo a KESTRO";
const char16_t hung_text[] =
    u"KESTRO no responde. Int\u00E9ntelo de nuevo cuando termine la operaci\u00F3n en curso.";
const char16_t refused_text[] =
    u"KESTRO se est\u00E1 ejecutando con permisos de administrador y no acepta datos del visor. "
    u"Ejecute ambos programas con los mismos permisos.";
const char16_t error_caption[] = u"Error";
constexpr std::uint32_t plain_message_box = 0;  // one OK button, no icon

/// What the window enumeration hands back to the visitor with every window.
struct TransferContext {
    Plugin* plugin;
    std::int32_t request_code;
    platform::ProcessId peer;
    bool reached = false;  // the peer's window was found
};

/// Marks a transfer as under way for as long as it lives, however the scope is left.
class TransferUnderWay {
public:
    explicit TransferUnderWay(Plugin& plugin) : plugin_(plugin) {
        plugin_.transfer_under_way = true;
    }
    TransferUnderWay(const TransferUnderWay&) = delete;
    TransferUnderWay& operator=(const TransferUnderWay&) = delete;
    ~TransferUnderWay() { plugin_.transfer_under_way = false; }

private:
    Plugin& plugin_;
};

// Runs inside the system's window enumeration: nothing may unwind out of it. A failure stops
// the enumeration, as the peer's first window has then been reached.
bool visit_window(platform::WindowHandle window, std::uintptr_t context) noexcept {
    FloatingPointGuard fp;
    auto* transfer = reinterpret_cast<TransferContext*>(context);
    try {
        const bool go_on = transfer_to_peer_window(*transfer->plugin, transfer->request_code,
                                                   window, transfer->peer);
        if (!go_on) transfer->reached = true;
        return go_on;
    } catch (...) {
        transfer->reached = true;
        return false;
    }
}

void tell_user(Plugin& plugin, const char16_t* text) {
    plugin.platform.windows.message_box(plugin.state.main_window, text, error_caption,
                                        plain_message_box);
}

void run_transfer(Plugin& plugin, std::int32_t request_code, bool from_button) {
    if (plugin.transfer_under_way) {
        // Reached from inside a send (a message that came in while it waits): the transfer under
        // way goes on with its own request code and peer, and this trigger sends nothing.
        Diagnostic(plugin).text(u"transfer skipped: trigger ").text(trigger_name(request_code))
            .text(u", another transfer is under way");
        return;
    }
    platform::ProcessId peer = find_peer_process(plugin);
    if (peer == 0) {
        if (from_button) tell_user(plugin, no_peer_text);
        return;
    }
    TransferContext context{&plugin, request_code, peer};
    plugin.platform.windows.enum_windows(&visit_window,
                                         reinterpret_cast<std::uintptr_t>(&context));
    if (!context.reached)
        Diagnostic(plugin).text(u"transfer skipped: trigger ").text(trigger_name(request_code))
            .text(u", peer process ").number(peer).text(u" has no top-level window");
}

}  // namespace

void handle_button_click(Plugin& plugin) { run_transfer(plugin, REQUEST_UPDATE, true); }

void handle_selection_change(Plugin& plugin) { run_transfer(plugin, REQUEST_SELECTION, false); }

void handle_drag_enter(Plugin& plugin) { run_transfer(plugin, REQUEST_DRAG, false); }

bool transfer_to_peer_window(Plugin& plugin, std::int32_t request_code,
                             platform::WindowHandle window, platform::ProcessId peer) {
    if (plugin.platform.windows.window_process_id(window) != peer) return true;

    const bool update = request_code == REQUEST_UPDATE;
    bool built = true;
    bool attempted = false;
    std::size_t entries = 0;
    std::uint32_t count = 0;
    std::uint32_t total = 0;
    platform::SendResult sent;
    {
        // The record block belongs to this transfer and is released when it ends, once the send
        // has returned (the peer has its own copy). The element lists are released as soon as
        // the block is built: nothing after that needs them, and the send may wait long.
        TransferUnderWay under_way(plugin);
        RecordBlock block;
        try {
            ElementLists lists;
            collect_elements(plugin, request_code, lists);
            entries = lists.guid.size();
            if (update || entries != 0) block = build_element_records(plugin, request_code, lists);
        } catch (...) {
            // Memory ran out, or the host reported more objects or properties than can be held.
            block = RecordBlock{};
            block.ok = false;
        }
        built = block.ok;
        count = block.count;
        total = block.total;
        if (built && (update || block.count >= 1)) {
            attempted = true;
            platform::CopyData cds{block.count, block.total, block.bytes.get()};
            sent = plugin.platform.windows.send_copy_data(window, plugin.state.main_window, cds,
                                                          platform::copy_data_timeout_ms);
        }
    }

    if (!built) {
        Diagnostic(plugin).text(u"transfer stopped: trigger ").text(trigger_name(request_code))
            .text(u", ").number(entries).text(u" entries, the records could not be built");
        // Only the button has a user waiting for an answer.
        if (update) tell_user(plugin, too_large_text);
        return false;
    }
    if (!attempted) {
        Diagnostic(plugin).text(u"transfer: trigger ").text(trigger_name(request_code))
            .text(u", nothing to send (").number(entries).text(u" entries)");
        return false;
    }

    const char16_t* tell = nullptr;
    {
        Diagnostic line(plugin);
        line.text(u"transfer: trigger ").text(trigger_name(request_code)).text(u", window ")
            .handle(window).text(u", ").number(count).text(u" records, ").number(total)
            .text(u" bytes: ");
        switch (sent.outcome) {
            case platform::SendOutcome::delivered:
                line.text(u"delivered, answer ")
                    .number(static_cast<std::uintptr_t>(sent.answer));
                break;
            case platform::SendOutcome::timed_out:
                line.text(u"not sent, KESTRO is hung or timed out (error ").number(sent.error)
                    .text(u")");
                tell = hung_text;
                break;
            case platform::SendOutcome::access_denied:
                line.text(u"refused, KESTRO runs with higher rights (error ").number(sent.error)
                    .text(u")");
                tell = refused_text;
                break;
            case platform::SendOutcome::failed:
                line.text(u"failed (error ").number(sent.error).text(u")");
                break;
        }
    }
    // Only the button has a user waiting for an answer; selection changes and drags stay silent.
    if (update && tell != nullptr) tell_user(plugin, tell);
    return false;
}

}  // namespace kb
