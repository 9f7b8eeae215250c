// Inbound GUID request: KESTRO asks the viewer to select one element.
#pragma once

#include <string_view>

#include "core/plugin.h"

namespace kb {

/// The subclass procedure's work: a WM_COPYDATA is taken as a GUID request, then every message
/// goes on to the previous window procedure and its result is returned.
platform::MessageResult plugin_window_proc(Plugin& plugin, platform::WindowHandle window,
                                           std::uint32_t message, std::uintptr_t wparam,
                                           std::intptr_t lparam);

/// Clears the selection, then selects, activates and zooms to the first object whose "Guid"
/// property equals `text` (each byte taken as the code unit of the same value).
void select_element_by_guid(Plugin& plugin, std::string_view text);

}  // namespace kb
