#include "screenshot.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "image_file.h"
#include "screen_copy.h"

namespace monitor {

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
    bvs::Image image;
    bool copied = bvs::copy_from_dc(window, 0, 0, width, height, image);
    if (window) ReleaseDC(hwnd, window);
    if (!copied) return false;
    const std::vector<std::uint8_t> bytes = bvs::encode_bmp(image);
    std::FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

}  // namespace monitor
