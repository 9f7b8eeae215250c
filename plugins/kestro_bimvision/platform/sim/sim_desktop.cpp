#include "platform/sim/sim_desktop.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace kb::sim {

namespace {

// Records what the plugin shows in the progress window it opened, by index: the list of
// windows may grow while this one is open.
class SimProgressWindow final : public platform::ProgressWindow {
public:
    SimProgressWindow(SimDesktop& desktop, std::size_t index) : desktop_(desktop), index_(index) {}
    ~SimProgressWindow() override {
        ProgressShown& p = desktop_.progress[index_];
        p.closed = true;
        p.closed_at = desktop_.clock_ms;
    }
    void show(const platform::ProgressView& view) override {
        record(desktop_.progress[index_], view);
    }
    bool stop_requested() override {
        ProgressShown& p = desktop_.progress[index_];
        return ++p.stop_checks > desktop_.cancel_after_checks;
    }
    static void record(ProgressShown& p, const platform::ProgressView& view) {
        p.texts.emplace_back(view.text != nullptr ? view.text : u"");
        p.receiving.push_back(view.receiving);
        p.bar.push_back(view.done);
    }

private:
    SimDesktop& desktop_;
    std::size_t index_;
};

}  // namespace

SimProcess& SimDesktop::add_process(ProcessId id, std::string image_path) {
    processes.push_back({id, std::move(image_path)});
    return processes.back();
}

WindowHandle SimDesktop::add_window(ProcessId owner, WindowProc proc) {
    auto* handle = reinterpret_cast<WindowHandle>(next_window_);
    next_window_ += 0x10;
    windows.push_back({handle, owner, proc});
    return handle;
}

SimWindow* SimDesktop::find_window(WindowHandle window) {
    for (SimWindow& w : windows)
        if (w.handle == window) return &w;
    return nullptr;
}

MessageResult SimDesktop::deliver(WindowHandle window, std::uint32_t message,
                                  std::uintptr_t wparam, std::intptr_t lparam) {
    SimWindow* w = find_window(window);
    if (w == nullptr || w->proc == nullptr) return 0;
    return w->proc(window, message, wparam, lparam);
}

MessageResult SimDesktop::deliver_copy_data(WindowHandle window, WindowHandle from,
                                            const platform::CopyData& data) {
    return deliver(window, platform::copy_data_message, reinterpret_cast<std::uintptr_t>(from),
                   reinterpret_cast<std::intptr_t>(&data));
}

const SimProcess* SimDesktop::find_process(ProcessId id) const {
    for (const SimProcess& p : processes)
        if (p.id == id) return &p;
    return nullptr;
}

bool SimDesktop::enum_processes(ProcessId* ids, std::uint32_t bytes, std::uint32_t* needed) {
    enum_buffer_sizes.push_back(bytes);
    if (process_list_fails) return false;
    std::size_t n = std::min<std::size_t>(processes.size(), bytes / sizeof(ProcessId));
    for (std::size_t i = 0; i < n; ++i) ids[i] = processes[i].id;
    *needed = static_cast<std::uint32_t>(n * sizeof(ProcessId));
    return true;
}

ProcessHandle SimDesktop::open_process(std::uint32_t access, bool inherit, ProcessId id) {
    open_requests.push_back({access, inherit, id});
    const SimProcess* p = find_process(id);
    if (p == nullptr || !p->openable) return nullptr;
    auto* handle = reinterpret_cast<ProcessHandle>(next_handle_);
    next_handle_ += 4;
    open_.emplace(handle, id);
    return handle;
}

std::uint32_t SimDesktop::image_file_name(ProcessHandle process, char* buffer,
                                          std::uint32_t size) {
    auto it = open_.find(process);
    if (it == open_.end()) return 0;
    const SimProcess* p = find_process(it->second);
    if (p == nullptr || !p->readable) return 0;
    // Like the system: a name that does not fit with its terminator is not delivered at all.
    if (size == 0 || p->image_path.size() + 1 > size) return 0;
    std::memcpy(buffer, p->image_path.c_str(), p->image_path.size() + 1);
    return static_cast<std::uint32_t>(p->image_path.size());
}

void SimDesktop::close_handle(ProcessHandle process) {
    if (open_.erase(process) == 1)
        ++handles_closed;
    else
        ++bad_closes;
}

void SimDesktop::enum_windows(platform::WindowVisitor visit, std::uintptr_t context) {
    ++window_enumerations;
    std::vector<WindowHandle> order;
    for (const SimWindow& w : windows) order.push_back(w.handle);
    for (WindowHandle h : order)
        if (!visit(h, context)) break;
}

ProcessId SimDesktop::window_process_id(WindowHandle window) {
    SimWindow* w = find_window(window);
    return w == nullptr ? 0 : w->owner;
}

ProcessId SimDesktop::current_process_id() { return current_process; }

bool SimDesktop::process_running(ProcessId id) {
    const SimProcess* p = find_process(id);
    return p != nullptr && p->running;
}

bool SimDesktop::is_window(WindowHandle window) { return find_window(window) != nullptr; }

std::uint32_t SimDesktop::tick_count() {
    clock_ms += clock_step_ms;
    return clock_ms;
}

std::unique_ptr<platform::ProgressWindow> SimDesktop::open_progress(
    WindowHandle over, const platform::ProgressView& view, const char16_t* const* fits,
    std::size_t fit_count, std::uint32_t delay_ms) {
    ProgressShown p;
    p.over = over;
    p.opened_at = clock_ms;
    p.delay_ms = delay_ms;
    SimProgressWindow::record(p, view);
    for (std::size_t i = 0; i < fit_count; ++i) p.fits.emplace_back(fits[i]);
    progress.push_back(std::move(p));
    return std::make_unique<SimProgressWindow>(*this, progress.size() - 1);
}

platform::SendResult SimDesktop::send_copy_data(WindowHandle to, WindowHandle from,
                                                const platform::CopyData& data,
                                                std::uint32_t timeout_ms) {
    send_timeouts.push_back(timeout_ms);
    if (dies_during_send != 0) {
        // The receiver ends while it takes the message: its windows go, its id stays listed.
        for (SimProcess& p : processes)
            if (p.id == dies_during_send) p.running = false;
        const ProcessId dead = dies_during_send;
        windows.erase(std::remove_if(windows.begin(), windows.end(),
                                     [dead](const SimWindow& w) { return w.owner == dead; }),
                      windows.end());
        dies_during_send = 0;
        return failure();
    }
    if (send_fails_with || send_outcome != platform::SendOutcome::delivered) return failure();
    SentMessage m;
    m.to = to;
    m.from = from;
    m.data = data.data;
    m.size = data.size;
    m.had_bytes = data.bytes != nullptr;
    if (data.bytes != nullptr && data.size > 0) {
        const auto* b = static_cast<const unsigned char*>(data.bytes);
        m.bytes.assign(b, b + data.size);
    }
    sent.push_back(std::move(m));
    if (during_send) {
        const SentMessage copy = sent.back();  // a send from inside may grow `sent`
        during_send(copy);
    }
    const MessageResult answer = deliver(to, platform::copy_data_message,
                                         reinterpret_cast<std::uintptr_t>(from),
                                         reinterpret_cast<std::intptr_t>(&data));
    return {platform::SendOutcome::delivered, answer, 0};
}

platform::SendResult SimDesktop::failure() const {
    if (send_fails_with) return platform::send_result_of(0, 0, *send_fails_with);
    return {send_outcome, 0, send_error};
}

int SimDesktop::message_box(WindowHandle owner, const char16_t* text, const char16_t* caption,
                            std::uint32_t style) {
    const auto open = static_cast<std::size_t>(std::count_if(
        progress.begin(), progress.end(), [](const ProgressShown& p) { return !p.closed; }));
    message_boxes.push_back({owner, text ? text : u"", caption ? caption : u"", style, open});
    return 1;  // IDOK
}

WindowProc SimDesktop::window_proc(WindowHandle window) {
    SimWindow* w = find_window(window);
    return w == nullptr ? nullptr : w->proc;
}

WindowProc SimDesktop::set_window_proc(WindowHandle window, WindowProc proc) {
    SimWindow* w = find_window(window);
    if (w == nullptr) return nullptr;
    WindowProc previous = w->proc;
    w->proc = proc;
    return previous;
}

MessageResult SimDesktop::call_window_proc(WindowProc previous, WindowHandle window,
                                           std::uint32_t message, std::uintptr_t wparam,
                                           std::intptr_t lparam) {
    forwarded.push_back({previous, window, message, wparam, lparam});
    if (previous == nullptr) return 0;
    return previous(window, message, wparam, lparam);
}

std::u16string SimDesktop::module_file_name(ModuleHandle module) {
    auto it = module_names.find(module);
    return it == module_names.end() ? std::u16string{} : it->second;
}

void SimDesktop::pin_module(ModuleHandle module) { pinned.push_back(module); }

void SimDesktop::debug_output(const char16_t* line) {
    debug_lines.emplace_back(line != nullptr ? line : u"");
}

}  // namespace kb::sim
