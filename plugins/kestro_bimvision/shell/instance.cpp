#include "shell/instance.h"

#include "core/fp_guard.h"
#include "peer/inbound.h"
#include "peer/transfer.h"
#include "shell/setup.h"

namespace kb {

namespace {
Plugin* active = nullptr;
// Released only by on_process_detach: no destructor of the run-time may take them at process exit.
ModuleObjects* owned = nullptr;

// The host and the system call these from their own frames: a C++ exception must never unwind
// into them, and their floating-point state must come back as it was. The plugin's work throws
// only when memory runs out; the event is then dropped.
template <class Work>
void guarded(Work work) noexcept {
    FloatingPointGuard fp;
    try {
        if (active != nullptr) work(*active);
    } catch (...) {
    }
}
}  // namespace

Plugin* active_plugin() { return active; }
void set_active_plugin(Plugin* plugin) { active = plugin; }

void handler_button_click() { guarded(handle_button_click); }
void handler_selection_change() { guarded(handle_selection_change); }
void handler_draw() { guarded(handle_draw); }
void handler_model_load() { guarded(handle_model_load); }

platform::MessageResult KB_STDCALL window_proc_trampoline(platform::WindowHandle window,
                                                          std::uint32_t message,
                                                          std::uintptr_t wparam,
                                                          std::intptr_t lparam) {
    // No floating-point guard here: every message of the host's main window passes through, and
    // the host's own procedure must run under the host's own settings. plugin_window_proc guards
    // the plugin's part of the work only.
    if (active == nullptr) return 0;
    try {
        return plugin_window_proc(*active, window, message, wparam, lparam);
    } catch (...) {
        // plugin_window_proc keeps a failed GUID search to itself and always passes the message
        // on; anything arriving here came from the procedures below, so it is not sent again.
        return 0;
    }
}

void on_process_attach(ModuleObjects* objects, platform::ModuleHandle module,
                       bv::HostResolver resolve, void* resolver_context) {
    owned = objects;
    Plugin& plugin = objects->plugin();
    active = &plugin;
    bv::bind_host_functions(bv::host_table(), resolve, resolver_context);
    plugin.state.module_handle = module;
}

void on_process_detach(bool process_ending) {
    if (process_ending || owned == nullptr) return;
    // Pinned as the subclass went in, so here only if the pin failed: the window still calls in.
    if (owned->plugin().subclassed_window != nullptr) return;
    active = nullptr;
    delete owned;
    owned = nullptr;
}

}  // namespace kb
