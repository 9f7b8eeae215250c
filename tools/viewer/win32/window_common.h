// What the viewer's window files share: the private messages and timers of the main window, the
// ribbon's measures, and the small conversions between the model's UTF-16 text and the system's.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <string>

#include "text.h"

namespace bvs {

inline constexpr UINT msg_step = WM_APP + 1;            // run the next script action
inline constexpr UINT msg_list_selection = WM_APP + 2;  // the list's selection changed: read it
inline constexpr UINT msg_host_selection = WM_APP + 3;  // a host call changed the selection
inline constexpr UINT_PTR timer_sleep = 1;
inline constexpr UINT_PTR timer_poll = 2;
inline constexpr UINT poll_ms = 25;

inline constexpr int ribbon_height = 92;
inline constexpr int button_width = 124;
inline constexpr int button_height = 78;
inline constexpr int first_button_control = 100;  // control id of the first ribbon button

/// UTF-16 text for the system's wide-character calls (wchar_t is 16 bits here).
inline const wchar_t* w(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}
inline std::wstring wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }
inline std::u16string u16(const wchar_t* s) {
    return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string();
}
inline std::string utf8(const wchar_t* s) { return utf16_to_utf8(u16(s)); }
inline std::string utf8(const std::u16string& s) { return utf16_to_utf8(s); }

/// A handle or module address as the log writes it: a plain number.
inline std::uint64_t handle_value(const void* h) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(h));
}

/// The file name at the end of a path (after the last slash or backslash).
inline std::u16string file_part(const std::u16string& path) {
    std::size_t cut = path.find_last_of(u"\\/");
    return cut == std::u16string::npos ? path : path.substr(cut + 1);
}

}  // namespace bvs
