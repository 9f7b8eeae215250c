// A plugin instance on the fake viewer for the element collector and record tests. The element
// work never reaches the desktop, so the platform behind it does nothing.
#pragma once

#include <cstdint>
#include <string>

#include "core/plugin.h"
#include "fake_host.h"

namespace elements_test {

namespace platform = kb::platform;

struct IdleProcesses : platform::ProcessList {
    bool enum_processes(platform::ProcessId*, std::uint32_t, std::uint32_t* needed) override {
        if (needed) *needed = 0;
        return false;
    }
    platform::ProcessHandle open_process(std::uint32_t, bool, platform::ProcessId) override {
        return nullptr;
    }
    std::uint32_t image_file_name(platform::ProcessHandle, char*, std::uint32_t) override {
        return 0;
    }
    void close_handle(platform::ProcessHandle) override {}
    platform::ProcessId current_process_id() override { return 0; }
    bool process_running(platform::ProcessId) override { return false; }
};

struct IdleWindows : platform::WindowSystem {
    void enum_windows(platform::WindowVisitor, std::uintptr_t) override {}
    platform::ProcessId window_process_id(platform::WindowHandle) override { return 0; }
    platform::SendResult send_copy_data(platform::WindowHandle, platform::WindowHandle,
                                        const platform::CopyData&, std::uint32_t) override {
        return {};
    }
    int message_box(platform::WindowHandle, const char16_t*, const char16_t*,
                    std::uint32_t) override {
        return 0;
    }
    bool is_window(platform::WindowHandle) override { return false; }
    std::uint32_t tick_count() override { return 0; }
    std::unique_ptr<platform::ProgressWindow> open_progress(platform::WindowHandle,
                                                            const platform::ProgressView&,
                                                            const char16_t* const*, std::size_t,
                                                            std::uint32_t) override {
        return nullptr;
    }
    platform::WindowProc window_proc(platform::WindowHandle) override { return nullptr; }
    platform::WindowProc set_window_proc(platform::WindowHandle, platform::WindowProc) override {
        return nullptr;
    }
    platform::MessageResult call_window_proc(platform::WindowProc, platform::WindowHandle,
                                             std::uint32_t, std::uintptr_t,
                                             std::intptr_t) override {
        return 0;
    }
};

struct IdleModules : platform::ModuleSystem {
    std::u16string module_file_name(platform::ModuleHandle) override { return {}; }
    void pin_module(platform::ModuleHandle) override {}
    void debug_output(const char16_t*) override {}
};

/// The fake viewer, installed, a plugin instance with a plugin id, and the request code of the
/// transfer the tests collect and build for.
struct World {
    explicit World(std::int32_t request_code = kb::REQUEST_UPDATE) : request(request_code) {
        plugin.state.plugin_id = 42;
        host.install();
    }
    std::int32_t request;
    IdleProcesses processes;
    IdleWindows windows;
    IdleModules modules;
    platform::Platform desktop{processes, windows, modules};
    kb::Plugin plugin{desktop};
    kb::ElementLists lists;
    fake::FakeHost host;
};

}  // namespace elements_test
