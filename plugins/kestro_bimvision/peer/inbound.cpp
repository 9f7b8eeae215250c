#include "peer/inbound.h"
namespace kb {
platform::MessageResult plugin_window_proc(Plugin& plugin, platform::WindowHandle window,
                                           std::uint32_t message, std::uintptr_t wparam,
                                           std::intptr_t lparam) {
    return plugin.platform.windows.call_window_proc(plugin.state.previous_window_proc, window,
                                                    message, wparam, lparam);
}
void select_element_by_guid(Plugin&, std::string_view) {}
}  // namespace kb
