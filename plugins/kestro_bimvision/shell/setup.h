// Set-up inside on_plugin_load: ribbon button, host registrations and the window subclass.
#pragma once

#include <string>

#include "shell/plugin.h"

namespace kb {

/// The folder that holds the module, without a trailing backslash.
std::u16string module_directory(Plugin& plugin, platform::ModuleHandle module);

/// Creates the button, registers the four handlers and subclasses the main window (once).
void set_up_plugin(Plugin& plugin);

/// Puts the previous window procedure back when the window's procedure is still ours; when
/// something else has subclassed on top, pins the module so it is never unloaded under it.
void remove_subclass(Plugin& plugin);

/// draw_label with the all-zero label record.
void handle_draw(Plugin& plugin);
/// Keeps the selected-objects pseudo id of the newly loaded model.
void handle_model_load(Plugin& plugin);

}  // namespace kb
