// FreeLibrary of the real module by a stand-in viewer: a module that never subclassed goes away;
// once it has subclassed the main window it stays loaded, with or without another subclass chained
// above it, and even when the viewer frees it from inside a message that came through the plugin's
// procedure; the window keeps working.
#include <gtest/gtest.h>

#include "plugin_module.h"
#include "recording_host.h"
#include "stdcall_call.h"
#include "test_window.h"

namespace {

using u32 = std::uint32_t;
constexpr u32 plugin_id = 0x00C0FFEE;
const wchar_t module_name[] = L"kestro_bimvision_32.dll";

u32 word(const void* p) { return static_cast<u32>(reinterpret_cast<std::uintptr_t>(p)); }
WNDPROC proc_of(HWND window) {
    return reinterpret_cast<WNDPROC>(GetWindowLongW(window, GWL_WNDPROC));
}

/// Another plugin's subclass above ours: counts what it sees and chains down.
WNDPROC below_chained = nullptr;
int chained_calls = 0;
LRESULT CALLBACK chained_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    ++chained_calls;
    return CallWindowProcW(below_chained, window, message, wparam, lparam);
}

/// The viewer's own procedure, below the plugin's: on unload_message it unloads the plugin and
/// frees the module, as a viewer may from a menu command. The message came through the plugin's
/// procedure, which is still on the stack and is returned to afterwards.
constexpr UINT unload_message = WM_APP + 40;
constexpr LRESULT unloaded_answer = 0x0DD;
const kbtest::PluginModule* unloading = nullptr;
LRESULT CALLBACK unloading_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == unload_message && unloading != nullptr) {
        call_stdcall(unloading->on_plugin_unload, {});
        FreeLibrary(unloading->module);
        unloading = nullptr;
        return unloaded_answer;
    }
    return kbtest::test_window_proc(window, message, wparam, lparam);
}

class Unload : public ::testing::Test {
protected:
    void SetUp() override {
        window = kbtest::create_test_window(L"Visor de pruebas");
        ASSERT_NE(window, nullptr) << "no window (is DISPLAY set?)";
        original = proc_of(window);
    }
    void TearDown() override {
        if (window != nullptr) DestroyWindow(window);
    }
    bool window_answers() {
        const int before = kbtest::window_log().probes;
        return SendMessageW(window, kbtest::probe_message, 1, 2) == kbtest::probe_answer &&
               kbtest::window_log().probes == before + 1;
    }
    HWND window = nullptr;
    WNDPROC original = nullptr;
};

// Runs first: later cases leave the module pinned for the rest of the process.
TEST_F(Unload, AModuleThatNeverSubclassedIsUnloaded) {
    kbtest::PluginModule plugin = kbtest::load_plugin_module();
    ASSERT_TRUE(plugin.complete());
    EXPECT_TRUE(FreeLibrary(plugin.module));
    EXPECT_EQ(GetModuleHandleW(module_name), nullptr);
}

// Second: the first case that subclasses, so nothing has pinned the module before it.
TEST_F(Unload, FreeLibraryFromInsideAMessageThroughThePluginReturnsThroughItSafely) {
    kbtest::PluginModule plugin = kbtest::load_plugin_module();
    ASSERT_TRUE(plugin.complete());
    SetWindowLongW(window, GWL_WNDPROC, reinterpret_cast<LONG>(&unloading_proc));
    call_stdcall(plugin.on_plugin_load, {plugin_id, 0, word(window)});
    ASSERT_TRUE(plugin.contains(reinterpret_cast<std::uintptr_t>(proc_of(window))));
    unloading = &plugin;
    EXPECT_EQ(SendMessageW(window, unload_message, 0, 0), unloaded_answer);
    EXPECT_EQ(proc_of(window), &unloading_proc) << "the viewer's procedure is back";
    EXPECT_NE(GetModuleHandleW(module_name), nullptr) << "pinned when the subclass went in";
    EXPECT_TRUE(window_answers());
}

TEST_F(Unload, AfterUnloadAndFreeLibraryTheModuleStaysAndTheWindowHasItsOwnProcedure) {
    kbtest::PluginModule plugin = kbtest::load_plugin_module();
    ASSERT_TRUE(plugin.complete());
    call_stdcall(plugin.on_plugin_load, {plugin_id, 0, word(window)});
    ASSERT_NE(proc_of(window), original);
    call_stdcall(plugin.on_plugin_unload, {});
    EXPECT_EQ(proc_of(window), original);
    FreeLibrary(plugin.module);
    EXPECT_NE(GetModuleHandleW(module_name), nullptr) << "pinned when the subclass went in";
    EXPECT_TRUE(window_answers());
}

TEST_F(Unload, AChainedSubclassAboveThePluginKeepsWorkingAfterFreeLibrary) {
    kbtest::PluginModule plugin = kbtest::load_plugin_module();
    ASSERT_TRUE(plugin.complete());
    call_stdcall(plugin.on_plugin_load, {plugin_id, 0, word(window)});
    const WNDPROC plugins = proc_of(window);
    ASSERT_TRUE(plugin.contains(reinterpret_cast<std::uintptr_t>(plugins)));
    below_chained = reinterpret_cast<WNDPROC>(
        SetWindowLongW(window, GWL_WNDPROC, reinterpret_cast<LONG>(&chained_proc)));
    EXPECT_EQ(below_chained, plugins);

    call_stdcall(plugin.on_plugin_unload, {});
    EXPECT_EQ(proc_of(window), &chained_proc) << "the chain above is left alone";
    FreeLibrary(plugin.module);
    EXPECT_NE(GetModuleHandleW(module_name), nullptr);
    chained_calls = 0;
    EXPECT_TRUE(window_answers()) << "through the chained subclass and the plugin's procedure";
    EXPECT_EQ(chained_calls, 1);
}

}  // namespace
