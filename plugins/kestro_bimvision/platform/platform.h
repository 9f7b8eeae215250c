// The plugin's only way to the operating system. The Win32 side (platform/win32) calls the real
// system; the simulated side (platform/sim) is a desktop held in memory for the native tests.
// Nothing outside platform/win32 includes <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "host_records.h"

namespace kb::platform {

using ProcessId = std::uint32_t;
using WindowHandle = void*;   // HWND
using ModuleHandle = void*;   // HMODULE
using ProcessHandle = void*;  // HANDLE of a process
using MessageResult = std::intptr_t;  // LRESULT
using WindowProc = MessageResult(KB_STDCALL*)(WindowHandle, std::uint32_t, std::uintptr_t,
                                              std::intptr_t);

/// The system's WM_COPYDATA message and PROCESS_QUERY_LIMITED_INFORMATION right (all that reading
/// a process's image name needs), under names of the seam's own so that no header order matters
/// beside <windows.h>.
inline constexpr std::uint32_t copy_data_message = 0x004A;
inline constexpr std::uint32_t process_query_limited_information = 0x1000;

/// How long a send waits for a peer that still takes messages: long enough for any transfer a
/// working peer can take in. A peer the system counts as hung is given up at once.
inline constexpr std::uint32_t copy_data_timeout_ms = 5 * 60 * 1000;

/// How a send ended.
enum class SendOutcome {
    delivered,      // the receiving window procedure returned
    timed_out,      // the time-out ran out, or the receiver is hung (not taking messages)
    access_denied,  // the system refused it (ERROR_ACCESS_DENIED: the receiver runs with higher rights)
    failed,         // any other failure (the window is gone, say)
};

struct SendResult {
    SendOutcome outcome = SendOutcome::failed;
    MessageResult answer = 0;  // the receiver's result, when delivered
    std::uint32_t error = 0;   // the system's error code, when not delivered
};

/// The system's error codes that tell one failed send from another (winerror.h's values, under
/// names of the seam's own; platform/win32 checks them against the system's definitions).
inline constexpr std::uint32_t error_success = 0;         // ERROR_SUCCESS: no code set
inline constexpr std::uint32_t error_access_denied = 5;   // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t error_timeout = 1460;      // ERROR_TIMEOUT

/// What the system's answer to SendMessageTimeoutW(..., SMTO_ABORTIFHUNG, ...) means: `returned`
/// is its return value, `answer` the receiver's result it stored, `error` GetLastError() right
/// after a call made with the error code cleared. A failure with ERROR_TIMEOUT is a time-out or a
/// hung receiver; so is one with no code at all, which is how some Windows versions report a
/// receiver they count as hung. ERROR_ACCESS_DENIED is a refusal; any other code a plain failure.
inline SendResult send_result_of(MessageResult returned, MessageResult answer,
                                 std::uint32_t error) {
    SendResult result;
    if (returned != 0) {
        result.outcome = SendOutcome::delivered;
        result.answer = answer;
        return result;
    }
    result.error = error;
    if (error == error_timeout || error == error_success)
        result.outcome = SendOutcome::timed_out;
    else if (error == error_access_denied)
        result.outcome = SendOutcome::access_denied;
    else
        result.outcome = SendOutcome::failed;
    return result;
}

/// Same layout as the system's COPYDATASTRUCT.
struct CopyData {
    std::uintptr_t data;      // dwData
    std::uint32_t size;       // cbData
    const void* bytes;        // lpData
};

/// What the progress window shows at one moment: a line of text and a bar. While objects are
/// read the bar stands at `done` of `total` and "Cancelar" can be pressed; once KESTRO receives
/// (`receiving`) the bar moves, or stands full where the system's controls cannot move it, and
/// "Cancelar" is disabled: a message on its way cannot be called back.
struct ProgressView {
    const char16_t* text = nullptr;
    std::uint32_t done = 0;
    std::uint32_t total = 0;
    bool receiving = false;
};

/// A small window telling the user how a long update goes. It lives on a thread of its own with
/// its own message loop (the host's thread never pumps messages for it), has no owner (an owner
/// on another thread would join the two threads' input, and it would freeze with the viewer),
/// sits over the viewer's main window, and is never activated, not even by its button.
class ProgressWindow {
public:
    /// Takes the window down and ends its thread, waiting for it: nothing of it outlives this.
    virtual ~ProgressWindow() = default;
    /// What it shows from now on.
    virtual void show(const ProgressView& view) = 0;
    /// Whether the user has pressed "Cancelar". The window's thread only sets the flag; the
    /// host's thread reads it here.
    virtual bool stop_requested() = 0;
};

/// Called once per top-level window, in the system's order; return false to stop.
using WindowVisitor = bool (*)(WindowHandle window, std::uintptr_t context);

/// The running processes (kernel32).
class ProcessList {
public:
    virtual ~ProcessList() = default;
    /// K32EnumProcesses: fills `ids` (capacity `bytes` bytes), sets `*needed`; false on failure.
    virtual bool enum_processes(ProcessId* ids, std::uint32_t bytes, std::uint32_t* needed) = 0;
    /// OpenProcess: a handle or null.
    virtual ProcessHandle open_process(std::uint32_t access, bool inherit, ProcessId id) = 0;
    /// K32GetProcessImageFileNameA: device-form ANSI path into `buffer`; its length, 0 on failure.
    virtual std::uint32_t image_file_name(ProcessHandle process, char* buffer,
                                          std::uint32_t size) = 0;
    /// CloseHandle.
    virtual void close_handle(ProcessHandle process) = 0;
    /// False only when the process is known to have ended (or no process has that id); a process
    /// that cannot be opened (higher rights) counts as running.
    virtual bool process_running(ProcessId id) = 0;
    /// GetCurrentProcessId: the process the plugin runs in.
    virtual ProcessId current_process_id() = 0;
};

/// Windows and messages (user32).
class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    /// EnumWindows over the top-level windows.
    virtual void enum_windows(WindowVisitor visit, std::uintptr_t context) = 0;
    /// GetWindowThreadProcessId: the owning process.
    virtual ProcessId window_process_id(WindowHandle window) = 0;
    /// SendMessageTimeoutW(to, WM_COPYDATA, from, &data, SMTO_NORMAL | SMTO_ABORTIFHUNG,
    /// timeout_ms): synchronous; messages sent to this thread are handled while it waits.
    virtual SendResult send_copy_data(WindowHandle to, WindowHandle from, const CopyData& data,
                                      std::uint32_t timeout_ms) = 0;
    /// MessageBoxW; returns when the user has closed it.
    virtual int message_box(WindowHandle owner, const char16_t* text, const char16_t* caption,
                            std::uint32_t style) = 0;
    /// IsWindow: the handle still names a window.
    virtual bool is_window(WindowHandle window) = 0;
    /// GetTickCount: a clock in milliseconds that wraps around after 49.7 days.
    virtual std::uint32_t tick_count() = 0;
    /// Starts the progress window's thread; the window appears over `over` showing `view` once
    /// `delay_ms` have passed, unless it is taken down before. It is sized at the viewer's DPI
    /// for the widest of `view`'s text and the `fits` texts (the longest it will show), and
    /// grows if a later text is wider still. Null when it cannot be had (the update goes on
    /// without it).
    virtual std::unique_ptr<ProgressWindow> open_progress(WindowHandle over,
                                                          const ProgressView& view,
                                                          const char16_t* const* fits,
                                                          std::size_t fit_count,
                                                          std::uint32_t delay_ms) = 0;
    /// GetWindowLongW(window, GWL_WNDPROC).
    virtual WindowProc window_proc(WindowHandle window) = 0;
    /// SetWindowLongW(window, GWL_WNDPROC, proc); returns the previous procedure.
    virtual WindowProc set_window_proc(WindowHandle window, WindowProc proc) = 0;
    /// CallWindowProcW(previous, ...).
    virtual MessageResult call_window_proc(WindowProc previous, WindowHandle window,
                                           std::uint32_t message, std::uintptr_t wparam,
                                           std::intptr_t lparam) = 0;
};

/// The plugin's own module, and its diagnostics (kernel32).
class ModuleSystem {
public:
    virtual ~ModuleSystem() = default;
    /// GetModuleFileNameW without a length limit; empty on failure.
    virtual std::u16string module_file_name(ModuleHandle module) = 0;
    /// Keeps the module loaded until the process ends (GET_MODULE_HANDLE_EX_FLAG_PIN).
    virtual void pin_module(ModuleHandle module) = 0;
    /// OutputDebugStringW with one line of text: silent unless a debugger or a debug-output
    /// viewer listens.
    virtual void debug_output(const char16_t* line) = 0;
};

/// The three together, handed to the plugin.
struct Platform {
    ProcessList& processes;
    WindowSystem& windows;
    ModuleSystem& modules;
};

}  // namespace kb::platform
