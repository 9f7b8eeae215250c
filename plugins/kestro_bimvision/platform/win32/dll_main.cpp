// The library's entry point and the process-wide objects of the module.
#include "shell/instance.h"
#include "shell/setup.h"
#include "win32_platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

// Made at attach and never destroyed at process exit: the host's main window may still receive
// messages through the plugin's procedure after the run-time has run its destructors. They go
// away only when FreeLibrary unloads the module and nothing points into it any more.
struct ModuleObjects {
    kb::win32::Win32Platform win32_platform;
    kb::Plugin plugin{win32_platform.platform};
};
ModuleObjects* objects = nullptr;

// The host's interface is looked up in the executable that started the process and nowhere else.
void* resolve_in_executable(void* executable, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(executable), name));
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    // Runs under the loader lock: one allocation, the name lookups and plain stores, no more.
    try {
        if (reason == DLL_PROCESS_ATTACH) {
            objects = new ModuleObjects;
            kb::set_active_plugin(&objects->plugin);
            kb::on_process_attach(objects->plugin, instance, resolve_in_executable,
                                  GetModuleHandleW(nullptr));
        } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr && objects != nullptr) {
            // FreeLibrary while the process goes on: the host's window must not keep a procedure
            // that is about to be unmapped. At process exit nothing needs undoing.
            kb::remove_subclass(objects->plugin);
            if (objects->plugin.subclassed_window == nullptr &&
                objects->plugin.window_proc_depth == 0) {
                kb::set_active_plugin(nullptr);
                delete objects;
                objects = nullptr;
            }
        }
    } catch (...) {
    }
    return TRUE;
}
