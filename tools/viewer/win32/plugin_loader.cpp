// The plugin module: loaded by path, asked for its API version and its name, told it is loaded
// with the viewer's main window, and unloaded at the end. The drag entry point is kept for drops
// and the script's `drag`.
#include "viewer_app.h"
#include "window_common.h"

namespace bvs {

using nlohmann::json;

bool ViewerApp::load_plugin() {
    plugin_ = LoadLibraryW(w(options_.plugin));
    if (plugin_ == nullptr) {
        error("cannot load the plugin \"" + utf8(options_.plugin) + "\" (error " +
              std::to_string(GetLastError()) + ")");
        return false;
    }
    auto proc = [&](const char* name) {
        return reinterpret_cast<void*>(GetProcAddress(plugin_, name));
    };
    using ApiVersionFn = void*(__stdcall*)(std::uintptr_t, void*);
    using PluginInfoFn = void*(__stdcall*)(void*);
    using PluginLoadFn = void(__stdcall*)(std::uint32_t, std::uintptr_t, HWND);
    auto api_version = reinterpret_cast<ApiVersionFn>(proc("get_api_verion"));
    auto plugin_info = reinterpret_cast<PluginInfoFn>(proc("get_plugin_info"));
    auto plugin_load = reinterpret_cast<PluginLoadFn>(proc("on_plugin_load"));
    on_drag_enter_ = reinterpret_cast<DragEnterFn>(proc("on_drag_enter"));

    json loaded = {{"event", "plugin"}, {"path", utf8(options_.plugin)},
                   {"module", handle_value(plugin_)}};
    json exports = json::object();
    for (const char* name : {"get_api_verion", "get_plugin_info", "on_plugin_load",
                             "on_plugin_unload", "on_drag_enter", "on_drag_over", "on_drop",
                             "on_gui_colors_change", "on_model_load_v2", "on_model_save_v2"})
        exports[name] = proc(name) != nullptr;
    loaded["exports"] = exports;
    log_.write(loaded);

    if (api_version) {
        std::int32_t pair[2] = {-1, -1};
        void* r = api_version(0, pair);
        log_.write({{"event", "api_version"}, {"values", {pair[0], pair[1]}},
                    {"returned_pair", r == pair}});
    }
    if (plugin_info) {
        const wchar_t* info[5] = {};
        void* r = plugin_info(info);
        log_.write({{"event", "plugin_info"},
                    {"name", info[0] ? json(utf8(info[0])) : json(nullptr)},
                    {"producer", info[1] ? json(utf8(info[1])) : json(nullptr)},
                    {"web", info[2] ? json(utf8(info[2])) : json(nullptr)},
                    {"email", info[3] ? json(utf8(info[3])) : json(nullptr)},
                    {"description", info[4] ? json(utf8(info[4])) : json(nullptr)},
                    {"returned_record", r == info}});
        plugin_name_ = info[0] ? info[0] : L"";
        if (info[4]) plugin_name_ += std::wstring(L" (") + info[4] + L")";
    }
    if (plugin_load) {
        log_.write({{"event", "plugin_load"}, {"plugin_id", plugin_id},
                    {"window", handle_value(main_)}});
        plugin_load(plugin_id, 0, main_);
        log_.write({{"event", "plugin_loaded"}});
    }
    update_status();
    return true;
}

void ViewerApp::drag_enter(const char* source) {
    if (on_drag_enter_ == nullptr) {
        log_.write({{"event", "drag_enter"}, {"source", source}, {"result", nullptr}});
        return;
    }
    log_.write({{"event", "drag_enter"}, {"source", source}});
    std::int32_t r = on_drag_enter_(0, 0, 0);
    log_.write({{"event", "drag_enter_done"}, {"source", source}, {"result", r}});
}

void ViewerApp::click(std::size_t button, const char* source) {
    // The memory figures bracket the outermost click only: a click run from inside a message box
    // the handler opened belongs to the outer one's figures.
    const bool outermost = !memory_watch_.running();
    if (outermost) memory_watch_.start();
    host_.click_button(button, source);
    if (!outermost) return;
    const MemoryFigures f = memory_watch_.stop();
    log_.write({{"event", "memory"},
                {"private_bytes", f.private_bytes},
                {"peak_private_bytes", f.peak_private_bytes},
                {"peak_pagefile_usage", f.peak_pagefile_usage},
                {"largest_free", f.largest_free},
                {"large_address_aware", f.large_address_aware}});
}

void ViewerApp::unload_plugin() {
    if (plugin_ == nullptr) return;
    using UnloadFn = void(__stdcall*)();
    if (auto unload = reinterpret_cast<UnloadFn>(
            reinterpret_cast<void*>(GetProcAddress(plugin_, "on_plugin_unload")))) {
        unload();
        log_.write({{"event", "plugin_unload"}});
    }
}

}  // namespace bvs
