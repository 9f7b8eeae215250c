// The substitute viewer's window side: main window, ribbon strip, object list and plan view,
// the loaded plugin and the script runner. One class; its parts live in one file each:
//   viewer_app.cpp     life and death: start-up, the message loop, errors, the end
//   main_window.cpp    window classes, layout, the window procedures, WM_COPYDATA
//   ribbon.cpp         the plugin's buttons, their icons and tooltips, the status text
//   object_list.cpp    the object list and the selection it shares with the host
//   plan_view.cpp      the plan view (its drawing is worked out in src/plan_layout)
//   plugin_loader.cpp  loading the plugin, its entry points (a click with its memory figures), unloading it
//   script_steps.cpp   the scripted actions, their waits and time-outs, dialogs
//   screenshot.cpp     the window saved as an image file
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "copydata_log.h"
#include "event_log.h"
#include "host_api.h"
#include "memory_watch.h"
#include "model.h"
#include "progress_watch.h"
#include "script.h"

namespace bvs {

/// The plugin id handed to on_plugin_load and expected as the first argument of every host call.
inline constexpr std::uint32_t plugin_id = 17;

/// Exit codes.
enum ExitCode : int {
    exit_ok = 0,
    exit_usage = 2,         // bad command line or script
    exit_bad_model = 3,     // the model file cannot be read or is not a valid snapshot
    exit_bad_plugin = 4,    // the plugin cannot be loaded
    exit_script_failed = 5, // a script action could not be carried out
    exit_timeout = 6,       // wait-requests or dismiss-dialog ran out of time
    exit_internal = 7,      // an unexpected failure inside the viewer
};

class ViewerApp : public HostObserver {
public:
    ViewerApp(Options options, std::vector<Action> script, std::shared_ptr<const Model> model);
    ~ViewerApp() override;

    /// Creates the windows, loads the plugin and the model, runs the message loop; the exit code.
    int run(HINSTANCE instance);

    /// The running viewer's host (null before the viewer starts).
    static HostApi* host();
    /// How long each object's property sets take to read (--slow-read), in milliseconds.
    static DWORD slow_read_ms();
    /// Something threw inside a callback: remember it; the viewer ends with exit_internal.
    static void report_internal_error();

    EventLog& log() { return log_; }

    // HostObserver
    void selection_applied() override;
    void invalidate_view() override;
    void zoom_to(std::size_t index) override;
    void buttons_changed() override;
    bool load_button_icon(std::size_t index, const std::u16string& path) override;

    /// Writes an error to stderr and to the log.
    void error(const std::string& message);

private:
    static LRESULT CALLBACK main_proc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK ribbon_proc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK view_proc(HWND, UINT, WPARAM, LPARAM);
    LRESULT on_main(HWND, UINT, WPARAM, LPARAM);
    LRESULT on_ribbon(HWND, UINT, WPARAM, LPARAM);
    LRESULT on_view(HWND, UINT, WPARAM, LPARAM);

    // main window
    bool create_windows(HINSTANCE instance);
    void layout();
    LRESULT on_copydata(WPARAM wparam, const COPYDATASTRUCT* cds);

    // plugin
    bool load_plugin();
    void unload_plugin();
    void drag_enter(const char* source);
    void click(std::size_t button, const char* source);

    // object list
    void set_up_list();
    void install_model(std::shared_ptr<const Model> model);
    void refresh_list();
    void sync_list_from_host();
    void read_list_selection();
    LRESULT on_list_notify(const NMHDR& header, LPARAM lparam);

    // ribbon and plan view
    void update_status();
    void draw_ribbon_button(const DRAWITEMSTRUCT& item);
    void paint_view(HDC dc, const RECT& area);

    // script
    void post_next_step();
    void run_step();
    void step_done();
    void on_timer(UINT_PTR id);
    bool check_wait();
    bool try_dismiss_dialog();
    bool do_select(const Action& a);
    bool do_screenshot(const std::u16string& path);
    void finish(int code);

    static ViewerApp* running_;  // the viewer whose windows the window procedures serve

    Options options_;
    std::vector<Action> script_;
    std::size_t next_step_ = 0;
    bool step_pending_ = false;
    enum class Waiting { none, sleep, requests, file, dialog } waiting_ = Waiting::none;
    std::u16string wait_file_;
    std::uint64_t wait_target_ = 0;
    ULONGLONG wait_deadline_ = 0;
    std::u16string current_step_;
    bool finished_ = false;
    int exit_code_ = exit_ok;

    EventLog log_;
    HostApi host_{log_};
    std::shared_ptr<const Model> model_;
    std::uint64_t copydata_count_ = 0;
    MemoryWatch memory_watch_;

    HINSTANCE instance_ = nullptr;
    HWND main_ = nullptr;
    HWND ribbon_ = nullptr;
    HWND list_ = nullptr;
    HWND view_ = nullptr;
    HWND tooltip_ = nullptr;
    HWND status_ = nullptr;
    HFONT font_ = nullptr;
    struct ButtonWindow {
        HWND hwnd = nullptr;
        HICON icon = nullptr;
        std::wstring hint;
    };
    std::vector<ButtonWindow> button_windows_;
    int syncing_list_ = 0;           // >0 while the list is changed to follow the host
    bool list_sync_posted_ = false;  // a read of the list's selection is queued
    bool host_notify_posted_ = false;

    HMODULE plugin_ = nullptr;
    std::wstring plugin_name_;
    using DragEnterFn = std::int32_t(__stdcall*)(std::uintptr_t, std::uintptr_t, std::uintptr_t);
    DragEnterFn on_drag_enter_ = nullptr;

    // Last: it writes to the log from its own thread until it is destroyed.
    std::unique_ptr<ProgressWatch> progress_watch_;
};

}  // namespace bvs
