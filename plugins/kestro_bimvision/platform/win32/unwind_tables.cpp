// Which unwinder owns the module's unwind tables.
//
// The module links the GCC run-time statically: its throws are unwound by the unwinder inside this
// module, which finds a frame's description only among the tables registered with it. The
// start-up object GCC links into every module (crtbegin.o, function __gcc_register_frame) makes
// that registration, but first asks GetModuleHandleA("libgcc_s_dw2-1.dll"): when another module
// of the process has already loaded the shared GCC run-time, crtbegin hands this module's
// .eh_frame to that DLL's __register_frame_info instead of its own. This module's unwinder then
// knows none of the module's frames, and the first exception thrown here ends in std::terminate.
//
// The fix is made at link time. crtbegin.o calls GetModuleHandleA through the import slot
// __imp__GetModuleHandleA@4, and nothing else in the module uses that function. This file
// defines that slot itself, so the linker takes this definition and never pulls kernel32's (an
// object file's definition wins over an import library's, which is only searched for symbols
// still undefined). The slot points to the function below, which tells crtbegin that no shared
// GCC run-time is loaded, whatever the truth, so crtbegin always registers the tables with the
// module's own unwinder and never loads or binds the foreign DLL. Other names are answered as
// GetModuleHandleA would.
//
// This does not depend on load order or on the loader: whether the shared run-time comes before
// this module, after it or not at all, crtbegin sees "not loaded", on Windows as under Wine.
// tests/wine/check_module.py checks the built file: no GetModuleHandleA import, and crtbegin's
// call going through this slot. At attach the module also asks its own unwinder for the frame of
// a function of its own and refuses to load when it is not found (unwind_tables_are_own).
#include "unwind_tables.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

/// True when the file part of `name` starts with "libgcc_s_", in any letter case.
bool names_shared_gcc_runtime(const char* name) {
    const char* file = name;
    for (const char* p = name; *p != '\0'; ++p)
        if (*p == '\\' || *p == '/') file = p + 1;
    const char prefix[] = "libgcc_s_";
    for (int i = 0; prefix[i] != '\0'; ++i) {
        char c = file[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

HMODULE WINAPI module_handle_for_start_up(LPCSTR name) {
    if (name != nullptr && names_shared_gcc_runtime(name)) return nullptr;
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, name, &module))
        return nullptr;
    return module;
}

}  // namespace

// The import slot crtbegin.o reads (see above). The name is the one the 32-bit import library
// uses: the stdcall decoration of GetModuleHandleA with the __imp_ prefix.
extern "C" {
extern HMODULE(WINAPI* const kb_start_up_module_handle)(LPCSTR) __asm__("__imp__GetModuleHandleA@4");
__attribute__((used)) HMODULE(WINAPI* const kb_start_up_module_handle)(LPCSTR) =
    &module_handle_for_start_up;
}

// The unwinder's own lookup (libgcc, linked statically into this module).
struct DwarfEhBases {
    void* text_base;
    void* data_base;
    void* function;
};
extern "C" const void* _Unwind_Find_FDE(void* pc, DwarfEhBases* bases);

namespace kb::win32 {

bool unwind_tables_are_own(const void* function) {
    DwarfEhBases bases{};
    // One byte into the function: inside its range, as a return address would be.
    void* pc = const_cast<char*>(static_cast<const char*>(function)) + 1;
    return _Unwind_Find_FDE(pc, &bases) != nullptr;
}

}  // namespace kb::win32
