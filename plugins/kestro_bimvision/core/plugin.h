// The foundation of the plugin: the state that outlives a call, the request codes and the element
// lists of a transfer. elements/, peer/ and shell/ build on it; it knows only the platform seam.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_records.h"
#include "platform/platform.h"

namespace kb {

/// Why a transfer happens; handed from the trigger to the collector and the record builder, and
/// written into every element record. Plain numbers, not messages.
inline constexpr std::int32_t REQUEST_SELECTION = 0x400;
inline constexpr std::int32_t REQUEST_DRAG = 0x401;
inline constexpr std::int32_t REQUEST_UPDATE = 0x402;

/// What must outlive a call; zero until the notification that sets each field.
struct PluginState {
    std::uint32_t plugin_id = 0;
    platform::WindowHandle main_window = nullptr;
    platform::ModuleHandle module_handle = nullptr;
    bv::ObjectId selected_id = 0;
    platform::WindowProc previous_window_proc = nullptr;
};

/// The ObjectId list and the five parallel text lists filled by collect_elements, one entry per
/// object that becomes a record. Each transfer owns its own and releases them once its records
/// are built.
struct ElementLists {
    std::vector<bv::ObjectId> ids;
    std::vector<std::u16string> guid, texto, entidad, tipo, propiedad;
};

/// Everything the plugin keeps between calls.
struct Plugin {
    explicit Plugin(platform::Platform& p) : platform(p) {}
    platform::Platform& platform;
    PluginState state;
    /// The window whose procedure this plugin replaced, or null when no subclass is in place.
    platform::WindowHandle subclassed_window = nullptr;
    /// A transfer is under way, from collecting to the return of its send: while it waits in the
    /// send, messages that reach the viewer may fire other triggers, which then send nothing.
    bool transfer_under_way = false;
};

}  // namespace kb
