// The ten entry points the host looks up by name. Each removes its own arguments (stdcall in the
// 32-bit module); module.def exports them under their plain names. Each runs under the module's
// floating-point state and hands the host's back on return, even when it does nothing else.
#include <cstdint>

#include "core/fp_guard.h"
#include "peer/transfer.h"
#include "shell/entry_points.h"
#include "shell/instance.h"
#include "shell/setup.h"

namespace {

const char16_t plugin_name[] = u"kestro_bimvision";
const char16_t producer[] = u"Kestro";
const char16_t producer_web[] = u"https://www.kestro.es";
const char16_t producer_mail[] = u"soporte@kestro.es";
const char16_t description[] = u"Conexion con KESTRO";

}  // namespace

extern "C" {

void* KB_STDCALL get_api_verion(std::uintptr_t, void* version_pair) {
    kb::FloatingPointGuard fp;
    auto* pair = static_cast<std::int32_t*>(version_pair);
    if (pair != nullptr) {
        pair[0] = 5;
        pair[1] = 38;
    }
    return version_pair;
}

void* KB_STDCALL get_plugin_info(void* info) {
    kb::FloatingPointGuard fp;
    auto* slots = static_cast<const char16_t**>(info);
    if (slots != nullptr) {
        slots[0] = plugin_name;
        slots[1] = producer;
        slots[2] = producer_web;
        slots[3] = producer_mail;
        slots[4] = description;
    }
    return info;
}

void KB_STDCALL on_plugin_load(std::uint32_t plugin_id, std::uintptr_t, void* main_window) {
    kb::FloatingPointGuard fp;
    kb::Plugin* plugin = kb::active_plugin();
    if (plugin == nullptr) return;
    plugin->state.plugin_id = plugin_id;
    plugin->state.main_window = main_window;
    try {
        kb::set_up_plugin(*plugin);
    } catch (...) {
        // Out of memory while building the icon path: the plugin stays without its button.
    }
}

void KB_STDCALL on_plugin_unload() {
    kb::FloatingPointGuard fp;
    kb::Plugin* plugin = kb::active_plugin();
    if (plugin != nullptr) kb::remove_subclass(*plugin);
}

std::int32_t KB_STDCALL on_drag_enter(std::uintptr_t, std::uintptr_t, std::uintptr_t) {
    kb::FloatingPointGuard fp;
    kb::Plugin* plugin = kb::active_plugin();
    if (plugin != nullptr) {
        try {
            kb::handle_drag_enter(*plugin);
        } catch (...) {
            // Out of memory during the transfer: nothing was sent; the drag goes on.
        }
    }
    return 2;
}

std::uintptr_t KB_STDCALL on_drag_over(std::uintptr_t, std::uintptr_t, std::uintptr_t effect) {
    kb::FloatingPointGuard fp;
    return effect;
}

std::int32_t KB_STDCALL on_drop(std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t) {
    kb::FloatingPointGuard fp;
    return 0;
}

void KB_STDCALL on_gui_colors_change() {
    kb::FloatingPointGuard fp;
}

bool KB_STDCALL on_model_load_v2(std::uintptr_t) {
    kb::FloatingPointGuard fp;
    return false;
}

void KB_STDCALL on_model_save_v2() {
    kb::FloatingPointGuard fp;
}

}  // extern "C"
