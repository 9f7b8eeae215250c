// The `screenshot` action and --screenshot: the whole viewer window as it is on the screen, saved
// as BMP, or PNG when the file name ends in ".png".
#include "file_io.h"
#include "image_file.h"
#include "viewer_app.h"
#include "window_common.h"

namespace bvs {

bool ViewerApp::do_screenshot(const std::u16string& path) {
    RedrawWindow(main_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT rc;
    GetWindowRect(main_, &rc);
    int width = rc.right - rc.left, height = rc.bottom - rc.top;
    if (width <= 0 || height <= 0) {
        error("screenshot: the window has no size");
        return false;
    }
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bmp != nullptr;
    Image img;
    if (ok) {
        HGDIOBJ old = SelectObject(mem, bmp);
        ok = BitBlt(mem, 0, 0, width, height, screen, rc.left, rc.top, SRCCOPY) != 0;
        GdiFlush();
        if (ok) {
            img.width = static_cast<std::uint32_t>(width);
            img.height = static_cast<std::uint32_t>(height);
            const auto* px = static_cast<const std::uint32_t*>(bits);
            img.pixels.assign(px, px + static_cast<std::size_t>(width) * height);
            for (auto& p : img.pixels) p &= 0x00FFFFFF;
        }
        SelectObject(mem, old);
        DeleteObject(bmp);
    }
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    if (!ok) {
        error("screenshot: cannot copy the window");
        return false;
    }
    std::vector<std::uint8_t> bytes = is_png_path(path) ? encode_png(img) : encode_bmp(img);
    if (!write_whole_file(path, bytes)) {
        error("screenshot: cannot write \"" + utf8(path) + "\"");
        return false;
    }
    log_.write({{"event", "screenshot"}, {"path", utf8(path)}, {"width", width},
                {"height", height}});
    return true;
}

}  // namespace bvs
