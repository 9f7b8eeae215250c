// A desktop held in memory for the native tests: processes with image paths, top-level windows
// with their owners and window procedures, and a record of everything the plugin asked of the
// system (opens and closes, sends, message boxes, pinned modules).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kb::sim {

using platform::MessageResult;
using platform::ModuleHandle;
using platform::ProcessHandle;
using platform::ProcessId;
using platform::WindowHandle;
using platform::WindowProc;

struct SimProcess {
    ProcessId id = 0;
    std::string image_path;  // device form, 8-bit, as the system hands it out
    bool openable = true;    // false: the open with the rights asked for is refused
    bool readable = true;    // false: the image-name query fails
    bool running = true;     // false: it has ended (its id may still be listed)
};

struct SimWindow {
    WindowHandle handle = nullptr;
    ProcessId owner = 0;
    WindowProc proc = nullptr;  // null: the window has no procedure the test cares about
};

struct OpenRequest {
    std::uint32_t access = 0;
    bool inherit = false;
    ProcessId id = 0;
};

struct SentMessage {
    WindowHandle to = nullptr;
    WindowHandle from = nullptr;
    std::uintptr_t data = 0;  // dwData
    std::uint32_t size = 0;   // cbData
    bool had_bytes = false;   // lpData was not null
    std::vector<unsigned char> bytes;  // a copy of the cbData bytes
};

struct MessageBoxShown {
    WindowHandle owner = nullptr;
    std::u16string text;
    std::u16string caption;
    std::uint32_t style = 0;
    std::size_t progress_open = 0;  // progress windows still up when it was shown
};

/// A progress window the plugin opened: what it showed, and when (on the desktop's clock).
struct ProgressShown {
    WindowHandle over = nullptr;
    std::uint32_t opened_at = 0;
    std::uint32_t delay_ms = 0;
    std::vector<std::u16string> texts;  // the first text and every later one, in order
    std::vector<bool> receiving;        // for each text: whether KESTRO was receiving
    std::vector<std::uint32_t> bar;     // for each text: the bar's `done` (of `total` read)
    std::vector<std::u16string> fits;   // the longest texts it was sized for
    std::size_t stop_checks = 0;        // how often the plugin asked whether to stop
    bool closed = false;                // taken down, its thread ended
    std::uint32_t closed_at = 0;
    /// Whether it appeared on screen: its delay ran out before it was taken down.
    bool appeared() const { return closed ? closed_at - opened_at >= delay_ms : false; }
};

struct ForwardedMessage {
    WindowProc previous = nullptr;
    WindowHandle window = nullptr;
    std::uint32_t message = 0;
    std::uintptr_t wparam = 0;
    std::intptr_t lparam = 0;
};

class SimDesktop final : public platform::ProcessList,
                         public platform::WindowSystem,
                         public platform::ModuleSystem {
public:
    SimDesktop() = default;
    SimDesktop(const SimDesktop&) = delete;
    SimDesktop& operator=(const SimDesktop&) = delete;

    // ---- what the desktop holds (tests set these) ----
    std::vector<SimProcess> processes;  // in the system's order
    bool process_list_fails = false;
    ProcessId current_process = 0;      // the process the plugin runs in
    std::vector<SimWindow> windows;     // top-level windows, in the system's order
    std::map<ModuleHandle, std::u16string> module_names;
    /// Runs inside send_copy_data, after the copy is recorded and before the receiving window's
    /// procedure: lets a test act while the sender waits (a GUID request coming back, say).
    std::function<void(const SentMessage&)> during_send;
    /// How the next sends end: anything but delivered leaves them out of `sent` and never
    /// reaches the receiving window; `send_error` is the system's error code then.
    platform::SendOutcome send_outcome = platform::SendOutcome::delivered;
    std::uint32_t send_error = 0;
    /// When set, the next sends fail as SendMessageTimeoutW does: it returns 0 and
    /// GetLastError() gives this code; how the send ended is then what the Win32 side makes of
    /// that (platform::send_result_of), whatever `send_outcome` says.
    std::optional<std::uint32_t> send_fails_with;
    /// The receiving process dies while it takes a send (its windows go with it): the send then
    /// ends with `send_outcome` and `send_error` as a real system reports it.
    ProcessId dies_during_send = 0;
    /// The clock tick_count reads; every reading first moves it on by `clock_step_ms` (a host
    /// whose every step takes that long), and a test may move it on itself.
    std::uint32_t clock_ms = 0;
    std::uint32_t clock_step_ms = 0;
    /// The user presses "Cancelar" in a progress window once the plugin has asked it this many
    /// times whether to stop (and says stop from then on); never when it stays at its default.
    std::size_t cancel_after_checks = static_cast<std::size_t>(-1);

    // ---- what the plugin did (tests read these) ----
    std::vector<std::uint32_t> enum_buffer_sizes;  // the byte size handed to each process scan
    std::vector<OpenRequest> open_requests;
    int handles_closed = 0;
    int bad_closes = 0;  // closes of handles that were not open
    int window_enumerations = 0;
    std::vector<SentMessage> sent;
    std::vector<std::uint32_t> send_timeouts;  // the time-out of every send tried
    std::vector<std::u16string> debug_lines;   // every line handed to debug_output
    std::vector<MessageBoxShown> message_boxes;
    std::vector<ForwardedMessage> forwarded;
    std::vector<ModuleHandle> pinned;
    std::vector<ProgressShown> progress;

    /// Process handles that were opened and not closed yet.
    std::size_t open_handles() const { return open_.size(); }

    SimProcess& add_process(ProcessId id, std::string image_path);
    /// A top-level window at the end of the system's order; returns its handle.
    WindowHandle add_window(ProcessId owner, WindowProc proc = nullptr);
    SimWindow* find_window(WindowHandle window);

    /// The system delivering a message to `window`: its current procedure is called.
    MessageResult deliver(WindowHandle window, std::uint32_t message, std::uintptr_t wparam,
                          std::intptr_t lparam);
    /// Another process sending WM_COPYDATA to `window` with this payload.
    MessageResult deliver_copy_data(WindowHandle window, WindowHandle from,
                                    const platform::CopyData& data);

    platform::Platform& platform() { return platform_; }

    // ---- ProcessList ----
    bool enum_processes(ProcessId* ids, std::uint32_t bytes, std::uint32_t* needed) override;
    ProcessHandle open_process(std::uint32_t access, bool inherit, ProcessId id) override;
    std::uint32_t image_file_name(ProcessHandle process, char* buffer,
                                  std::uint32_t size) override;
    void close_handle(ProcessHandle process) override;
    ProcessId current_process_id() override;
    bool process_running(ProcessId id) override;

    // ---- WindowSystem ----
    void enum_windows(platform::WindowVisitor visit, std::uintptr_t context) override;
    ProcessId window_process_id(WindowHandle window) override;
    platform::SendResult send_copy_data(WindowHandle to, WindowHandle from,
                                        const platform::CopyData& data,
                                        std::uint32_t timeout_ms) override;
    int message_box(WindowHandle owner, const char16_t* text, const char16_t* caption,
                    std::uint32_t style) override;
    bool is_window(WindowHandle window) override;
    std::uint32_t tick_count() override;
    std::unique_ptr<platform::ProgressWindow> open_progress(WindowHandle over,
                                                            const platform::ProgressView& view,
                                                            const char16_t* const* fits,
                                                            std::size_t fit_count,
                                                            std::uint32_t delay_ms) override;
    WindowProc window_proc(WindowHandle window) override;
    WindowProc set_window_proc(WindowHandle window, WindowProc proc) override;
    MessageResult call_window_proc(WindowProc previous, WindowHandle window,
                                   std::uint32_t message, std::uintptr_t wparam,
                                   std::intptr_t lparam) override;

    // ---- ModuleSystem ----
    std::u16string module_file_name(ModuleHandle module) override;
    void pin_module(ModuleHandle module) override;
    void debug_output(const char16_t* line) override;

private:
    const SimProcess* find_process(ProcessId id) const;
    /// How a send that does not arrive ends: `send_fails_with`, else `send_outcome`.
    platform::SendResult failure() const;

    std::map<ProcessHandle, ProcessId> open_;
    std::uintptr_t next_handle_ = 0x1000;
    std::uintptr_t next_window_ = 0x20000;
    platform::Platform platform_{*this, *this, *this};
};

}  // namespace kb::sim
