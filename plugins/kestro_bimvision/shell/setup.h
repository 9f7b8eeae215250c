// Set-up inside on_plugin_load: ribbon button, host registrations and the window subclass.
#pragma once

#include <string>

#include "core/plugin.h"

namespace kb {

/// The folder that holds the module, without a trailing backslash.
std::u16string module_directory(Plugin& plugin, platform::ModuleHandle module);

/// Creates the button, registers the four handlers and subclasses the main window (once). The
/// module is pinned as the subclass goes in: it is never unloaded while the window may call it.
void set_up_plugin(Plugin& plugin);

/// Puts the previous window procedure back when the window's procedure is still ours; when
/// something else has subclassed on top, leaves the chain as it is.
void remove_subclass(Plugin& plugin);

/// draw_label with the all-zero label record.
void handle_draw(Plugin& plugin);
/// Keeps the selected-objects pseudo id of the newly loaded model.
void handle_model_load(Plugin& plugin);

}  // namespace kb
