// The progress window of a long update: a thread of its own with its own message loop and one
// small window over the viewer's main window: a title, a line of text, a bar and "Cancelar".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "dpi.h"
#include "platform/platform.h"
#include "win32_platform.h"

namespace kb::win32 {

/// Names a test finds the window and its parts by.
inline constexpr wchar_t progress_class_name[] = L"KestroBimVisionProgress";
inline constexpr int progress_title_id = 1;
inline constexpr int progress_text_id = 2;
inline constexpr int progress_bar_id = 3;
inline constexpr int progress_cancel_id = 4;

class Win32ProgressWindow final : public platform::ProgressWindow {
public:
    /// Starts the thread; it shows the window once `delay_ms` have passed, at the DPI of `over`
    /// and sized for the widest of the texts. Null when the thread or its events cannot be had.
    static std::unique_ptr<Win32ProgressWindow> open(const DpiCalls& dpi,
                                                     platform::WindowHandle over,
                                                     const platform::ProgressView& view,
                                                     const char16_t* const* fits,
                                                     std::size_t fit_count,
                                                     std::uint32_t delay_ms) noexcept;
    /// Tells the thread to take the window down and waits until it has ended.
    ~Win32ProgressWindow() override;
    void show(const platform::ProgressView& view) override;
    bool stop_requested() override;

    /// What the caller and the window's thread share (progress_window.cpp).
    struct Shared;

private:
    Win32ProgressWindow();
    static unsigned long __stdcall run(void* shared) noexcept;

    std::unique_ptr<Shared> shared_;
    UniqueHandle thread_;
};

}  // namespace kb::win32
