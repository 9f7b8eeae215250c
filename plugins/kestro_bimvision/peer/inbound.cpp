#include "peer/inbound.h"

#include <cstring>
#include <string>
#include <vector>

#include "core/fp_guard.h"
#include "elements/text.h"
#include "host_table.h"
#include "peer/diagnostics.h"

namespace kb {

namespace {

constexpr std::u16string_view guid_name = u"Guid";

/// The GUID text of a WM_COPYDATA: the bytes up to the first NUL, never past cbData. False when
/// there is nothing to read (no record, or no data pointer).
bool read_guid_text(std::intptr_t lparam, std::string_view& text) {
    const auto* cds = reinterpret_cast<const platform::CopyData*>(lparam);
    if (cds == nullptr || cds->bytes == nullptr) return false;
    const char* bytes = static_cast<const char*>(cds->bytes);
    const void* nul = cds->size == 0 ? nullptr : std::memchr(bytes, '\0', cds->size);
    std::size_t length = nul == nullptr ? cds->size : static_cast<const char*>(nul) - bytes;
    text = std::string_view(bytes, length);
    return true;
}

/// A "Guid" property with a present text value equal to `guid`.
bool carries_guid(const bv::Property& p, std::u16string_view guid) {
    if (p.name == nullptr || std::u16string_view(p.name) != guid_name) return false;
    if (p.value_type != 0) return false;  // a number is never a GUID
    const char16_t* value = bv::property_text(p);
    return value != nullptr && std::u16string_view(value) == guid;
}

bool object_carries_guid(std::uint32_t plugin_id, bv::ObjectId object, std::u16string_view guid,
                         std::vector<bv::Property>& propiedades) {
    auto sets = static_cast<std::uint32_t>(host::get_property_sets(plugin_id, object, nullptr, 0u));
    for (std::uint32_t j = 0; j < sets; ++j) {
        bv::PropertyGroupKey pg{object, j, 0};
        auto c = static_cast<std::uint32_t>(host::get_properties(plugin_id, &pg, nullptr, 0u));
        propiedades.assign(c, bv::Property{});
        if (c > 0) host::get_properties(plugin_id, &pg, propiedades.data(), c);
        for (const bv::Property& p : propiedades)
            if (carries_guid(p, guid)) return true;
    }
    return false;
}

}  // namespace

platform::MessageResult plugin_window_proc(Plugin& plugin, platform::WindowHandle window,
                                           std::uint32_t message, std::uintptr_t wparam,
                                           std::intptr_t lparam) {
    if (message == platform::copy_data_message) {
        // The request runs under the module's floating-point settings; the message then goes on
        // to the host's procedure under the host's own.
        FloatingPointGuard fp;
        std::string_view identificadorObjeto;
        if (read_guid_text(lparam, identificadorObjeto)) {
            try {
                select_element_by_guid(plugin, identificadorObjeto);
            } catch (...) {
                // Out of memory while searching: the request is dropped, the message goes on.
                Diagnostic(plugin).text(u"GUID request dropped: out of memory");
            }
        } else {
            Diagnostic(plugin).text(u"GUID request without data: passed on");
        }
    }
    platform::WindowProc previous = plugin.state.previous_window_proc;
    if (previous == nullptr) return 0;
    return plugin.platform.windows.call_window_proc(previous, window, message, wparam, lparam);
}

void select_element_by_guid(Plugin& plugin, std::string_view text) {
    const std::uint32_t plugin_id = plugin.state.plugin_id;
    const bv::ObjectId selected = plugin.state.selected_id;

    host::select(plugin_id, selected, false);
    host::set_object_active(plugin_id, selected, false, false);
    host::invalidate(plugin_id);

    auto n = static_cast<std::uint32_t>(host::get_all_objects(plugin_id, nullptr, 0u));
    const std::u16string identificador = widen_bytes(text);

    // A list of the request's own: a transfer waiting in its send may be holding another.
    std::vector<bv::ObjectId> ids(n, 0);
    if (n == 0) {
        Diagnostic(plugin).text(u"GUID request of ").number(text.size())
            .text(u" bytes: the model has no objects");
        return;
    }
    host::get_all_objects(plugin_id, ids.data(), n);

    std::vector<bv::Property> propiedades;
    // The id is copied out before the host calls, which may re-enter the plugin.
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const bv::ObjectId object = ids[i];
        if (!object_carries_guid(plugin_id, object, identificador, propiedades)) continue;
        host::select(plugin_id, object, true);
        host::set_object_active(plugin_id, object, true, false);
        host::unselect_openings(plugin_id, object);
        host::zoom_to(plugin_id, object);
        host::invalidate(plugin_id);
        Diagnostic(plugin).text(u"GUID request of ").number(text.size())
            .text(u" bytes: found object ").number(object);
        return;
    }
    Diagnostic(plugin).text(u"GUID request of ").number(text.size())
        .text(u" bytes: no object carries it");
}

}  // namespace kb
