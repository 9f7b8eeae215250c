// The per-DPI calls of newer systems (user32 of Windows 10 1607 and later), looked up once when
// the module starts, with the calls of older systems as their fallback. Every size the plugin's
// own window uses is a 96-DPI value scaled through `scaled`, and its fonts are the system's at
// the DPI of the viewer's window.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace kb::win32 {

class DpiCalls {
public:
    /// Looks the calls up in user32 (already loaded: the module imports it).
    static DpiCalls find() noexcept;

    /// The DPI `window` is shown at: the window's own where the system knows it, else the
    /// screen's (LOGPIXELSY), else 96.
    UINT dpi_of(HWND window) const noexcept;
    /// The system's non-client metrics (its message and caption fonts) at `dpi`; where the
    /// system cannot give them for a DPI, those of the system's own DPI. False when neither can
    /// be had.
    bool metrics(UINT dpi, NONCLIENTMETRICSW& out) const noexcept;
    /// The window rectangle for a client rectangle, at `dpi`.
    void window_rect(RECT& rect, DWORD style, DWORD ex_style, UINT dpi) const noexcept;

    /// Whether the newer calls were found (false on older systems).
    bool per_dpi() const noexcept { return dpi_for_window_ != nullptr; }

private:
    using DpiForWindow = UINT(WINAPI*)(HWND);
    using ParametersForDpi = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    using AdjustForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

    DpiForWindow dpi_for_window_ = nullptr;
    ParametersForDpi parameters_for_dpi_ = nullptr;
    AdjustForDpi adjust_for_dpi_ = nullptr;
};

/// A length given for 96 DPI, at `dpi`.
inline int scaled(int at_96, UINT dpi) noexcept { return MulDiv(at_96, static_cast<int>(dpi), 96); }

}  // namespace kb::win32
