// The library's entry point and the process-wide objects of the module.
//
// This is the composition root: it makes the Win32 platform and the plugin instance and hands them
// to the shell. So it is the one file under platform/ that includes from the rooms above it
// (core/ for the floating-point guard, shell/ for the instance); nothing else points up.
#include <new>

#include "core/fp_guard.h"
#include "shell/instance.h"
#include "unwind_tables.h"
#include "win32_platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

// Made at attach and handed to the shell, which releases them when FreeLibrary unloads a module
// that never subclassed; never destroyed at process exit (on_process_detach says why).
struct Win32ModuleObjects final : kb::ModuleObjects {
    kb::win32::Win32Platform win32_platform;
    kb::Plugin instance{win32_platform.platform};
    kb::Plugin& plugin() override { return instance; }
};

// The host's interface is looked up in the executable that started the process and nowhere else.
void* resolve_in_executable(void* executable, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(executable), name));
}

}  // namespace

// The host loads the module into a 32-bit process and calls it with stdcall: a build for anything
// else would load nowhere, or quietly call with the wrong convention.
static_assert(KB_HOST_32BIT == 1 && sizeof(void*) == 4, "the module is built for 32-bit x86 only");

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    // Runs under the loader lock: one allocation, the name lookups and plain stores, no more.
    // Nothing here calls user32: the window subclass is undone in on_plugin_unload, and once it
    // is in place the module is pinned, so a FreeLibrary never reaches this with it installed.
    kb::FloatingPointGuard fp;
    if (reason == DLL_PROCESS_ATTACH) {
        // A module whose exceptions its own unwinder cannot catch would end the host at the
        // first failed allocation: better not to load at all.
        if (!kb::win32::unwind_tables_are_own(reinterpret_cast<const void*>(&DllMain)))
            return FALSE;
        auto* objects = new (std::nothrow) Win32ModuleObjects;
        if (objects == nullptr) return FALSE;
        kb::on_process_attach(objects, instance, resolve_in_executable, GetModuleHandleW(nullptr));
    } else if (reason == DLL_PROCESS_DETACH) {
        // `reserved` is set when the process ends, null at FreeLibrary.
        kb::on_process_detach(reserved != nullptr);
    }
    return TRUE;
}
