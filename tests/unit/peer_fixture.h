// A viewer on a simulated desktop: the fake host model, a plugin instance made active, the host's
// main window with its own window procedure, and helpers to read sent element records.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/plugin.h"
#include "elements/element_record.h"
#include "fake_host.h"
#include "platform/sim/sim_desktop.h"
#include "shell/instance.h"

namespace peer_test {

using kb::platform::CopyData;
using kb::platform::MessageResult;
using kb::platform::WindowHandle;
using kb::platform::copy_data_message;

inline constexpr kb::platform::ProcessId viewer_pid = 100;
inline constexpr kb::platform::ProcessId peer_pid = 200;
inline constexpr std::uint32_t plugin_id = 42;
/// What the host's own window procedure answers to a WM_COPYDATA (and 7 to anything else).
inline constexpr MessageResult host_copydata_result = 0x4B42;

/// The messages the host's own window procedure has seen.
struct HostMessage {
    WindowHandle window;
    std::uint32_t message;
    std::uintptr_t wparam;
    std::intptr_t lparam;
};
inline std::vector<HostMessage> host_messages;

inline MessageResult KB_STDCALL host_window_proc(WindowHandle window, std::uint32_t message,
                                                 std::uintptr_t wparam, std::intptr_t lparam) {
    host_messages.push_back({window, message, wparam, lparam});
    return message == copy_data_message ? host_copydata_result : 7;
}

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        host_messages.clear();
        host.install();
        desktop.add_process(viewer_pid, "\\Device\\HarddiskVolume2\\Apps\\Viewer\\viewer.exe");
        desktop.current_process = viewer_pid;
        main_window = desktop.add_window(viewer_pid, &host_window_proc);
        plugin.state.plugin_id = plugin_id;
        plugin.state.main_window = main_window;
        kb::set_active_plugin(&plugin);
    }
    void TearDown() override { kb::set_active_plugin(nullptr); }

    /// A running KESTRO with one top-level window; returns the window.
    WindowHandle start_peer() {
        desktop.add_process(peer_pid, "\\Device\\HarddiskVolume2\\KESTRO\\kestro.exe");
        return desktop.add_window(peer_pid);
    }

    /// Sends a GUID request to the main window as the system would deliver it to the plugin.
    MessageResult request(const CopyData& data) {
        return kb::window_proc_trampoline(main_window, copy_data_message, 0x5150,
                                          reinterpret_cast<std::intptr_t>(&data));
    }

    fake::FakeHost host;
    kb::sim::SimDesktop desktop;
    kb::Plugin plugin{desktop.platform()};
    WindowHandle main_window = nullptr;
};

/// The fields of one sent record that the tests look at.
struct SentRecord {
    std::string guid, texto, propiedad;
    std::int32_t codigo = 0;
};

inline std::vector<SentRecord> records_of(const kb::sim::SentMessage& m) {
    std::vector<SentRecord> out;
    for (std::size_t at = 0; at + kb::element_record_size <= m.bytes.size();
         at += kb::element_record_size) {
        kb::ElementRecord r;
        std::memcpy(&r, m.bytes.data() + at, sizeof r);
        SentRecord s;
        s.guid = r.guid;
        s.texto = r.texto;
        s.propiedad = r.propiedad;
        s.codigo = r.codigo;
        out.push_back(s);
    }
    return out;
}

}  // namespace peer_test
