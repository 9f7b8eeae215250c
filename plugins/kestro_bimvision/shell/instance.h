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

/// The module's process-wide objects (the system's side of the platform and the plugin
/// instance): the module's entry point makes them at process attach and hands them to the shell,
/// which releases them at detach when nothing refers to them any more.
class ModuleObjects {
public:
    virtual ~ModuleObjects() = default;
    virtual Plugin& plugin() = 0;
};

/// Process attach, as the module's entry point runs it: takes `objects` (made with new, not
/// null), makes their plugin the active instance, binds the host table and keeps the module
/// handle.
void on_process_attach(ModuleObjects* objects, platform::ModuleHandle module,
                       bv::HostResolver resolve, void* resolver_context);

/// Process detach. At a FreeLibrary (`process_ending` false) of a module with no subclass in
/// place, clears the active instance and releases the objects. A module that keeps its subclass
/// was pinned as it went in, so it comes here only as the process ends, and then the objects
/// stay: the host's main window may still call the plugin's procedure after the run-time has
/// run its destructors.
void on_process_detach(bool process_ending);

}  // namespace kb
