// The progress window of a long update: a thread of its own with its own message loop and one
// small window with a line of text, placed over the viewer's main window.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/platform.h"
#include "win32_platform.h"

namespace kb::win32 {

class Win32ProgressWindow final : public platform::ProgressWindow {
public:
    /// Starts the thread; it shows the window once `delay_ms` have passed. Null when the thread
    /// or its events cannot be had.
    static std::unique_ptr<Win32ProgressWindow> open(platform::WindowHandle over,
                                                     const char16_t* text,
                                                     std::uint32_t delay_ms) noexcept;
    /// Tells the thread to take the window down and waits until it has ended.
    ~Win32ProgressWindow() override;
    void set_text(const char16_t* text) override;

private:
    struct Shared;
    Win32ProgressWindow();
    static unsigned long __stdcall run(void* shared) noexcept;

    std::unique_ptr<Shared> shared_;
    UniqueHandle thread_;
};

}  // namespace kb::win32
