// Loads the plugin module from beside this executable, as the viewer does, and looks its entry
// points up by their plain names.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <string>

namespace kbtest {

struct PluginModule {
    HMODULE module = nullptr;
    std::wstring path;
    // Entry points, with their argument words: called through call_stdcall.
    const void* get_api_verion = nullptr;       // 2
    const void* get_plugin_info = nullptr;      // 1
    const void* on_plugin_load = nullptr;       // 3
    const void* on_plugin_unload = nullptr;     // 0
    const void* on_drag_enter = nullptr;        // 3
    const void* on_drag_over = nullptr;         // 3
    const void* on_drop = nullptr;              // 4
    const void* on_gui_colors_change = nullptr; // 0
    const void* on_model_load_v2 = nullptr;     // 1
    const void* on_model_save_v2 = nullptr;     // 0

    /// True when the module loaded and every entry point was found.
    bool complete() const;
    /// True when `address` lies inside the module's image.
    bool contains(std::uintptr_t address) const;
};

/// LoadLibraryW of kestro_bimvision_32.dll in this executable's folder.
PluginModule load_plugin_module();

}  // namespace kbtest
