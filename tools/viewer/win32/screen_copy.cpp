#include "screen_copy.h"

#include <cstddef>
#include <cstdint>

namespace bvs {

bool copy_from_dc(HDC source, int x, int y, int width, int height, Image& image) {
    if (source == nullptr || width <= 0 || height <= 0) return false;
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bitmap != nullptr;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY) != 0;
        GdiFlush();
        if (ok) {
            image.width = static_cast<std::uint32_t>(width);
            image.height = static_cast<std::uint32_t>(height);
            const auto* px = static_cast<const std::uint32_t*>(bits);
            image.pixels.assign(px, px + static_cast<std::size_t>(width) * height);
            for (auto& p : image.pixels) p &= 0x00FFFFFF;
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    return ok;
}

bool copy_from_screen(const RECT& rc, Image& image) {
    const int width = rc.right - rc.left, height = rc.bottom - rc.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    bool ok = copy_from_dc(screen, rc.left, rc.top, width, height, image);
    if (screen) ReleaseDC(nullptr, screen);
    return ok;
}

}  // namespace bvs
