// KESTRO monitor: a stand-in for the estimating program. It owns one or more top-level windows
// that take the viewer's element records by WM_COPYDATA, shows them decoded in a list and logs
// them as JSON lines; it sends element GUIDs back to the viewer (double-click on a row, or from
// the command line), and has a plain sender mode for raw messages of a given size.
//
// The files: receiver (the windows and what they do with a message), record_list (the list),
// viewer_requests (sends to the viewer), sender_mode, screenshot, user_output (help and errors);
// the portable parts (decoding, the command line, the table's texts) are in ../src.
#include "app.h"  // <windows.h> first

#include <shellapi.h>

#include "memory_watch.h"
#include "receiver.h"
#include "sender_mode.h"
#include "user_output.h"

namespace {

// Under Wine a WM_COPYDATA from another process reaches the window procedure as a copy on the
// receiving thread's stack, next to two more on the heap while it is handed over: the windows
// live on a thread of their own whose stack reserve is half the largest free range (the executable
// is large-address-aware), or --stack-mb. On Windows the system maps the copy into
// the process instead, and the stack only has to be reserved.
struct MonitorThread {
    HINSTANCE instance;
    std::size_t stack_reserve;
    int exit_code;
};

DWORD WINAPI monitor_thread(void* param) {
    auto* t = static_cast<MonitorThread*>(param);
    try {
        monitor::app.stack_reserve = t->stack_reserve;
        t->exit_code = monitor::run_monitor(t->instance);
    } catch (...) {
        t->exit_code = monitor::exit_internal;
    }
    return 0;
}

std::size_t default_stack_reserve() {
    // The stack and one heap copy share the largest free range; the other copy needs a range of
    // its own (on a 64-bit system a large-address-aware process has one more of that size).
    std::uint64_t reserve = bvs::largest_free_block() / 2;
    return static_cast<std::size_t>(reserve & ~((16ull << 20) - 1));
}

int run_monitor_on_its_thread(HINSTANCE instance) {
    std::size_t reserve = monitor::app.options.stack_mb > 0
                              ? static_cast<std::size_t>(monitor::app.options.stack_mb) << 20
                              : default_stack_reserve();
    MonitorThread t{instance, reserve, monitor::exit_internal};
    HANDLE thread = nullptr;
    // A reserve the address space cannot give (another module in the way) is halved until it fits.
    while (t.stack_reserve >= (1u << 20)) {
        thread = CreateThread(nullptr, t.stack_reserve, monitor_thread, &t, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (thread) break;
        t.stack_reserve /= 2;
    }
    if (!thread) return monitor::exit_no_ui;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return t.exit_code;
}

std::vector<std::wstring> command_line_arguments() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return {};
    std::vector<std::wstring> args(argv + 1, argv + argc);
    LocalFree(argv);
    return args;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace monitor;
    try {
        const std::vector<std::wstring> args = command_line_arguments();
        if (wants_help(args)) {
            show_output(std::string(usage) + help_text);
            return exit_ok;
        }
        ParseError error;
        if (!parse_options(args, app.options, error)) {
            show_error("KESTRO_monitor: " + describe(error) + "\n", usage);
            return exit_usage;
        }
        if (!app.options.out.empty()) {
            app.log = _wfopen(app.options.out.c_str(), L"wb");
            if (!app.log) {
                show_error("KESTRO_monitor: --out: cannot write \"" + wide_to_utf8(app.options.out) + "\"\n");
                return exit_usage;
            }
        }
        int code = app.options.close_monitors ? run_close_monitors()
                   : app.options.raw_bytes >= 0 ? run_sender()
                                                : run_monitor_on_its_thread(instance);
        if (app.log) std::fclose(app.log);
        return code;
    } catch (...) {
        return exit_internal;
    }
}
