// --screenshot: a picture of a monitor window as it is on the screen.
#pragma once

#include <string>

#include "app.h"

namespace monitor {

/// Saves the window's client area as a 24-bit BMP file; false when it could not.
bool save_window_bmp(HWND hwnd, const std::wstring& path);

}  // namespace monitor
