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

#include "receiver.h"
#include "sender_mode.h"
#include "user_output.h"

namespace {

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
                                                : run_monitor(instance);
        if (app.log) std::fclose(app.log);
        return code;
    } catch (...) {
        return exit_internal;
    }
}
