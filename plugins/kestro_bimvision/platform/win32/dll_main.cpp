// The library's entry point and the process-wide objects of the module.
#include "shell/instance.h"
#include "shell/setup.h"
#include "win32_platform.h"

// After the plugin's headers: <windows.h> defines macros named like two constants of the seam.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

// Constructed by the run-time before DllMain sees the attach, destroyed after the detach.
kb::win32::Win32Platform win32_platform;
kb::Plugin plugin{win32_platform.platform};

// The host's interface is looked up in the executable that started the process and nowhere else.
void* resolve_in_executable(void* executable, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(executable), name));
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    // Runs under the loader lock: only name lookups and plain stores happen here.
    try {
        if (reason == DLL_PROCESS_ATTACH) {
            kb::set_active_plugin(&plugin);
            kb::on_process_attach(plugin, instance, resolve_in_executable,
                                  GetModuleHandleW(nullptr));
        } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
            // FreeLibrary while the process goes on: the host's window must not keep a procedure
            // that is about to be unmapped. At process exit nothing needs undoing.
            kb::remove_subclass(plugin);
        }
    } catch (...) {
    }
    return TRUE;
}
