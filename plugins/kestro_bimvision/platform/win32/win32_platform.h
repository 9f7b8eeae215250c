// The Win32 side of the platform seam: each operation is one call of the real system.
// Only this folder includes <windows.h>; the rest of the plugin sees the interfaces of platform.h.
#pragma once

#include <string>

#include "dpi.h"
#include "platform/platform.h"

namespace kb::win32 {

class Win32ProcessList final : public platform::ProcessList {
public:
    bool enum_processes(platform::ProcessId* ids, std::uint32_t bytes,
                        std::uint32_t* needed) override;
    platform::ProcessHandle open_process(std::uint32_t access, bool inherit,
                                         platform::ProcessId id) override;
    std::uint32_t image_file_name(platform::ProcessHandle process, char* buffer,
                                  std::uint32_t size) override;
    void close_handle(platform::ProcessHandle process) override;
    platform::ProcessId current_process_id() override;
    /// Opens the process for SYNCHRONIZE and asks whether it has ended; a process that cannot be
    /// opened for any reason but a bad id counts as running.
    bool process_running(platform::ProcessId id) override;
};

class Win32WindowSystem final : public platform::WindowSystem {
public:
    /// The visitor runs inside the system's enumeration; an exception it throws is caught at the
    /// callback's edge and ends the enumeration.
    void enum_windows(platform::WindowVisitor visit, std::uintptr_t context) override;
    platform::ProcessId window_process_id(platform::WindowHandle window) override;
    /// SendMessageTimeoutW with the error code cleared first; platform::send_result_of reads
    /// its answer (hung or timed out on ERROR_TIMEOUT or no code, refused on ERROR_ACCESS_DENIED).
    platform::SendResult send_copy_data(platform::WindowHandle to, platform::WindowHandle from,
                                        const platform::CopyData& data,
                                        std::uint32_t timeout_ms) override;
    int message_box(platform::WindowHandle owner, const char16_t* text, const char16_t* caption,
                    std::uint32_t style) override;
    bool is_window(platform::WindowHandle window) override;
    std::uint32_t tick_count() override;
    /// A Win32ProgressWindow (progress_window.h), at the DPI of `over`.
    std::unique_ptr<platform::ProgressWindow> open_progress(platform::WindowHandle over,
                                                            const platform::ProgressView& view,
                                                            const char16_t* const* fits,
                                                            std::size_t fit_count,
                                                            std::uint32_t delay_ms) override;
    platform::WindowProc window_proc(platform::WindowHandle window) override;
    platform::WindowProc set_window_proc(platform::WindowHandle window,
                                         platform::WindowProc proc) override;
    platform::MessageResult call_window_proc(platform::WindowProc previous,
                                             platform::WindowHandle window, std::uint32_t message,
                                             std::uintptr_t wparam,
                                             std::intptr_t lparam) override;

private:
    // Looked up once, when the module starts.
    DpiCalls dpi_ = DpiCalls::find();
};

class Win32ModuleSystem final : public platform::ModuleSystem {
public:
    /// The full file name however long it is: the buffer grows until the name fits.
    std::u16string module_file_name(platform::ModuleHandle module) override;
    /// Pins by address, so any handle or address inside the module will do.
    void pin_module(platform::ModuleHandle module) override;
    void debug_output(const char16_t* line) override;
};

/// The three together; one of these lives in the module for the whole process.
struct Win32Platform {
    Win32ProcessList processes;
    Win32WindowSystem windows;
    Win32ModuleSystem modules;
    platform::Platform platform{processes, windows, modules};
};

/// Owns a kernel handle and closes it once; null and INVALID_HANDLE_VALUE own nothing.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(void* handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    void* get() const { return handle_; }
    explicit operator bool() const;
    void* release() {
        void* h = handle_;
        handle_ = nullptr;
        return h;
    }
    void reset(void* handle = nullptr);

private:
    void* handle_ = nullptr;
};

}  // namespace kb::win32
