// The plugin instance the exported entry points and the host's handlers act on.
#pragma once

#include "core/plugin.h"
#include "host_table.h"

namespace kb {

/// The instance in use; null before attach. The DLL sets it at process attach; native tests set
/// their own.
Plugin* active_plugin();
void set_active_plugin(Plugin* plugin);

/// Handlers handed to the host; each runs its work on the active instance and lets no
/// exception out.
void handler_button_click();
void handler_selection_change();
void handler_draw();
void handler_model_load();

/// The subclass window procedure installed on the host's main window.
platform::MessageResult KB_STDCALL window_proc_trampoline(platform::WindowHandle window,
                                                          std::uint32_t message,
                                                          std::uintptr_t wparam,
                                                          std::intptr_t lparam);

/// Attach notification: binds the host table (once) and keeps the module handle.
void on_process_attach(Plugin& plugin, platform::ModuleHandle module, bv::HostResolver resolve,
                       void* resolver_context);

}  // namespace kb
