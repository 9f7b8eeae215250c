// A top-level window standing for the viewer's main window, with a procedure that answers with
// fixed values so a test can tell that a message reached it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

namespace kbtest {

inline constexpr UINT probe_message = WM_APP + 17;
inline constexpr LRESULT probe_answer = 0x5151;     // the window's answer to probe_message
inline constexpr LRESULT copydata_answer = 0x4A4A;  // its answer to WM_COPYDATA

struct WindowLog {
    int probes = 0;
    int copydata = 0;
    std::string last_copydata;  // the bytes of the last WM_COPYDATA, up to cbData
    WPARAM last_copydata_sender = 0;
};

/// The log of the original procedure of every test window.
WindowLog& window_log();

/// Creates a hidden top-level window of this process; null on failure.
HWND create_test_window(const wchar_t* title);

/// The window procedure every test window starts with.
LRESULT CALLBACK test_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

/// The folder of this executable, without a trailing backslash.
std::wstring executable_directory();

}  // namespace kbtest
