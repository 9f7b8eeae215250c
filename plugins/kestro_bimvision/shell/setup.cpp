#include "shell/setup.h"
namespace kb {
std::u16string module_directory(Plugin&, platform::ModuleHandle) { return {}; }
void set_up_plugin(Plugin&) {}
void remove_subclass(Plugin&) {}
void handle_draw(Plugin&) {}
void handle_model_load(Plugin&) {}
}  // namespace kb
