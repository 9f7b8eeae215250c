#include "dpi.h"

#include <cstddef>

namespace kb::win32 {

namespace {

// FARPROC to the call's own type: the casts through a plain function pointer keep GCC quiet.
template <typename Call>
Call look_up(HMODULE module, const char* name) {
    return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

DpiCalls DpiCalls::find() noexcept {
    DpiCalls calls;
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) return calls;
    calls.dpi_for_window_ = look_up<DpiForWindow>(user32, "GetDpiForWindow");
    calls.parameters_for_dpi_ = look_up<ParametersForDpi>(user32, "SystemParametersInfoForDpi");
    calls.adjust_for_dpi_ = look_up<AdjustForDpi>(user32, "AdjustWindowRectExForDpi");
    return calls;
}

UINT DpiCalls::dpi_of(HWND window) const noexcept {
    if (dpi_for_window_ != nullptr && window != nullptr) {
        const UINT dpi = dpi_for_window_(window);
        if (dpi != 0) return dpi;
    }
    UINT dpi = 0;
    if (HDC screen = GetDC(nullptr)) {
        dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY));
        ReleaseDC(nullptr, screen);
    }
    return dpi != 0 ? dpi : 96;
}

bool DpiCalls::metrics(UINT dpi, NONCLIENTMETRICSW& out) const noexcept {
    // Systems before Vista know the structure without its last member.
    const UINT sizes[] = {sizeof(NONCLIENTMETRICSW),
                          static_cast<UINT>(offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth))};
    for (const UINT size : sizes) {
        out = NONCLIENTMETRICSW{};
        out.cbSize = size;
        if (parameters_for_dpi_ != nullptr &&
            parameters_for_dpi_(SPI_GETNONCLIENTMETRICS, size, &out, 0, dpi))
            return true;
        out.cbSize = size;
        if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, size, &out, 0)) return true;
    }
    return false;
}

void DpiCalls::window_rect(RECT& rect, DWORD style, DWORD ex_style, UINT dpi) const noexcept {
    if (adjust_for_dpi_ != nullptr && adjust_for_dpi_(&rect, style, FALSE, ex_style, dpi)) return;
    AdjustWindowRectEx(&rect, style, FALSE, ex_style);
}

}  // namespace kb::win32
