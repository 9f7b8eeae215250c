// The monitor's command line: what it is asked to do, the usage text, and why a command line was
// refused. Portable: the Windows side hands in the arguments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace monitor {

// Exit codes (also in the usage text and the README).
inline constexpr int exit_ok = 0;
inline constexpr int exit_usage = 2;
inline constexpr int exit_timeout = 3;        // --timeout ran out before --quit-after was reached
inline constexpr int exit_no_window = 4;      // sender mode: no window of the class within the time-out
inline constexpr int exit_no_ui = 5;          // the monitor's windows could not be created
inline constexpr int exit_internal = 6;
inline constexpr int exit_not_delivered = 7;  // sender mode: a send was not answered within the time-out
inline constexpr int exit_inside = 8;          // --exit-inside: left while taking the N-th message

enum class ActionKind { guid, row, raw };

/// A send to the viewer, queued until it may go out.
struct Action {
    ActionKind kind;
    std::string text;  // guid: the 8-bit GUID text; raw: the mode
    int row = 0;
    std::uintptr_t viewer = 0;  // 0: the viewer window of the latest message
};

struct Options {
    std::wstring out;
    int windows = 1;
    std::vector<Action> after_first;  // --send-guid / --send-row / --send-raw, in command-line order
    long long send_after = 1;         // the sends go out after this many messages
    long long quit_after = -1;
    long long timeout_ms = -1;
    std::wstring screenshot;
    // Sender mode.
    long long raw_bytes = -1;
    std::wstring to_class;
    long long raw_dw_data = -1;
    int raw_fill = 0;
    int raw_repeat = 1;
    bool close_monitors = false;
    // Answering from inside the handler: 0 never, 1 the first message only, 2 every message.
    int answer_inside = 0;
    long long stall_seconds = 0;  // once ready, take no messages for this long
    std::wstring stall_until;      // ... or until this file exists
    // The stack reserve of the thread that owns the windows, in MB; 0: as large as the address
    // space allows (Wine hands an incoming WM_COPYDATA over on that stack).
    long long stack_mb = 0;
    long long exit_inside = 0;    // end the process inside the handler of this message (0: never)
    long long slow_inside_ms = 0; // take this long inside the handler of every message
    std::wstring slow_until;       // ... or until this file exists
};

/// Why the command line was refused: the option and the value at fault.
struct ParseError {
    enum Kind { none, unknown, no_value, not_a_number, out_of_range, bad_value, pairing } kind = none;
    std::wstring option, value;
};

/// Whether the arguments ask for the help text (--help, -h or /? anywhere).
bool wants_help(const std::vector<std::wstring>& args);

/// Reads the arguments (without the program name) into `options`; false with `error` set when
/// the command line is refused.
bool parse_options(const std::vector<std::wstring>& args, Options& options, ParseError& error);

/// The refusal in one line, naming the argument at fault.
std::string describe(const ParseError& error);

/// Wide command-line text to 8-bit: code points up to U+00FF keep their value, others become '?'.
std::string to_latin1(const std::wstring& wide);

extern const char usage[];
extern const char help_text[];

}  // namespace monitor
