// The exported entry points, as the host calls them.
#pragma once

#include <cstdint>

#include "host_records.h"

extern "C" {
void* KB_STDCALL get_api_verion(std::uintptr_t unused, void* version_pair);
void* KB_STDCALL get_plugin_info(void* info);
void KB_STDCALL on_plugin_load(std::uint32_t plugin_id, std::uintptr_t unused, void* main_window);
void KB_STDCALL on_plugin_unload();
std::int32_t KB_STDCALL on_drag_enter(std::uintptr_t, std::uintptr_t, std::uintptr_t);
std::uintptr_t KB_STDCALL on_drag_over(std::uintptr_t, std::uintptr_t, std::uintptr_t effect);
std::int32_t KB_STDCALL on_drop(std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t);
void KB_STDCALL on_gui_colors_change();
bool KB_STDCALL on_model_load_v2(std::uintptr_t unused);
void KB_STDCALL on_model_save_v2();
}
