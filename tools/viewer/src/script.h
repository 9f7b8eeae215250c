// The command line of the substitute viewer and the little script it can run.
//
//   bimvision_substitute.exe --model FILE.json --plugin PATH.dll [--log FILE]
//                            [--script "action;action;..."] [--screenshot FILE.bmp]
//                            [--host-select-notifies] [--host-select-sync] [--slow-read MS]
//
// Script actions (separated by ';', run in order inside the message loop):
//   click [N]                    press ribbon button N (0-based, default 0)
//   select [GUID|#ID[,...]]      replace the selection; an empty list clears it
//   drag                         a drag enters the window (the plugin's on_drag_enter(0,0,0))
//   wait-requests N [TIMEOUT_MS] wait until N WM_COPYDATA messages reached the main window
//   sleep MS                     let MS milliseconds of messages pass
//   screenshot FILE              save the window as .bmp or .png
//   copydata TEXT                send TEXT (8-bit, NUL-terminated) to the main window by WM_COPYDATA
//   dismiss-dialog [TIMEOUT_MS]  wait for a dialog of this process, log its texts and press OK
//   watch-progress TIMEOUT_MS [cancel]  from a thread of its own, log what the plugin's progress
//                                window shows (and how its text fits); with "cancel", press
//                                "Cancelar" with the mouse while the objects are read
//   load [FILE]                  load FILE (or the same model again) and call the model-load handler
//   quit                         log the final state and leave with exit code 0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bvs {

class Model;

struct Options {
    std::u16string model;
    std::u16string plugin;
    std::u16string log;
    std::u16string script;
    std::u16string screenshot;
    bool host_select_notifies = false;
    /// Selection changes made through `select` call the selection-change handler at once, from
    /// inside the host call, as some viewers do.
    bool host_select_sync = false;
    /// When non-zero: before the plugin loads, the viewer reserves its address space until no
    /// free range is larger than this many MB (a loaded viewer's scattered address space in small).
    std::uint32_t address_space_left_mb = 0;
    /// Each object's property sets take this many milliseconds to read (a viewer with a big
    /// model, for a read long enough to watch).
    std::uint32_t slow_read_ms = 0;
};

enum class ActionKind {
    click,
    select,
    drag,
    wait_requests,
    wait_file,
    sleep,
    screenshot,
    copydata,
    dismiss_dialog,
    watch_progress,
    load,
    quit,
};

struct Action {
    ActionKind kind = ActionKind::quit;
    std::uint32_t number = 0;      // button index, request count, milliseconds, or 1 to cancel
    std::uint32_t timeout_ms = 0;  // wait-requests, wait-file, dismiss-dialog, watch-progress
    std::u16string text;           // screenshot / load / waited-for file, copydata text
    std::vector<std::u16string> items;  // select: GUIDs, or "#" followed by an object id
    std::u16string source;              // the action as written, for the log
};

inline constexpr std::uint32_t default_wait_timeout_ms = 30000;
inline constexpr std::uint32_t default_dialog_timeout_ms = 10000;

template <class T>
struct Parsed {
    T value{};
    std::string error;  // empty on success
    bool ok() const { return error.empty(); }
};

/// The arguments after the program name.
Parsed<Options> parse_command_line(const std::vector<std::u16string>& args);

/// The actions of a script; an unknown action or a bad number refuses the whole script.
Parsed<std::vector<Action>> parse_script(std::u16string_view script);

/// The object a `select` item names: "#" and decimal digits for an object id, anything else for
/// a GUID. Model::npos when the model has no such object (or the digits are not all digits).
std::size_t find_select_item(const Model& model, std::u16string_view item);

/// True when `path` ends in ".png" in any letter case.
bool is_png_path(std::u16string_view path);

}  // namespace bvs
