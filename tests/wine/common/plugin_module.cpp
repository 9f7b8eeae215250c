#include "plugin_module.h"

#include "test_window.h"

namespace kbtest {

namespace {
const void* entry(HMODULE module, const char* name) {
    return reinterpret_cast<const void*>(GetProcAddress(module, name));
}
}  // namespace

bool PluginModule::complete() const {
    return module != nullptr && get_api_verion && get_plugin_info && on_plugin_load &&
           on_plugin_unload && on_drag_enter && on_drag_over && on_drop && on_gui_colors_change &&
           on_model_load_v2 && on_model_save_v2;
}

bool PluginModule::contains(std::uintptr_t address) const {
    if (module == nullptr) return false;
    auto base = reinterpret_cast<std::uintptr_t>(module);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    return address >= base && address < base + nt->OptionalHeader.SizeOfImage;
}

PluginModule load_plugin_module() {
    PluginModule m;
    m.path = executable_directory() + L"\\kestro_bimvision_32.dll";
    m.module = LoadLibraryW(m.path.c_str());
    if (m.module == nullptr) return m;
    m.get_api_verion = entry(m.module, "get_api_verion");
    m.get_plugin_info = entry(m.module, "get_plugin_info");
    m.on_plugin_load = entry(m.module, "on_plugin_load");
    m.on_plugin_unload = entry(m.module, "on_plugin_unload");
    m.on_drag_enter = entry(m.module, "on_drag_enter");
    m.on_drag_over = entry(m.module, "on_drag_over");
    m.on_drop = entry(m.module, "on_drop");
    m.on_gui_colors_change = entry(m.module, "on_gui_colors_change");
    m.on_model_load_v2 = entry(m.module, "on_model_load_v2");
    m.on_model_save_v2 = entry(m.module, "on_model_save_v2");
    return m;
}

}  // namespace kbtest
