#include "shell/setup.h"

#include "host_table.h"
#include "shell/instance.h"

namespace kb {

namespace {

const char16_t data_folder[] = u"\\kestro_bimvision_data\\";
const char16_t icon_file[] = u"kestro.ico";
const char16_t button_caption[] = u"Kestro-BimVision";
const char16_t button_hint[] = u"Actualizar KESTRO";

// The label record handed to draw_label on every draw: process-wide, all zero from load on and
// never written by the plugin.
bv::LabelRecord label_record;

/// Replaces the main window's procedure with the plugin's, once: a window whose procedure is
/// already the plugin's keeps the one it had before, or messages would go round for ever.
void install_subclass(Plugin& plugin) {
    platform::WindowSystem& windows = plugin.platform.windows;
    platform::WindowHandle main = plugin.state.main_window;
    if (main == nullptr || plugin.subclassed_window != nullptr) return;
    platform::WindowProc current = windows.window_proc(main);
    if (current == nullptr || current == &window_proc_trampoline) return;
    // Pinned before the window can call into it: from here on something may chain above the
    // plugin's procedure, and the system lets a FreeLibrary unmap the module with no regard for
    // that (a pin taken at detach time comes too late: the unload has been decided by then).
    plugin.platform.modules.pin_module(plugin.state.module_handle);
    plugin.state.previous_window_proc = current;
    windows.set_window_proc(main, &window_proc_trampoline);
    plugin.subclassed_window = main;
}

}  // namespace

std::u16string module_directory(Plugin& plugin, platform::ModuleHandle module) {
    std::u16string path = plugin.platform.modules.module_file_name(module);
    std::size_t last = path.rfind(u'\\');
    if (last != std::u16string::npos) path.erase(last);
    return path;
}

void set_up_plugin(Plugin& plugin) {
    const std::uint32_t plugin_id = plugin.state.plugin_id;

    std::u16string data_path = module_directory(plugin, plugin.state.module_handle) + data_folder;
    auto button = static_cast<std::uint32_t>(
        host::create_button(plugin_id, 0u, &handler_button_click));
    host::set_button_text(plugin_id, button, button_caption, button_hint);
    std::u16string file = data_path + icon_file;
    host::set_button_image(plugin_id, button, file.c_str());

    host::on_selection_change(plugin_id, &handler_selection_change);
    host::on_draw(plugin_id, &handler_draw);
    host::on_model_load(plugin_id, &handler_model_load);

    install_subclass(plugin);
}

void remove_subclass(Plugin& plugin) {
    platform::WindowHandle window = plugin.subclassed_window;
    if (window == nullptr) return;
    platform::WindowSystem& windows = plugin.platform.windows;
    platform::WindowProc current = windows.window_proc(window);
    if (current == &window_proc_trampoline) {
        windows.set_window_proc(window, plugin.state.previous_window_proc);
        plugin.subclassed_window = nullptr;
    } else if (current == nullptr) {
        // The window is gone, and its procedure with it.
        plugin.subclassed_window = nullptr;
    }
    // Otherwise something subclassed on top and still calls this module's procedure. The module
    // has been pinned since the subclass went in, so it stays; the subclass stays recorded, so a
    // later load does not install a second one.
}

void handle_draw(Plugin& plugin) { host::draw_label(plugin.state.plugin_id, &label_record); }

void handle_model_load(Plugin& plugin) {
    plugin.state.selected_id = host::get_selected_id(plugin.state.plugin_id);
}

}  // namespace kb
