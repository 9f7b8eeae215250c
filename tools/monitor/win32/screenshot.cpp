#include "screenshot.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace monitor {

namespace {

bool write_bmp(const std::wstring& path, const BITMAPINFOHEADER& info, const std::vector<unsigned char>& pixels) {
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    bool ok = std::fwrite(&file, sizeof file, 1, f) == 1 && std::fwrite(&info, sizeof info, 1, f) == 1 &&
              std::fwrite(pixels.data(), 1, pixels.size(), f) == pixels.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

/// Copies the window's client area, children included, from the window's own device context,
/// after moving the window onto the screen and above the others: what lies off the screen or
/// under another window is never painted. (Copying from the whole screen's context gave an
/// all-black picture under Wine and Xvfb; PrintWindow there paints the background without the
/// list and the status line.)
bool save_window_bmp(HWND hwnd, const std::wstring& path) {
    RECT frame;
    if (!GetWindowRect(hwnd, &frame)) return false;
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int right = left + GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int bottom = top + GetSystemMetrics(SM_CYVIRTUALSCREEN);
    const int x = std::max(left, std::min<int>(frame.left, right - (frame.right - frame.left)));
    const int y = std::max(top, std::min<int>(frame.top, bottom - (frame.bottom - frame.top)));
    SetWindowPos(hwnd, HWND_TOP, x, y, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
    RECT rect;
    if (!GetClientRect(hwnd, &rect)) return false;
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;
    HDC window = GetDC(hwnd);
    HDC memory = CreateCompatibleDC(window);
    HBITMAP bitmap = CreateCompatibleBitmap(window, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    bool painted = BitBlt(memory, 0, 0, width, height, window, 0, 0, SRCCOPY) != 0;
    SelectObject(memory, old);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;  // bottom-up, as a BMP file stores it
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<unsigned char> pixels(static_cast<std::size_t>(stride) * height);
    int lines = GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
                          DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(hwnd, window);
    return painted && lines == height && write_bmp(path, info, pixels);
}

}  // namespace monitor
