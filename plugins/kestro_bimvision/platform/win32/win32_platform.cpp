#include "win32_platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <psapi.h>

#include "progress_window.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kb::win32 {

// The plugin hands the system its own copy of COPYDATASTRUCT; both must agree to the byte.
static_assert(sizeof(platform::CopyData) == sizeof(COPYDATASTRUCT), "COPYDATASTRUCT size");
static_assert(offsetof(platform::CopyData, data) == offsetof(COPYDATASTRUCT, dwData),
              "dwData offset");
static_assert(offsetof(platform::CopyData, size) == offsetof(COPYDATASTRUCT, cbData),
              "cbData offset");
static_assert(offsetof(platform::CopyData, bytes) == offsetof(COPYDATASTRUCT, lpData),
              "lpData offset");
static_assert(platform::copy_data_message == WM_COPYDATA, "WM_COPYDATA");
static_assert(platform::process_query_limited_information == PROCESS_QUERY_LIMITED_INFORMATION,
              "PROCESS_QUERY_LIMITED_INFORMATION");
static_assert(platform::error_success == ERROR_SUCCESS, "ERROR_SUCCESS");
static_assert(platform::error_access_denied == ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED");
static_assert(platform::error_timeout == ERROR_TIMEOUT, "ERROR_TIMEOUT");
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide text is UTF-16");
static_assert(sizeof(platform::ProcessId) == sizeof(DWORD), "process ids are DWORDs");

namespace {

HWND to_hwnd(platform::WindowHandle window) { return static_cast<HWND>(window); }

struct EnumContext {
    platform::WindowVisitor visit;
    std::uintptr_t context;
};

// Runs inside EnumWindows, between system frames: nothing may unwind out of it.
BOOL CALLBACK visit_window(HWND window, LPARAM lparam) noexcept {
    auto* ctx = reinterpret_cast<EnumContext*>(lparam);
    try {
        return ctx->visit(window, ctx->context) ? TRUE : FALSE;
    } catch (...) {
        return FALSE;
    }
}

}  // namespace

// ---- processes ----

bool Win32ProcessList::enum_processes(platform::ProcessId* ids, std::uint32_t bytes,
                                      std::uint32_t* needed) {
    DWORD got = 0;
    BOOL ok = K32EnumProcesses(reinterpret_cast<DWORD*>(ids), bytes, &got);
    if (needed != nullptr) *needed = got;
    return ok != FALSE;
}

platform::ProcessHandle Win32ProcessList::open_process(std::uint32_t access, bool inherit,
                                                       platform::ProcessId id) {
    return OpenProcess(access, inherit ? TRUE : FALSE, id);
}

std::uint32_t Win32ProcessList::image_file_name(platform::ProcessHandle process, char* buffer,
                                                std::uint32_t size) {
    return K32GetProcessImageFileNameA(static_cast<HANDLE>(process), buffer, size);
}

void Win32ProcessList::close_handle(platform::ProcessHandle process) {
    CloseHandle(static_cast<HANDLE>(process));
}

platform::ProcessId Win32ProcessList::current_process_id() { return GetCurrentProcessId(); }

bool Win32ProcessList::process_running(platform::ProcessId id) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
    if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;  // no process with that id
    return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

// ---- windows ----

void Win32WindowSystem::enum_windows(platform::WindowVisitor visit, std::uintptr_t context) {
    if (visit == nullptr) return;
    EnumContext ctx{visit, context};
    EnumWindows(visit_window, reinterpret_cast<LPARAM>(&ctx));
}

platform::ProcessId Win32WindowSystem::window_process_id(platform::WindowHandle window) {
    DWORD process = 0;
    GetWindowThreadProcessId(to_hwnd(window), &process);
    return process;
}

platform::SendResult Win32WindowSystem::send_copy_data(platform::WindowHandle to,
                                                       platform::WindowHandle from,
                                                       const platform::CopyData& data,
                                                       std::uint32_t timeout_ms) {
    COPYDATASTRUCT copy{};
    copy.dwData = data.data;
    copy.cbData = data.size;
    copy.lpData = const_cast<void*>(data.bytes);
    DWORD_PTR answer = 0;
    SetLastError(ERROR_SUCCESS);
    // SMTO_NORMAL: messages sent to this thread are still handled while it waits.
    // SMTO_ABORTIFHUNG: a receiver the system counts as hung is not waited for at all.
    const LRESULT ok = SendMessageTimeoutW(to_hwnd(to), WM_COPYDATA, reinterpret_cast<WPARAM>(from),
                                           reinterpret_cast<LPARAM>(&copy),
                                           SMTO_NORMAL | SMTO_ABORTIFHUNG, timeout_ms, &answer);
    const DWORD error = ok != 0 ? ERROR_SUCCESS : GetLastError();
    return platform::send_result_of(ok, static_cast<platform::MessageResult>(answer), error);
}

int Win32WindowSystem::message_box(platform::WindowHandle owner, const char16_t* text,
                                   const char16_t* caption, std::uint32_t style) {
    return MessageBoxW(to_hwnd(owner), reinterpret_cast<LPCWSTR>(text),
                       reinterpret_cast<LPCWSTR>(caption), style);
}

bool Win32WindowSystem::is_window(platform::WindowHandle window) {
    return IsWindow(to_hwnd(window)) != FALSE;
}

std::uint32_t Win32WindowSystem::tick_count() { return GetTickCount(); }

std::unique_ptr<platform::ProgressWindow> Win32WindowSystem::open_progress(
    platform::WindowHandle over, const platform::ProgressView& view, const char16_t* const* fits,
    std::size_t fit_count, std::uint32_t delay_ms) {
    return Win32ProgressWindow::open(dpi_, over, view, fits, fit_count, delay_ms);
}

platform::WindowProc Win32WindowSystem::window_proc(platform::WindowHandle window) {
    LONG_PTR proc = GetWindowLongW(to_hwnd(window), GWL_WNDPROC);
    return reinterpret_cast<platform::WindowProc>(proc);
}

platform::WindowProc Win32WindowSystem::set_window_proc(platform::WindowHandle window,
                                                        platform::WindowProc proc) {
    LONG previous = SetWindowLongW(to_hwnd(window), GWL_WNDPROC,
                                   static_cast<LONG>(reinterpret_cast<LONG_PTR>(proc)));
    return reinterpret_cast<platform::WindowProc>(static_cast<LONG_PTR>(previous));
}

platform::MessageResult Win32WindowSystem::call_window_proc(platform::WindowProc previous,
                                                            platform::WindowHandle window,
                                                            std::uint32_t message,
                                                            std::uintptr_t wparam,
                                                            std::intptr_t lparam) {
    // The previous procedure may be a handle standing for one (a window of the other character
    // set); CallWindowProcW resolves it, a direct call would not.
    return CallWindowProcW(reinterpret_cast<WNDPROC>(previous), to_hwnd(window), message,
                           static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam));
}

// ---- the module ----

std::u16string Win32ModuleSystem::module_file_name(platform::ModuleHandle module) {
    // Longer than any name the system hands out (32767 units); stops a failing query growing.
    constexpr DWORD largest = 1u << 16;
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buf.size());
        const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(module), buf.data(), size);
        if (length == 0) return {};
        // A name that fits leaves room for its terminating null; a cut one fills the buffer.
        if (length < size) return std::u16string(reinterpret_cast<const char16_t*>(buf.data()), length);
        if (size >= largest) return {};
        buf.assign(static_cast<std::size_t>(size) * 2, L'\0');
    }
}

void Win32ModuleSystem::pin_module(platform::ModuleHandle module) {
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       static_cast<LPCWSTR>(module), &pinned);
}

void Win32ModuleSystem::debug_output(const char16_t* line) {
    if (line == nullptr) return;
    // Debug-output viewers show each call as it comes; the newline keeps lines apart in a
    // debugger's console and in Wine's trace.
    std::wstring text(reinterpret_cast<const wchar_t*>(line));
    text += L'\n';
    OutputDebugStringW(text.c_str());
}

// ---- handles ----

UniqueHandle::operator bool() const {
    return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE;
}

void UniqueHandle::reset(void* handle) {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = handle;
}

}  // namespace kb::win32
