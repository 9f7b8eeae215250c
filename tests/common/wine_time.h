// How long a Windows test program may wait for something. Under emulation
// (scripts/wine-tests.sh --time-factor N, which sets KB_WINE_TIME_FACTOR) everything runs about
// N times slower, so every limit a test waits up to is N times longer; Wine hands the variable on
// to the Windows programs. Pauses whose length is what a test is about stay as they are.
#pragma once

#include <windows.h>

#include <cwchar>

namespace kbtest {

/// KB_WINE_TIME_FACTOR, or 1 when it is not set or not a whole number from 1 to 1000.
inline DWORD time_factor() {
    wchar_t text[16] = {};
    const DWORD n = GetEnvironmentVariableW(L"KB_WINE_TIME_FACTOR", text, 16);
    if (n == 0 || n >= 16) return 1;
    wchar_t* end = nullptr;
    const long factor = std::wcstol(text, &end, 10);
    return *end == L'\0' && factor >= 1 && factor <= 1000 ? static_cast<DWORD>(factor) : 1;
}

/// A limit of `ms` milliseconds on this machine, as long as it must be here.
inline DWORD time_limit_ms(DWORD ms) { return ms * time_factor(); }

}  // namespace kbtest
