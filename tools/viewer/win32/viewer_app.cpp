// The viewer's life: start-up in order (windows, plugin, model, script), the message loop, errors
// and the end. The other parts of ViewerApp are listed in viewer_app.h.
#include "viewer_app.h"

#include "file_io.h"
#include "window_common.h"

namespace bvs {

ViewerApp* ViewerApp::running_ = nullptr;

ViewerApp::ViewerApp(Options options, std::vector<Action> script,
                     std::shared_ptr<const Model> model)
    : options_(std::move(options)), script_(std::move(script)), model_(std::move(model)) {
    running_ = this;
    host_.set_observer(this);
}

ViewerApp::~ViewerApp() {
    host_.set_observer(nullptr);
    for (auto& b : button_windows_)
        if (b.icon) DestroyIcon(b.icon);
    if (font_) DeleteObject(font_);
    running_ = nullptr;
}

HostApi* ViewerApp::host() { return running_ ? &running_->host_ : nullptr; }

DWORD ViewerApp::slow_read_ms() { return running_ ? running_->options_.slow_read_ms : 0; }

void ViewerApp::report_internal_error() {
    if (running_ == nullptr) return;
    running_->error("internal error inside a host function");
    running_->finish(exit_internal);
}

void ViewerApp::error(const std::string& message) {
    write_stderr("bimvision_substitute: " + message + "\n");
    log_.write({{"event", "error"}, {"message", message}});
}

int ViewerApp::run(HINSTANCE instance) {
    instance_ = instance;
    log_.write({{"event", "start"},
                {"model", utf8(options_.model)},
                {"plugin", utf8(options_.plugin)},
                {"script", utf8(options_.script)},
                {"pid", GetCurrentProcessId()}});
    if (!create_windows(instance)) {
        error("cannot create the main window");
        return exit_internal;
    }
    log_.write({{"event", "window"}, {"main", handle_value(main_)}, {"list", handle_value(list_)}});

    if (options_.address_space_left_mb != 0) {
        const std::uint64_t left = hold_address_space(std::uint64_t{options_.address_space_left_mb} << 20);
        log_.write({{"event", "address_space_held"}, {"largest_free", left}});
    }
    if (!options_.plugin.empty() && !load_plugin()) {
        DestroyWindow(main_);
        return exit_bad_plugin;
    }
    install_model(model_);
    post_next_step();

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    unload_plugin();
    DestroyWindow(main_);
    log_.write({{"event", "exit"}, {"code", exit_code_}});
    return exit_code_;
}

void ViewerApp::finish(int code) {
    if (finished_) return;
    if (code == exit_ok && !options_.screenshot.empty() && !do_screenshot(options_.screenshot))
        code = exit_script_failed;
    finished_ = true;
    exit_code_ = code;
    KillTimer(main_, timer_poll);
    KillTimer(main_, timer_sleep);
    host_.log_final_state();
    PostQuitMessage(code);
}

}  // namespace bvs
