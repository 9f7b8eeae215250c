#include "peer/transfer.h"

#include <new>
#include <string>
#include <string_view>

#include "core/fp_guard.h"
#include "elements/collector.h"
#include "elements/element_record.h"
#include "elements/text.h"
#include "peer/diagnostics.h"
#include "peer/discovery.h"
#include "peer/progress.h"

namespace kb {

namespace {

const char16_t no_peer_text[] = u"Debe ejecutar el progrma KESTRO";
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

// A system error code as the system's own tools print it: plain decimal digits.
std::u16string decimal(std::uint32_t value) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

// Megabytes of `records` records, rounded: "617" for 50,000.
std::u16string megabytes(std::uint64_t records) {
    return format_grouped((records * element_record_size + 500000) / 1000000);
}

std::u16string block_not_had_text(std::uint64_t records) {
    return u"El modelo tiene " + format_grouped(records) + u" elementos (" + megabytes(records) +
           u" MB): el visor no puede reservar la memoria para enviarlos a KESTRO de una vez. "
           u"Puede enviar una parte: seleccione elementos y arr\u00E1strelos al visor.";
}

// What a failed send's error code means, as the user reads it.
std::u16string_view send_failure_reason(std::uint32_t error) {
    switch (error) {
        case 8:   // ERROR_NOT_ENOUGH_MEMORY
        case 14:  // ERROR_OUTOFMEMORY
            return u"se agot\u00F3 la memoria al entregar el mensaje";
        case 1450:  // ERROR_NO_SYSTEM_RESOURCES
        case 1455:  // ERROR_COMMITMENT_LIMIT
        case 1816:  // ERROR_NOT_ENOUGH_QUOTA
            return u"faltan recursos del sistema para entregar el mensaje";
        default:
            return u"el sistema no pudo entregar el mensaje";
    }
}

std::u16string not_taken_text(std::uint64_t records, std::uint32_t error) {
    return u"KESTRO no ha aceptado los datos del visor (" + format_grouped(records) +
           u" elementos, " + megabytes(records) + u" MB): " +
           std::u16string(send_failure_reason(error)) +
           u". C\u00F3digo de error del sistema: " + std::u16string(decimal(error)) + u".";
}

std::u16string peer_gone_text(std::uint64_t records) {
    return u"KESTRO se cerr\u00F3 o fall\u00F3 mientras recib\u00EDa los datos (" +
           format_grouped(records) +
           u" elementos). Vuelva a abrir KESTRO y repita la actualizaci\u00F3n.";
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
    bool stopped = false;
    bool attempted = false;
    std::size_t entries = 0;
    std::size_t wanted = 0;
    std::uint32_t count = 0;
    std::uint32_t total = 0;
    platform::SendResult sent;
    // Only the button has a user waiting: a selection change or a drag shows no progress.
    UpdateProgress progress(plugin, update);
    {
        // The record block belongs to this transfer and is released when it ends, once the send
        // has returned (the peer has its own copy). The element lists are released as soon as
        // the block is built: nothing after that needs them, and the send may wait long.
        TransferUnderWay under_way(plugin);
        RecordBlock block;
        try {
            ElementLists lists;
            stopped = !collect_elements(plugin, request_code, lists, &progress);
            entries = lists.guid.size();
            if (!stopped && (update || entries != 0))
                block = build_element_records(plugin, request_code, lists);
        } catch (...) {
            // Memory ran out, or the host reported more objects or properties than can be held:
            // how many records the model would have made is not known, its objects are.
            block = RecordBlock{};
            block.ok = false;
            block.wanted = progress.objects_total();
        }
        built = block.ok;
        wanted = block.wanted;
        count = block.count;
        total = block.total;
        if (!stopped && built && (update || block.count >= 1)) {
            attempted = true;
            progress.receiving(block.count);
            platform::CopyData cds{block.count, block.total, block.bytes.get()};
            sent = plugin.platform.windows.send_copy_data(window, plugin.state.main_window, cds,
                                                          platform::copy_data_timeout_ms);
        }
    }
    // Gone before anything is said, and before the handler returns.
    progress.close();

    if (stopped) {
        // The user pressed "Cancelar" while the objects were read: nothing left the viewer, and
        // the user, who asked for it, is told nothing more.
        Diagnostic(plugin).text(u"transfer stopped: trigger ").text(trigger_name(request_code))
            .text(u", cancelled by the user after ").number(progress.objects_done())
            .text(u" of ").number(progress.objects_total()).text(u" objects read, nothing sent");
        return false;
    }

    if (!built) {
        Diagnostic(plugin).text(u"transfer stopped: trigger ").text(trigger_name(request_code))
            .text(u", ").number(entries).text(u" entries, ").number(wanted)
            .text(u" records wanted, the records could not be built");
        // Only the button has a user waiting for an answer.
        if (update) tell_user(plugin, block_not_had_text(wanted).c_str());
        return false;
    }
    if (!attempted) {
        Diagnostic(plugin).text(u"transfer: trigger ").text(trigger_name(request_code))
            .text(u", nothing to send (").number(entries).text(u" entries)");
        return false;
    }

    // A send that did not arrive: whether KESTRO's window and process are still there tells a
    // peer that ended while taking it from one that refused it or could not take it. The
    // system's error alone does not (Wine refuses a send to a peer that dies with
    // ERROR_ACCESS_DENIED).
    const bool delivered = sent.outcome == platform::SendOutcome::delivered;
    const bool peer_gone = !delivered && (!plugin.platform.windows.is_window(window) ||
                                          !plugin.platform.processes.process_running(peer));
    std::u16string tell;
    {
        Diagnostic line(plugin);
        line.text(u"transfer: trigger ").text(trigger_name(request_code)).text(u", window ")
            .handle(window).text(u", ").number(count).text(u" records, ").number(total)
            .text(u" bytes: ");
        if (peer_gone) {
            line.text(u"not taken, KESTRO closed or failed while taking it (error ")
                .number(sent.error).text(u")");
            tell = peer_gone_text(count);
        } else {
            switch (sent.outcome) {
                case platform::SendOutcome::delivered:
                    line.text(u"delivered, answer ")
                        .number(static_cast<std::uintptr_t>(sent.answer));
                    break;
                case platform::SendOutcome::timed_out:
                    line.text(u"not sent, KESTRO is hung or timed out (error ")
                        .number(sent.error).text(u")");
                    tell = hung_text;
                    break;
                case platform::SendOutcome::access_denied:
                    line.text(u"refused, KESTRO runs with higher rights (error ")
                        .number(sent.error).text(u")");
                    tell = refused_text;
                    break;
                case platform::SendOutcome::failed:
                    line.text(u"failed (error ").number(sent.error).text(u")");
                    tell = not_taken_text(count, sent.error);
                    break;
            }
        }
    }
    // Only the button has a user waiting for an answer; selection changes and drags stay silent.
    if (update && !tell.empty()) tell_user(plugin, tell.c_str());
    return false;
}

}  // namespace kb
